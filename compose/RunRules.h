#pragma once

// The rules of a run beyond the output rules: what becomes of a result whose
// name is taken, whether a failure ends the run, which results would meet on
// one file, and what the run says at its end. The window and the command line
// both take them from here.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace vmk {

struct TBatchEntry;

// When a result's name is taken already: replace it (links followed, as a
// plain save does), leave it and write nothing, or write the new result
// beside it under the first free "name (2).ext", "name (3).ext" ...
enum class TExisting { Overwrite, Skip, KeepBoth };
// When a picture cannot be read or written: end the run, or name it at the end.
enum class TOnFailure { Stop, GoOn };

struct TRunRules {
    TExisting Existing = TExisting::Overwrite;
    TOnFailure OnFailure = TOnFailure::Stop;
    bool operator==(const TRunRules&) const = default;
};

// Each choice: its name on a command line and the number the store keeps. A
// stored number that names none of them means the first.
template <class T>
struct TRuleName {
    const char* Name;
    int32_t Stored;
    T Value;
};
inline constexpr std::array<TRuleName<TExisting>, 3> kExistingNames = {{
    {"overwrite", 0, TExisting::Overwrite},
    {"skip", 1, TExisting::Skip},
    {"keep-both", 2, TExisting::KeepBoth},
}};
inline constexpr std::array<TRuleName<TOnFailure>, 2> kOnFailureNames = {{
    {"stop", 0, TOnFailure::Stop},
    {"go-on", 1, TOnFailure::GoOn},
}};
TExisting ExistingForStored(int32_t stored);
TOnFailure OnFailureForStored(int32_t stored);

// "a.jpg" with n = 2 gives "a (2).jpg"; a name without an extension takes the
// number at its end.
std::string NumberedName(const std::string& path, int n);
// Keep both gives up after so many taken names, rather than search forever.
inline constexpr int kMaxNumberedName = 9999;

// Results that would meet on one file, before a run writes anything (only a
// run that overwrites loses anything to them). Entries are indexes into the plan.
struct TClashes {
    int Count = 0;       // entries whose result lands where an earlier entry's does
    int First = -1;      // the first such entry
    int FirstWith = -1;  // the earlier entry it meets
    int OwnSources = 0;  // entries whose result would replace their own source
    int FirstOwn = -1;
};
TClashes FindClashes(const std::vector<TBatchEntry>& entries);

// The question asked before the run, or "" when there is none to ask: each
// kind of clash has its own, the first of each named.
std::string ClashQuestion(const std::vector<TBatchEntry>& entries, const TClashes& clashes);

// What became of one entry of a run.
enum class TOutcome { Pending, Written, Skipped, Refused, Failed };
struct TEntryReport {
    std::string Source;
    TOutcome Outcome = TOutcome::Pending;
    std::string Reason;         // why it was refused or failed
    std::string WrittenTo;      // the result's path, when written
    bool CoverOutside = false;  // written, but none of the cover lands on it
    bool CutShort = false;      // written, but its JPEG data ended early
};

// What is worth a word about a written entry: the cover missed it, or its
// JPEG data was cut short ("" when neither).
std::string WrittenNote(const TEntryReport& entry);

// The end message: its sentence, and one line per entry that was not simply
// saved (empty when every entry was).
struct TEndText {
    std::string Text;
    std::string Details;
};
TEndText EndMessageText(const std::vector<TEntryReport>& entries);

}  // namespace vmk
