#include "core/Registry.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "core/Exception.h"
#include "core/FileUtils.h"
#include "core/Streams.h"

namespace vmk {

namespace {

// A store larger than this is not ours; it is read up to here and never rewritten.
constexpr size_t kMaxStoreBytes = 16u << 20;

const char* RootName(HKEY root) {
    switch (root) {
    case HKEY_CLASSES_ROOT: return "HKEY_CLASSES_ROOT";
    case HKEY_CURRENT_USER: return "HKEY_CURRENT_USER";
    case HKEY_LOCAL_MACHINE: return "HKEY_LOCAL_MACHINE";
    case HKEY_USERS: return "HKEY_USERS";
    case HKEY_CURRENT_CONFIG: return "HKEY_CURRENT_CONFIG";
    default: return nullptr;
    }
}

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

bool SameText(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
    return true;
}

bool StartsWithText(const std::string& text, size_t pos, const char* prefix) {
    for (size_t i = 0; prefix[i]; ++i)
        if (pos + i >= text.size() || AsciiLower(text[pos + i]) != prefix[i]) return false;
    return true;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string Trim(const std::string& text) {
    size_t b = 0, e = text.size();
    while (b < e && IsBlank(text[b])) ++b;
    while (e > b && IsBlank(text[e - 1])) --e;
    return text.substr(b, e - b);
}

// "a\\b\\\\c" -> "a\b\c": drops empty parts so "\Software\\X\" and "Software\X" agree.
std::string NormalizeKey(const std::string& path) {
    std::string out;
    size_t i = 0;
    while (i < path.size()) {
        size_t j = path.find('\\', i);
        if (j == std::string::npos) j = path.size();
        if (j > i) {
            if (!out.empty()) out += '\\';
            out.append(path, i, j - i);
        }
        i = j + 1;
    }
    return out;
}

bool IsSameOrBelow(const std::string& key, const std::string& ancestor) {
    if (key.size() < ancestor.size()) return false;
    if (!SameText(key.substr(0, ancestor.size()), ancestor)) return false;
    return key.size() == ancestor.size() || key[ancestor.size()] == '\\';
}

std::string Quote(const std::string& text) {
    static const char hex[] = "0123456789abcdef";
    std::string out = "\"";
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '"': out += "\\\""; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (u < 0x20 || u == 0x7F) {
                out += "\\x";
                out += hex[u >> 4];
                out += hex[u & 15];
            } else {
                out += c;
            }
        }
    }
    return out + "\"";
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Reads a quoted text starting at line[pos] == '"'; pos ends after the closing quote.
bool Unquote(const std::string& line, size_t& pos, std::string& out) {
    if (pos >= line.size() || line[pos] != '"') return false;
    out.clear();
    for (size_t i = pos + 1; i < line.size(); ++i) {
        const char c = line[i];
        if (c == '"') {
            pos = i + 1;
            return true;
        }
        if (c != '\\') {
            out += c;
            continue;
        }
        if (++i >= line.size()) return false;
        switch (line[i]) {
        case '\\': out += '\\'; break;
        case '"': out += '"'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'x': {
            if (i + 2 >= line.size()) return false;
            const int hi = HexDigit(line[i + 1]), lo = HexDigit(line[i + 2]);
            if (hi < 0 || lo < 0) return false;
            out += static_cast<char>(hi * 16 + lo);
            i += 2;
            break;
        }
        default: return false;
        }
    }
    return false;  // no closing quote
}

bool OnlyBlanksFrom(const std::string& line, size_t pos) {
    for (; pos < line.size(); ++pos)
        if (!IsBlank(line[pos])) return false;
    return true;
}

// "[ROOT\path]" -> "ROOT\path" (normalised).
std::optional<std::string> ParseHeader(const std::string& line) {
    const std::string t = Trim(line);
    if (t.size() < 3 || t.front() != '[' || t.back() != ']' || t[1] == '-') return std::nullopt;
    std::string key = NormalizeKey(t.substr(1, t.size() - 2));
    if (key.empty()) return std::nullopt;
    return key;
}

struct ParsedValue {
    std::string name;
    int kind = 0;  // 0 text, 1 integer, 2 another type
    std::string text;
    uint32_t number = 0;
};

// One value line: "Name"="text", "Name"=dword:0000000a, "Name"=hex...:..., or @= for
// the unnamed value. Anything else is not a value.
std::optional<ParsedValue> ParseValueLine(const std::string& line) {
    ParsedValue v;
    size_t pos = 0;
    while (pos < line.size() && IsBlank(line[pos])) ++pos;
    if (pos < line.size() && line[pos] == '@') {
        ++pos;
    } else if (!Unquote(line, pos, v.name)) {
        return std::nullopt;
    }
    while (pos < line.size() && IsBlank(line[pos])) ++pos;
    if (pos >= line.size() || line[pos] != '=') return std::nullopt;
    ++pos;
    while (pos < line.size() && IsBlank(line[pos])) ++pos;
    if (pos < line.size() && line[pos] == '"') {
        if (!Unquote(line, pos, v.text) || !OnlyBlanksFrom(line, pos)) return std::nullopt;
        v.kind = 0;
        return v;
    }
    if (StartsWithText(line, pos, "dword:")) {
        pos += 6;
        size_t digits = 0;
        uint32_t n = 0;
        for (; pos < line.size() && HexDigit(line[pos]) >= 0; ++pos, ++digits)
            n = (n << 4) | static_cast<uint32_t>(HexDigit(line[pos]));
        if (digits == 0 || digits > 8 || !OnlyBlanksFrom(line, pos)) return std::nullopt;
        v.kind = 1;
        v.number = n;
        return v;
    }
    if (StartsWithText(line, pos, "hex")) {
        v.kind = 2;
        return v;
    }
    return std::nullopt;
}

// The store as lines of text. Lines are kept as read (line ends aside) so that what
// we do not understand goes back to disk unchanged.
struct Document {
    std::vector<std::string> lines;
    // False when the file could not be read whole (not a regular file, unreadable,
    // too large): such a file is never rewritten.
    bool complete = true;
};

Document LoadDocument(const std::string& path) {
    Document doc;
    // Non-blocking so that a FIFO in the store's place cannot hang the start-up.
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        doc.complete = errno == ENOENT;
        return doc;
    }
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        doc.complete = false;
        return doc;
    }
    std::string data;
    char buffer[65536];
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            doc.complete = false;
            break;
        }
        if (n == 0) break;
        data.append(buffer, static_cast<size_t>(n));
        if (data.size() > kMaxStoreBytes) {
            data.resize(kMaxStoreBytes);
            // The last line may be cut; drop it.
            const size_t nl = data.rfind('\n');
            data.resize(nl == std::string::npos ? 0 : nl + 1);
            doc.complete = false;
            break;
        }
    }
    close(fd);
    if (data.size() >= 3 && data.compare(0, 3, "\xEF\xBB\xBF") == 0) data.erase(0, 3);
    size_t i = 0;
    while (i < data.size()) {
        size_t j = data.find('\n', i);
        if (j == std::string::npos) j = data.size();
        std::string line = data.substr(i, j - i);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        doc.lines.push_back(std::move(line));
        i = j + 1;
    }
    return doc;
}

// A store kept as a symbolic link (by a dotfile manager, say) is written where the
// link points, a dangling one included, so that the link survives the save.
std::string WriteTarget(const std::string& path) { return ResolveLinks(path); }

// An advisory lock held across one read-modify-write of the store, so that values
// another program (or another copy of this one) saves at the same time survive.
// It is taken on the store file itself; a save replaces that file by renaming, so
// a writer that waited checks that it holds the file now in place, and tries
// again when it does not.
class StoreLock {
public:
    StoreLock(const std::string& storePath, std::chrono::milliseconds wait) {
        const std::string path = WriteTarget(storePath);
        const std::string folder = ExtractFilePath(path);
        if (!folder.empty() && !ForceDirectories(folder))
            throw EFCreateError("Cannot create folder \"" + ShownPath(folder) + "\".");
        const auto deadline = std::chrono::steady_clock::now() + wait;
        for (;;) {
            // Made empty when missing, as the write that follows would make it.
            fd_ = open(path.c_str(), O_RDONLY | O_CREAT | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC, 0666);
            if (fd_ < 0) throw EFCreateError("Cannot create file \"" + ShownPath(path) + "\". " + std::strerror(errno));
            struct stat held {};
            if (fstat(fd_, &held) != 0 || !S_ISREG(held.st_mode)) {
                close(fd_);
                throw EFCreateError("Cannot create file \"" + ShownPath(path) + "\". It is not a regular file.");
            }
            while (flock(fd_, LOCK_EX | LOCK_NB) != 0) {
                // A file system without locks: go on unlocked.
                if (errno != EWOULDBLOCK && errno != EINTR) return;
                if (std::chrono::steady_clock::now() >= deadline) {
                    close(fd_);
                    throw EFCreateError("\"" + ShownPath(path) + "\" is locked by another program.");
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
            struct stat now {};
            if (stat(path.c_str(), &now) == 0 && now.st_dev == held.st_dev && now.st_ino == held.st_ino) return;
            close(fd_);  // replaced while we waited: lock the new one
        }
    }
    ~StoreLock() { close(fd_); }
    StoreLock(const StoreLock&) = delete;
    StoreLock& operator=(const StoreLock&) = delete;

private:
    int fd_ = -1;
};

void SaveDocument(const std::string& storePath, const Document& doc) {
    const std::string path = WriteTarget(storePath);
    const std::string folder = ExtractFilePath(path);
    if (!folder.empty() && !ForceDirectories(folder)) throw EFCreateError("Cannot create folder \"" + folder + "\".");
    std::string data;
    for (const auto& line : doc.lines) data += line + "\n";
    TSafeFileStream file(path);
    file.WriteBuffer(data.data(), static_cast<int64_t>(data.size()));
    file.Commit();
}

bool KeyExistsIn(const Document& doc, const std::string& key) {
    if (key.find('\\') == std::string::npos) return true;  // a root always exists
    for (const auto& line : doc.lines) {
        const auto header = ParseHeader(line);
        if (header && IsSameOrBelow(*header, key)) return true;
    }
    return false;
}

void AddSection(Document& doc, const std::string& key) {
    if (doc.lines.empty()) doc.lines.push_back("REGEDIT4");
    if (!doc.lines.back().empty()) doc.lines.emplace_back();
    doc.lines.push_back("[" + key + "]");
}

// Index of the line holding the value's last definition in the key, if any.
std::optional<size_t> FindValueLine(const Document& doc, const std::string& key, const std::string& name) {
    std::optional<size_t> found;
    bool inKey = false;
    for (size_t i = 0; i < doc.lines.size(); ++i) {
        if (const auto header = ParseHeader(doc.lines[i])) {
            inKey = SameText(*header, key);
            continue;
        }
        if (!inKey) continue;
        const auto v = ParseValueLine(doc.lines[i]);
        if (v && SameText(v->name, name)) found = i;
    }
    return found;
}

void SetValueLine(Document& doc, const std::string& key, const std::string& name, const std::string& line) {
    if (const auto at = FindValueLine(doc, key, name)) {
        doc.lines[*at] = line;
        return;
    }
    std::optional<size_t> header;
    for (size_t i = 0; i < doc.lines.size(); ++i) {
        const auto h = ParseHeader(doc.lines[i]);
        if (h && SameText(*h, key)) header = i;
    }
    if (!header) {
        AddSection(doc, key);
        doc.lines.push_back(line);
        return;
    }
    // After the section's last non-blank line, so blank separators stay in place.
    size_t end = *header + 1;
    size_t insertAt = end;
    for (; end < doc.lines.size() && !ParseHeader(doc.lines[end]); ++end)
        if (!Trim(doc.lines[end]).empty()) insertAt = end + 1;
    doc.lines.insert(doc.lines.begin() + static_cast<std::ptrdiff_t>(insertAt), line);
}

// What a batch holds, laid over the store as read.
template <class Pending>
void ApplyPending(Document& doc, const Pending& pending) {
    for (const auto& p : pending) {
        if (p.line.empty()) {
            if (!KeyExistsIn(doc, p.key)) AddSection(doc, p.key);
        } else {
            SetValueLine(doc, p.key, p.name, p.line);
        }
    }
}

}  // namespace

TRegistry::TRegistry() : storePath_(DefaultStorePath()) {}

TRegistry::TRegistry(std::string storePath) : storePath_(std::move(storePath)) {}

TRegistry::~TRegistry() = default;

std::string TRegistry::DefaultStorePath() {
    if (const char* own = std::getenv("VELLUMARK_REGISTRY"); own && *own) return own;
    std::string config;
    // XDG says to ignore a relative XDG_CONFIG_HOME.
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && xdg[0] == '/')
        config = xdg;
    else
        config = UserHomeFolder() + ".config";
    if (config.back() != '/') config += '/';
    return config + "vellumark/registry.reg";
}

void TRegistry::SetRootKey(HKEY root) {
    CloseKey();
    rootKey_ = root;
}

std::optional<std::string> TRegistry::ResolvePath(const std::string& path) const {
    const char* root = RootName(rootKey_);
    if (!root) return std::nullopt;
    const bool absolute = !path.empty() && path.front() == '\\';
    std::string base = !absolute && currentKey_ ? *currentKey_ : std::string(root);
    const std::string rest = NormalizeKey(path);
    return rest.empty() ? base : base + "\\" + rest;
}

bool TRegistry::KeyExists(const std::string& path) {
    const auto key = ResolvePath(path);
    if (!key) return false;
    Document doc = LoadDocument(storePath_);
    ApplyPending(doc, pending_);
    return KeyExistsIn(doc, *key);
}

bool TRegistry::OpenKey(const std::string& path, bool canCreate) {
    const auto key = ResolvePath(path);
    if (!key) return false;
    // A key that is there opens whether or not the store may be written: what it
    // holds is read as it is, and only a write that cannot reach the disk fails.
    Document current = LoadDocument(storePath_);
    ApplyPending(current, pending_);
    if (!KeyExistsIn(current, *key)) {
        if (!canCreate) return false;
        try {
            const StoreLock lock(storePath_, lockWait_);
            Document doc = LoadDocument(storePath_);
            if (!doc.complete) return false;
            if (batching_) {
                // The store can be written: the key goes in with the batch.
                pending_.push_back({*key, {}, {}});
            } else if (!KeyExistsIn(doc, *key)) {
                AddSection(doc, *key);
                SaveDocument(storePath_, doc);
            }
        } catch (const std::exception&) {
            return false;
        }
    }
    currentKey_ = *key;
    return true;
}

void TRegistry::CloseKey() noexcept { currentKey_.reset(); }

std::string TRegistry::GetCurrentPath() const {
    if (!currentKey_) return {};
    const size_t slash = currentKey_->find('\\');
    return slash == std::string::npos ? std::string() : currentKey_->substr(slash + 1);
}

namespace {
void AddOnce(std::vector<std::string>& names, const std::string& name) {
    for (const std::string& n : names)
        if (SameText(n, name)) return;
    names.push_back(name);
}
}  // namespace

std::optional<TRegistry::Value> TRegistry::FindValue(const std::string& name) {
    AddOnce(asked_, name);
    if (!currentKey_) return std::nullopt;
    Document doc = LoadDocument(storePath_);
    ApplyPending(doc, pending_);
    const auto at = FindValueLine(doc, *currentKey_, name);
    if (!at) return std::nullopt;
    const auto parsed = ParseValueLine(doc.lines[*at]);
    Value v;
    v.kind = parsed->kind == 0 ? ValueKind::String : parsed->kind == 1 ? ValueKind::Integer : ValueKind::Other;
    v.text = parsed->text;
    v.number = parsed->number;
    return v;
}

bool TRegistry::ValueExists(const std::string& name) { return FindValue(name).has_value(); }

std::string TRegistry::ReadString(const std::string& name) {
    const auto v = FindValue(name);
    if (!v) return {};
    if (v->kind != ValueKind::String) {
        AddOnce(refused_, name);
        throw ERegistryException("Invalid data type for '" + name + "'");
    }
    // A text value ends at its first NUL; one inside it was not written by us and
    // would cut a path short where the system reads it.
    if (HasNulCharacter(v->text)) {
        AddOnce(refused_, name);
        throw ERegistryException("Invalid data for '" + name + "'");
    }
    return v->text;
}

int32_t TRegistry::ReadInteger(const std::string& name) {
    const auto v = FindValue(name);
    if (!v) throw ERegistryException("Failed to get data for '" + name + "'");
    if (v->kind != ValueKind::Integer) {
        AddOnce(refused_, name);
        throw ERegistryException("Invalid data type for '" + name + "'");
    }
    return static_cast<int32_t>(v->number);  // two's complement, as stored
}

void TRegistry::WriteValue(const std::string& name, const std::string& line) {
    const std::string failed = "Failed to set data for '" + name + "'";
    if (!currentKey_) throw ERegistryException(failed);
    if (batching_) {
        pending_.push_back({*currentKey_, name, line});
        return;
    }
    try {
        // Read again under the lock, just before writing, so that what another
        // program saves meanwhile survives.
        const StoreLock lock(storePath_, lockWait_);
        Document doc = LoadDocument(storePath_);
        if (!doc.complete)
            throw ERegistryException(failed + ". \"" + ShownPath(storePath_) + "\" cannot be read whole.");
        SetValueLine(doc, *currentKey_, name, line);
        SaveDocument(storePath_, doc);
    } catch (const ERegistryException&) {
        throw;
    } catch (const Exception& e) {
        throw ERegistryException(failed + ". " + e.Message());
    }
}

void TRegistry::WriteString(const std::string& name, const std::string& text) {
    WriteValue(name, (name.empty() ? std::string("@") : Quote(name)) + "=" + Quote(text));
}

void TRegistry::WriteInteger(const std::string& name, int32_t value) {
    char digits[16];
    std::snprintf(digits, sizeof digits, "%08x", static_cast<uint32_t>(value));
    WriteValue(name, (name.empty() ? std::string("@") : Quote(name)) + "=dword:" + digits);
}

std::vector<std::string> TRegistry::GetValueNames() {
    std::vector<std::string> names;
    if (!currentKey_) return names;
    Document doc = LoadDocument(storePath_);
    ApplyPending(doc, pending_);
    bool inKey = false;
    for (const std::string& line : doc.lines) {
        if (const auto header = ParseHeader(line)) {
            inKey = SameText(*header, *currentKey_);
        } else if (inKey) {
            if (const auto v = ParseValueLine(line)) AddOnce(names, v->name);
        }
    }
    return names;
}

std::vector<std::string> TRegistry::GetStrayLines() {
    std::vector<std::string> stray;
    if (!currentKey_) return stray;
    const Document doc = LoadDocument(storePath_);
    bool inKey = false;
    for (const std::string& line : doc.lines) {
        if (const auto header = ParseHeader(line)) {
            inKey = SameText(*header, *currentKey_);
        } else if (inKey) {
            const std::string t = Trim(line);
            if (!t.empty() && t[0] != ';' && !ParseValueLine(line)) stray.push_back(t);
        }
    }
    return stray;
}

void TRegistry::BeginBatch() {
    pending_.clear();
    batching_ = true;
}

void TRegistry::CommitBatch() {
    batching_ = false;
    std::vector<PendingValue> pending = std::move(pending_);
    pending_.clear();
    if (pending.empty()) return;
    std::string first = pending.front().name;
    for (const PendingValue& p : pending)
        if (!p.line.empty()) {
            first = p.name;
            break;
        }
    const std::string failed = "Failed to set data for '" + first + "'";
    try {
        const StoreLock lock(storePath_, lockWait_);
        Document doc = LoadDocument(storePath_);
        if (!doc.complete)
            throw ERegistryException(failed + ". \"" + ShownPath(storePath_) + "\" cannot be read whole.");
        ApplyPending(doc, pending);
        SaveDocument(storePath_, doc);
    } catch (const ERegistryException&) {
        throw;
    } catch (const Exception& e) {
        throw ERegistryException(failed + ". " + e.Message());
    }
}

}  // namespace vmk
