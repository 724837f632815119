#include "compose/RunRules.h"

#include <sys/stat.h>
#include <filesystem>
#include <unordered_map>

#include "compose/BatchRun.h"
#include "compose/StoredChoice.h"
#include "core/FileUtils.h"

namespace vmk {

TExisting ExistingForStored(int32_t stored) {
    return ChoiceForStored(kExistingNames, stored, &TRuleName<TExisting>::Value, kExistingNames.front().Value);
}

TOnFailure OnFailureForStored(int32_t stored) {
    return ChoiceForStored(kOnFailureNames, stored, &TRuleName<TOnFailure>::Value, kOnFailureNames.front().Value);
}

std::string NumberedName(const std::string& path, int n) {
    const std::string ext = ExtractFileExt(path);
    return path.substr(0, path.size() - ext.size()) + " (" + std::to_string(n) + ")" + ext;
}

namespace {

// The names under which one file is met: its path with links and ".." resolved
// as far as it exists, and, for a file that exists, its device and inode.
// Letter case counts: two names that differ only in case are two files here.
std::vector<std::string> ExactKeys(const std::string& path) {
    std::error_code error;
    std::filesystem::path p = std::filesystem::weakly_canonical(std::filesystem::path(path), error);
    if (error) p = std::filesystem::path(path).lexically_normal();
    std::vector<std::string> keys{p.string()};
    struct stat info {};
    if (!HasNulCharacter(path) && stat(path.c_str(), &info) == 0)
        keys.push_back("\n" + std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino));
    return keys;
}

std::string Count(int n, const char* one, const char* many) { return std::to_string(n) + " " + (n == 1 ? one : many); }

}  // namespace

TClashes FindClashes(const std::vector<TBatchEntry>& entries) {
    TClashes clashes;
    std::unordered_map<std::string, int> firstWriter;
    for (size_t i = 0; i < entries.size(); ++i) {
        const TBatchEntry& e = entries[i];
        if (!e.Accepted || e.Skipped) continue;
        const auto index = static_cast<int>(i);
        const std::vector<std::string> targetKeys = ExactKeys(e.Target);
        int with = -1;
        for (const std::string& key : targetKeys) {
            const auto [at, added] = firstWriter.emplace(key, index);
            if (!added && with < 0) with = at->second;
        }
        if (with >= 0) {
            if (clashes.Count++ == 0) clashes.First = index, clashes.FirstWith = with;
        }
        bool own = false;
        for (const std::string& key : ExactKeys(e.Source))
            for (const std::string& target : targetKeys) own = own || key == target;
        if (own && clashes.OwnSources++ == 0) clashes.FirstOwn = index;
    }
    return clashes;
}

std::string ClashQuestion(const std::vector<TBatchEntry>& entries, const TClashes& clashes) {
    std::string text;
    if (clashes.Count > 0) {
        const TBatchEntry& a = entries.at(static_cast<size_t>(clashes.FirstWith));
        const TBatchEntry& b = entries.at(static_cast<size_t>(clashes.First));
        text = "Some pictures would be saved to the same file: \"" + a.Source + "\" and \"" + b.Source +
               "\" both go to \"" + b.Target + "\" (" + Count(clashes.Count, "clash", "clashes") +
               " in all). The later picture's result replaces the earlier one.";
    }
    if (clashes.OwnSources > 0) {
        if (!text.empty()) text += "\n\n";
        const TBatchEntry& own = entries.at(static_cast<size_t>(clashes.FirstOwn));
        text += "Some results would replace their own originals: \"" + own.Source + "\" would be overwritten (" +
                Count(clashes.OwnSources, "original", "originals") + " in all).";
    }
    if (!text.empty()) text += "\n\nGo on?";
    return text;
}

std::string WrittenNote(const TEntryReport& entry) {
    std::string note;
    if (entry.CoverOutside) note = "the cover lies wholly outside the picture";
    if (entry.CutShort) note += (note.empty() ? "" : "; ") + std::string("cut short, its JPEG data ends early");
    return note;
}

TEndText EndMessageText(const std::vector<TEntryReport>& entries) {
    int written = 0, skipped = 0, refused = 0, failed = 0, missed = 0, cut = 0, other = 0;
    std::string details;
    for (const TEntryReport& e : entries) {
        std::string why;
        switch (e.Outcome) {
        case TOutcome::Written: ++written; break;
        case TOutcome::Skipped: ++skipped, why = "skipped, the result exists"; break;
        case TOutcome::Refused: ++refused, why = e.Reason; break;
        case TOutcome::Failed: ++failed, why = e.Reason; break;
        case TOutcome::Pending: ++other, why = "not processed"; break;
        }
        missed += e.CoverOutside ? 1 : 0;
        cut += e.CutShort ? 1 : 0;
        if (const std::string note = WrittenNote(e); !note.empty()) {
            if (e.CoverOutside) why.clear();  // the cover's word comes first
            if (!why.empty()) why += "; ";
            why += note;
        }
        if (!why.empty()) details += e.Source + ": " + why + "\n";
    }
    if (!details.empty()) details.pop_back();
    TEndText out;
    const auto total = static_cast<int>(entries.size());
    if (written == total) {
        out.Text = "Operation done! All files have been saved successfully.";
    } else {
        out.Text =
            "Operation done! " + std::to_string(written) + " of " + std::to_string(total) + " files have been saved.";
        std::string parts;
        const auto part = [&](int n, const std::string& what) {
            if (n > 0) parts += (parts.empty() ? "" : ", ") + std::to_string(n) + " " + what;
        };
        part(skipped, "skipped (the result exists)");
        part(refused, "refused");
        part(failed, "failed");
        part(other, "not processed");
        if (!parts.empty()) out.Text += "\n" + parts + ".";
    }
    if (missed > 0)
        out.Text +=
            "\n" + Count(missed, "picture shows", "pictures show") + " none of the cover: it lies wholly outside.";
    if (cut > 0)
        out.Text += "\n" + Count(cut, "JPEG source was", "JPEG sources were") +
                    " cut short: the results hold what could be read.";
    out.Details = std::move(details);
    return out;
}

}  // namespace vmk
