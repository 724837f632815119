#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vmk {

using HKEY = uint32_t;

// The predefined root keys, kept as their Windows handle values.
inline constexpr HKEY HKEY_CLASSES_ROOT = 0x80000000u;
inline constexpr HKEY HKEY_CURRENT_USER = 0x80000001u;
inline constexpr HKEY HKEY_LOCAL_MACHINE = 0x80000002u;
inline constexpr HKEY HKEY_USERS = 0x80000003u;
inline constexpr HKEY HKEY_CURRENT_CONFIG = 0x80000005u;

// A registry-like key/value store kept in one REGEDIT4-style text file:
//
//   REGEDIT4
//
//   [HKEY_LOCAL_MACHINE\Software\Quorvex\VMK]
//   "CoverFile"="/home/me/logo.bmp"
//   "PosType"=dword:00000004
//
// Every accessor reads the file when it needs it and every write replaces the
// whole file atomically, so an interrupted save leaves the previous file in
// place; each write holds an advisory lock (flock) on the file from its read to
// its rename. Lines this class does not understand, and keys it does not touch, are
// written back unchanged. Key and value names compare without regard to ASCII case.
//
// Failures are ERegistryException, except where a result says it (KeyExists,
// OpenKey) and except ReadString of a missing value, which gives "".
class TRegistry {
public:
    // The store named by $VELLUMARK_REGISTRY, else $XDG_CONFIG_HOME/vellumark/registry.reg
    // (~/.config when XDG_CONFIG_HOME is unset).
    TRegistry();
    // A store at the given file (tests, tools).
    explicit TRegistry(std::string storePath);
    ~TRegistry();
    TRegistry(const TRegistry&) = delete;
    TRegistry& operator=(const TRegistry&) = delete;

    static std::string DefaultStorePath();
    const std::string& StorePath() const noexcept { return storePath_; }

    // HKEY_CURRENT_USER until set. Changing the root closes the open key.
    // How long a write waits for another writer's lock before it fails.
    void SetLockWait(std::chrono::milliseconds wait) noexcept { lockWait_ = wait; }

    HKEY GetRootKey() const noexcept { return rootKey_; }
    void SetRootKey(HKEY root);

    // A path starting with "\" is absolute from the root; any other path is relative
    // to the open key (or the root when none is open).
    bool KeyExists(const std::string& path);
    // Opens the key, creating it (and the keys above it) first when canCreate is set
    // and it is missing. False when the key is missing and may not be created. A
    // store that may be read but not written opens: its writes fail.
    bool OpenKey(const std::string& path, bool canCreate);
    void CloseKey() noexcept;
    bool HasCurrentKey() const noexcept { return currentKey_.has_value(); }
    // The open key's path below the root, without a leading "\" ("" when none is open).
    std::string GetCurrentPath() const;

    bool ValueExists(const std::string& name);
    // "" when the value is missing; fails when it holds another type.
    std::string ReadString(const std::string& name);
    // Fails when the value is missing or holds another type.
    int32_t ReadInteger(const std::string& name);
    bool ReadBool(const std::string& name) { return ReadInteger(name) != 0; }

    // Create or replace the value; fail when no key is open or the file cannot be written.
    void WriteString(const std::string& name, const std::string& text);
    void WriteInteger(const std::string& name, int32_t value);
    void WriteBool(const std::string& name, bool value) { WriteInteger(name, value ? 1 : 0); }

    // From BeginBatch to CommitBatch, keys that OpenKey creates and values
    // written are gathered (reads see them) and reach the store together, in one
    // locked read-modify-write, so that a save of many values costs one
    // replacement of the file. CommitBatch fails as a write does, naming the
    // first value, and then nothing of the batch is stored; a batch never
    // committed is dropped.
    void BeginBatch();
    void CommitBatch();

    // What a load from a set-up file needs to tell what it passed over: the
    // names of the open key's values (each once, in file order), the lines of
    // the key that hold no value (blank lines and ";" comments aside), the
    // names this accessor was asked to read, and those whose reading it refused
    // for their type or content (a missing value is not refused).
    std::vector<std::string> GetValueNames();
    std::vector<std::string> GetStrayLines();
    const std::vector<std::string>& GetAskedNames() const noexcept { return asked_; }
    const std::vector<std::string>& GetRefusedNames() const noexcept { return refused_; }

private:
    enum class ValueKind { String, Integer, Other };
    struct Value {
        ValueKind kind = ValueKind::Other;
        std::string text;
        uint32_t number = 0;
    };

    struct PendingValue {
        std::string key;
        std::string name;
        std::string line;  // "": no value, the key itself (made by OpenKey)
    };

    std::optional<std::string> ResolvePath(const std::string& path) const;
    std::optional<Value> FindValue(const std::string& name);
    void WriteValue(const std::string& name, const std::string& line);

    std::string storePath_;
    std::chrono::milliseconds lockWait_{10000};
    HKEY rootKey_ = HKEY_CURRENT_USER;
    // Full key path, "ROOT_NAME\sub\key", of the open key.
    std::optional<std::string> currentKey_;
    bool batching_ = false;
    std::vector<PendingValue> pending_;
    std::vector<std::string> asked_;
    std::vector<std::string> refused_;
};

}  // namespace vmk
