#include "core/FolderWalk.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <set>
#include <utility>

#include "core/FileUtils.h"

namespace vmk {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// <0, 0, >0 as a's digit run [ai, aEnd) is below, equal to or above b's, by value.
int CompareNumbers(const std::string& a, size_t ai, size_t aEnd, const std::string& b, size_t bi, size_t bEnd) {
    while (ai < aEnd && a[ai] == '0') ++ai;
    while (bi < bEnd && b[bi] == '0') ++bi;
    if (aEnd - ai != bEnd - bi) return aEnd - ai < bEnd - bi ? -1 : 1;
    for (; ai < aEnd; ++ai, ++bi)
        if (a[ai] != b[bi]) return a[ai] < b[bi] ? -1 : 1;
    return 0;
}

int NaturalCompare(const std::string& a, const std::string& b) {
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (IsDigit(a[i]) && IsDigit(b[j])) {
            size_t iEnd = i, jEnd = j;
            while (iEnd < a.size() && IsDigit(a[iEnd])) ++iEnd;
            while (jEnd < b.size() && IsDigit(b[jEnd])) ++jEnd;
            if (const int c = CompareNumbers(a, i, iEnd, b, j, jEnd)) return c;
            i = iEnd;
            j = jEnd;
            continue;
        }
        const char ca = AsciiLower(a[i]), cb = AsciiLower(b[j]);
        if (ca != cb) return static_cast<unsigned char>(ca) < static_cast<unsigned char>(cb) ? -1 : 1;
        ++i;
        ++j;
    }
    if (i < a.size()) return 1;
    if (j < b.size()) return -1;
    return 0;
}

using TFolderId = std::pair<dev_t, ino_t>;

std::string Joined(const std::string& folder, const std::string& name) {
    return !folder.empty() && folder.back() == '/' ? folder + name : folder + "/" + name;
}

// One folder's names, split into pictures and folders to enter; false when it
// cannot be listed.
bool ListFolder(const std::string& folder, std::vector<std::string>& files, std::vector<std::string>& folders) {
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return false;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.empty() || name[0] == '.') continue;  // hidden, "." and ".." among them
        const std::string path = Joined(folder, name);
        // The entry's own type, as the folder gives it, spares a look-up per file.
        unsigned char type = entry->d_type;
        if (type == DT_UNKNOWN) {
            struct stat own {};
            if (::lstat(path.c_str(), &own) != 0) continue;
            type = S_ISDIR(own.st_mode) ? DT_DIR : S_ISREG(own.st_mode) ? DT_REG : S_ISLNK(own.st_mode) ? DT_LNK : 0;
        }
        if (type == DT_DIR) {
            folders.push_back(path);
            continue;
        }
        // A link to a picture is taken; a link to a folder never is.
        const bool picture = IsPicturePath(name) && (type == DT_REG || (type == DT_LNK && FileExists(path)));
        if (picture) files.push_back(path);
    }
    ::closedir(dir);
    return true;
}

void Walk(const std::string& folder, bool subfolders, std::set<TFolderId>& seen, TFolderPictures& out) {
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0 || !seen.insert({st.st_dev, st.st_ino}).second) return;
    std::vector<std::string> files, folders;
    if (!ListFolder(folder, files, folders)) {
        out.Unreadable.push_back(folder);
        return;
    }
    std::sort(files.begin(), files.end(), NaturalLess);
    out.Pictures.insert(out.Pictures.end(), files.begin(), files.end());
    if (!subfolders) return;
    std::sort(folders.begin(), folders.end(), NaturalLess);
    for (const std::string& sub : folders) Walk(sub, subfolders, seen, out);
}

}  // namespace

bool NaturalLess(const std::string& a, const std::string& b) {
    if (const int c = NaturalCompare(a, b)) return c < 0;
    return a < b;
}

TFolderPictures WalkFolder(const std::string& folder, bool subfolders) {
    TFolderPictures out;
    std::set<TFolderId> seen;
    if (!HasNulCharacter(folder)) Walk(folder, subfolders, seen, out);
    return out;
}

std::string RelativeFolder(const std::string& root, const std::string& path) {
    if (root.empty()) return {};
    const std::string base = root.back() == '/' ? root : root + "/";
    if (path.size() <= base.size() || path.compare(0, base.size(), base) != 0) return {};
    std::string rest = ExtractFilePath(path.substr(base.size()));
    // Only plain names lead down: no empty, "." or ".." part.
    size_t start = 0;
    while (start < rest.size()) {
        const size_t slash = rest.find('/', start);
        const std::string part = rest.substr(start, slash - start);
        if (part.empty() || part == "." || part == "..") return {};
        start = slash + 1;
    }
    return rest;
}

}  // namespace vmk
