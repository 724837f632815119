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
};

class TMemoryStream : public TStream {
public:
    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    int64_t GetSize() override { return static_cast<int64_t>(data_.size()); }

    void SetSize(int64_t size);
    void Clear() noexcept { data_.clear(); position_ = 0; }
    uint8_t* Memory() noexcept { return data_.data(); }
    const uint8_t* Memory() const noexcept { return data_.data(); }
    const std::vector<uint8_t>& Bytes() const noexcept { return data_; }

    void LoadFromFile(const std::string& path);
    void SaveToFile(const std::string& path);

private:
    std::vector<uint8_t> data_;
    int64_t position_ = 0;
};

enum class TFileMode { OpenRead, Create, OpenReadWrite };

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
    // Opens path but names shownPath in its messages (a temporary file stands
    // in for the file the user asked for).
    TFileStream(const std::string& path, TFileMode mode, const std::string& shownPath);
    // Flushes and closes; throws EWriteError when the data did not reach the disk.
    void Close();

private:
    static constexpr size_t kBufferSize = size_t{1} << 18;
    std::string path_;
    std::string shown_;
    std::unique_ptr<char[]> buffer_;  // stdio buffer of file_, closed before it goes
    std::FILE* file_ = nullptr;
};

// A file written whole or not at all: the bytes go to a hidden temporary file in
// the target's folder, which Commit() flushes and renames over the target. A
// stream destroyed without Commit() removes its temporary file and leaves the
// target as it was.
class TSafeFileStream : public TFileStream {
public:
    explicit TSafeFileStream(const std::string& target);
    ~TSafeFileStream() override;
    void Commit();

private:
    static std::string MakeTempPath(const std::string& target);
    std::string target_;
    std::string temp_;
    bool committed_ = false;
};

}  // namespace vmk
