#include "core/FileUtils.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <cwctype>

#include "core/Exception.h"

namespace vmk {

std::string ExtractFileExt(const std::string& path) {
    const auto dot = path.rfind('.');
    const auto slash = path.rfind('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
    return path.substr(dot);
}

std::string ExtractFileName(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string ExtractFilePath(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string ExtractFileDrive(const std::string&) { return {}; }

namespace {

// Decodes one UTF-8 sequence at text[i]; returns its length, or 0 when it is malformed.
size_t DecodeUtf8(const std::string& text, size_t i, char32_t& out) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char c = byte(i);
    size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (len == 0 || i + len > text.size()) return 0;
    char32_t value = len == 1 ? c : len == 2 ? (c & 0x1Fu) : len == 3 ? (c & 0x0Fu) : (c & 0x07u);
    for (size_t k = 1; k < len; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
        value = (value << 6) | (byte(i + k) & 0x3Fu);
    }
    out = value;
    return len;
}

void EncodeUtf8(char32_t v, std::string& out) {
    if (v < 0x80) {
        out += static_cast<char>(v);
    } else if (v < 0x800) {
        out += static_cast<char>(0xC0 | (v >> 6));
        out += static_cast<char>(0x80 | (v & 0x3F));
    } else if (v < 0x10000) {
        out += static_cast<char>(0xE0 | (v >> 12));
        out += static_cast<char>(0x80 | ((v >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (v & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (v >> 18));
        out += static_cast<char>(0x80 | ((v >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((v >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (v & 0x3F));
    }
}

}  // namespace

bool IsPicturePath(const std::string& path) {
    const std::string ext = LowerCase(ExtractFileExt(path));
    for (const char* known : {".bmp", ".jpg", ".jpeg", ".png", ".webp", ".tif", ".tiff", ".heic", ".heif", ".avif"})
        if (ext == known) return true;
    return false;
}

bool IsBitmapPath(const std::string& path) { return LowerCase(ExtractFileExt(path)) == ".bmp"; }

bool IsJpegPath(const std::string& path) {
    const std::string ext = LowerCase(ExtractFileExt(path));
    return ext == ".jpg" || ext == ".jpeg";
}

std::string LowerCase(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        char32_t c = 0;
        const size_t len = DecodeUtf8(text, i, c);
        if (len == 0) {  // not UTF-8: keep the byte as it is
            out += text[i++];
            continue;
        }
        if (c < 0x80) {
            out += static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
        } else {
            EncodeUtf8(static_cast<char32_t>(std::towlower(static_cast<wint_t>(c))), out);
        }
        i += len;
    }
    return out;
}

std::string IntToStr(long long value) { return std::to_string(value); }

bool HasNulCharacter(const std::string& path) { return path.find('\0') != std::string::npos; }

std::string ShownPath(const std::string& path) {
    std::string out;
    out.reserve(path.size());
    for (const char c : path) {
        if (c == '\0')
            out += "\\0";
        else
            out += c;
    }
    return out;
}

bool FileExists(const std::string& path) {
    struct stat info {};
    return !path.empty() && !HasNulCharacter(path) && stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool DirectoryExists(const std::string& path) {
    struct stat info {};
    return !path.empty() && !HasNulCharacter(path) && stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool EntryExists(const std::string& path) {
    struct stat info {};
    return !path.empty() && !HasNulCharacter(path) && lstat(path.c_str(), &info) == 0;
}

bool DeleteFile(const std::string& path) { return !HasNulCharacter(path) && unlink(path.c_str()) == 0; }

std::string ResolveLinks(const std::string& path) {
    std::string at = path;
    // The kernel's own limit on links followed in one lookup.
    for (int hops = 0; hops < 40; ++hops) {
        struct stat info {};
        if (HasNulCharacter(at) || lstat(at.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return at;
        std::string target(static_cast<size_t>(info.st_size > 0 ? info.st_size : PATH_MAX) + 1, '\0');
        const ssize_t n = readlink(at.c_str(), target.data(), target.size());
        if (n < 0 || static_cast<size_t>(n) >= target.size()) return at;  // changed meanwhile
        target.resize(static_cast<size_t>(n));
        at = !target.empty() && target.front() == '/' ? target : ExtractFilePath(at).append(target);
    }
    throw EFCreateError("Cannot create file \"" + ShownPath(path) + "\". " + std::strerror(ELOOP));
}

bool ForceDirectories(const std::string& path) {
    if (HasNulCharacter(path)) return false;
    std::string dir = path;
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    if (dir.empty()) return false;
    if (DirectoryExists(dir)) return true;
    const std::string parent = ExtractFilePath(dir);
    if (!parent.empty() && parent != dir && !ForceDirectories(parent)) return false;
    return mkdir(dir.c_str(), 0777) == 0 || (errno == EEXIST && DirectoryExists(dir));
}

std::string ApplicationExeName() {
    char buffer[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0) return {};
    return std::string(buffer, static_cast<size_t>(n));
}

namespace {
std::string& ApplicationFolderOverride() {
    static std::string folder;
    return folder;
}
}  // namespace

std::string ApplicationFolder() {
    const std::string& folder = ApplicationFolderOverride();
    return folder.empty() ? ExtractFilePath(ApplicationExeName()) : folder;
}

void SetApplicationFolder(const std::string& folder) { ApplicationFolderOverride() = folder; }

bool FolderWritable(const std::string& folder) {
    return DirectoryExists(folder) && access(folder.c_str(), W_OK | X_OK) == 0;
}

namespace {

// An absolute folder from the environment, with its "/" at the end; "" when
// the variable is unset, empty or relative (a relative one means nothing to
// a program that may start anywhere).
std::string FolderFromEnv(const char* name) {
    const char* value = std::getenv(name);
    if (!value || value[0] != '/') return {};
    std::string folder = value;
    if (folder.back() != '/') folder += '/';
    return folder;
}

}  // namespace

std::string UserHomeFolder() {
    std::string folder = FolderFromEnv("HOME");
    if (!folder.empty()) return folder;
    if (const passwd* account = getpwuid(getuid()); account && account->pw_dir && account->pw_dir[0] == '/') {
        folder = account->pw_dir;
        if (folder.back() != '/') folder += '/';
        return folder;
    }
    return "/";
}

std::string UserRuntimeFolder() {
    for (const char* name : {"XDG_RUNTIME_DIR", "TMPDIR"}) {
        std::string folder = FolderFromEnv(name);
        if (!folder.empty() && FolderWritable(folder)) return folder;
    }
    return "/tmp/";
}

void SyncFileSystems(const std::vector<std::string>& folders) {
    std::vector<dev_t> done;
    for (const std::string& folder : folders) {
        const auto fail = [&](int error) {
            throw EWriteError("Cannot write to folder \"" + ShownPath(folder) + "\". " + std::strerror(error));
        };
        if (HasNulCharacter(folder)) fail(EINVAL);
        const int fd = open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) fail(errno);
        struct stat info {};
        int error = fstat(fd, &info) == 0 ? 0 : errno;
        if (error == 0 && std::find(done.begin(), done.end(), info.st_dev) == done.end()) {
            if (syncfs(fd) == 0)
                done.push_back(info.st_dev);
            else
                error = errno;
        }
        close(fd);
        if (error != 0) fail(error);
    }
}

}  // namespace vmk
