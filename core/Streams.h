#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace vmk {

enum class TSeekOrigin { Beginning, Current, End };

// Byte stream. Read and Write move at most n bytes and return how many moved;
// ReadBuffer and WriteBuffer insist on all of them.
class TStream {
public:
    virtual ~TStream() = default;
    virtual int64_t Read(void* buffer, int64_t count) = 0;
    virtual int64_t Write(const void* buffer, int64_t count) = 0;
    virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;

    int64_t GetPosition() { return Seek(0, TSeekOrigin::Current); }
    void SetPosition(int64_t position) { Seek(position, TSeekOrigin::Beginning); }
    virtual int64_t GetSize();

    void ReadBuffer(void* buffer, int64_t count);
    void WriteBuffer(const void* buffer, int64_t count);
    // Copies count bytes from source (all of it from its start when count is 0).
    int64_t CopyFrom(TStream& source, int64_t count);

protected:
    // What a failed WriteBuffer says; a file names itself and the reason.
    virtual std::string WriteErrorMessage() const { return "Stream write error"; }
};

class TMemoryStream : public TStream {
public:
    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    int64_t GetSize() override { return static_cast<int64_t>(data_.size()); }

    void SetSize(int64_t size);
    void Clear() noexcept {
        data_.clear();
        position_ = 0;
    }
    uint8_t* Memory() noexcept { return data_.data(); }
    const uint8_t* Memory() const noexcept { return data_.data(); }
    const std::vector<uint8_t>& Bytes() const noexcept { return data_; }

    void LoadFromFile(const std::string& path);
    void SaveToFile(const std::string& path);
    // Writes the bytes to a file of that name made for them (never through a
    // link). False, with nothing written, when anything has the name already; any
    // other failure throws, naming the file and the reason. A file left half
    // written is removed.
    bool SaveToNewFile(const std::string& path) const;

private:
    std::vector<uint8_t> data_;
    int64_t position_ = 0;
};

enum class TFileMode { OpenRead, Create };

// A file on disk. Only regular files are opened (through links): a pipe or device
// could block the program for good or never end, so it is refused with a message
// that names the path, as is a name holding a NUL.
class TFileStream : public TStream {
public:
    TFileStream(const std::string& path, TFileMode mode);
    ~TFileStream() override;
    TFileStream(const TFileStream&) = delete;
    TFileStream& operator=(const TFileStream&) = delete;

    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    const std::string& Path() const noexcept { return path_; }

protected:
    // Opens nothing yet; messages name shownPath (a temporary file stands in for
    // the file the user asked for).
    explicit TFileStream(std::string shownPath);
    // Takes over an open descriptor of path.
    void Attach(int fd, std::string path);
    int Handle() const noexcept;
    // Flushes and closes; throws EWriteError, naming the file and the reason, when
    // the data did not reach the file system, or (with sync) the disk.
    void Close(bool sync = true);
    std::string WriteErrorMessage() const override;
    const std::string& ShownName() const noexcept { return shown_; }

private:
    static constexpr size_t kBufferSize = size_t{1} << 18;
    std::string path_;
    std::string shown_;
    std::unique_ptr<char[]> buffer_;  // stdio buffer of file_, closed before it goes
    std::FILE* file_ = nullptr;
    int writeErrno_ = 0;  // why the first failed write failed
};

// A file written whole or not at all: the bytes go to a temporary file
// "vellumark-XXXXXXXX.tmp" (a random part, created exclusively, never through a
// link) in the target's folder, which Commit() flushes and renames over the target.
// A stream destroyed without Commit() removes its temporary file and leaves the
// target as it was.
//
// Otherwise it behaves as a plain overwrite would: a link as the target is written
// through, an existing target the user may not write is refused, and a writable
// target in a folder that takes no new files is rewritten in place at Commit(),
// from bytes kept in memory until then, its whole size reserved before a byte of
// the old file changes.
class TSafeFileStream : public TFileStream {
public:
    // When Commit waits for the bytes to reach the disk before the rename (an
    // in-place rewrite always waits).
    enum class TFlush {
        Always,         // a single save
        WhenReplacing,  // a file that replaces another is still flushed first, so
                        // the old one is never lost; a new one is left to the
                        // caller, who flushes many at once (SyncFileSystems)
    };

    explicit TSafeFileStream(const std::string& target);
    ~TSafeFileStream() override;
    void Commit(TFlush flush = TFlush::Always);

    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;

private:
    void Open(const std::string& target);
    void CommitInPlace();
    std::string target_;                     // where the bytes go, links followed
    std::string temp_;                       // "" when writing in place
    int targetFd_ = -1;                      // the existing target, open for writing
    std::unique_ptr<TMemoryStream> memory_;  // the bytes of an in-place write
    bool committed_ = false;
};

// A new file written whole under a name nothing has yet: the bytes go to a
// temporary file in the folder (made as TSafeFileStream makes its own), and
// CommitAs gives them a name only when no entry, not even a link, has it, in
// one step, so that another program taking the same name at the same moment
// never loses its file to ours nor ours to it. Destroyed without a commit, the
// temporary file goes.
class TNewFileStream : public TFileStream {
public:
    // folder ends in "/"; messages name shownPath.
    TNewFileStream(const std::string& folder, const std::string& shownPath);
    ~TNewFileStream() override;
    // Closes the bytes (once) and names them path; false when an entry has
    // that name, the bytes then kept for another name.
    bool CommitAs(const std::string& path);

private:
    std::string temp_;
    bool closed_ = false;
    bool committed_ = false;
};

}  // namespace vmk
