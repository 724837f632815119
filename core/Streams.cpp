#include "core/Streams.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/Exception.h"
#include "core/FileUtils.h"

namespace vmk {

int64_t TStream::GetSize() {
    const int64_t here = GetPosition();
    const int64_t size = Seek(0, TSeekOrigin::End);
    Seek(here, TSeekOrigin::Beginning);
    return size;
}

void TStream::ReadBuffer(void* buffer, int64_t count) {
    if (count != 0 && Read(buffer, count) != count) throw EReadError("Stream read error");
}

void TStream::WriteBuffer(const void* buffer, int64_t count) {
    if (count != 0 && Write(buffer, count) != count) throw EWriteError("Stream write error");
}

int64_t TStream::CopyFrom(TStream& source, int64_t count) {
    if (count == 0) {
        source.SetPosition(0);
        count = source.GetSize();
    }
    std::vector<uint8_t> buffer(static_cast<size_t>(std::min<int64_t>(count, 1 << 16)));
    int64_t left = count;
    while (left > 0) {
        const int64_t n = std::min<int64_t>(left, static_cast<int64_t>(buffer.size()));
        source.ReadBuffer(buffer.data(), n);
        WriteBuffer(buffer.data(), n);
        left -= n;
    }
    return count;
}

// ---- TMemoryStream

int64_t TMemoryStream::Read(void* buffer, int64_t count) {
    if (count <= 0 || position_ >= GetSize()) return 0;
    const int64_t n = std::min(count, GetSize() - position_);
    std::memcpy(buffer, data_.data() + position_, static_cast<size_t>(n));
    position_ += n;
    return n;
}

int64_t TMemoryStream::Write(const void* buffer, int64_t count) {
    if (count <= 0) return 0;
    const int64_t end = position_ + count;
    if (end > GetSize()) data_.resize(static_cast<size_t>(end));
    std::memcpy(data_.data() + position_, buffer, static_cast<size_t>(count));
    position_ = end;
    return count;
}

int64_t TMemoryStream::Seek(int64_t offset, TSeekOrigin origin) {
    int64_t base = 0;
    if (origin == TSeekOrigin::Current) base = position_;
    if (origin == TSeekOrigin::End) base = GetSize();
    position_ = std::max<int64_t>(0, base + offset);
    return position_;
}

void TMemoryStream::SetSize(int64_t size) {
    data_.resize(static_cast<size_t>(std::max<int64_t>(0, size)));
    position_ = std::min(position_, GetSize());
}

void TMemoryStream::LoadFromFile(const std::string& path) {
    TFileStream file(path, TFileMode::OpenRead);
    const int64_t size = file.GetSize();
    SetSize(size);
    position_ = 0;
    file.ReadBuffer(data_.data(), size);
}

void TMemoryStream::SaveToFile(const std::string& path) {
    TSafeFileStream file(path);
    file.WriteBuffer(data_.data(), GetSize());
    file.Commit();
}

// ---- TFileStream

TFileStream::TFileStream(const std::string& path, TFileMode mode) : TFileStream(path, mode, path) {}

TFileStream::TFileStream(const std::string& path, TFileMode mode, const std::string& shownPath)
    : path_(path), shown_(shownPath) {
    const char* how = mode == TFileMode::OpenRead ? "rb" : mode == TFileMode::Create ? "wb" : "r+b";
    file_ = std::fopen(path.c_str(), how);
    if (!file_) {
        const std::string why = std::strerror(errno);
        if (mode == TFileMode::Create)
            throw EFCreateError("Cannot create file \"" + shownPath + "\". " + why);
        throw EFOpenError("Cannot open file \"" + shownPath + "\". " + why);
    }
    struct stat info {};
    if (fstat(fileno(file_), &info) == 0 && S_ISDIR(info.st_mode)) {
        std::fclose(file_);
        file_ = nullptr;
        throw EFOpenError("Cannot open file \"" + shownPath + "\". It is a folder.");
    }
    // Pictures move row by row; a large buffer turns thousands of row-sized
    // system calls into a few big ones.
    buffer_ = std::make_unique<char[]>(kBufferSize);
    std::setvbuf(file_, buffer_.get(), _IOFBF, kBufferSize);
}

TFileStream::~TFileStream() {
    if (file_) std::fclose(file_);
}

void TFileStream::Close() {
    if (!file_) return;
    bool ok = std::fflush(file_) == 0;
    ok = fsync(fileno(file_)) == 0 && ok;
    ok = std::fclose(file_) == 0 && ok;
    file_ = nullptr;
    if (!ok) throw EWriteError("Cannot write file \"" + shown_ + "\". " + std::strerror(errno));
}

int64_t TFileStream::Read(void* buffer, int64_t count) {
    if (count <= 0) return 0;
    return static_cast<int64_t>(std::fread(buffer, 1, static_cast<size_t>(count), file_));
}

int64_t TFileStream::Write(const void* buffer, int64_t count) {
    if (count <= 0) return 0;
    return static_cast<int64_t>(std::fwrite(buffer, 1, static_cast<size_t>(count), file_));
}

int64_t TFileStream::Seek(int64_t offset, TSeekOrigin origin) {
    const int whence = origin == TSeekOrigin::Beginning ? SEEK_SET
                       : origin == TSeekOrigin::Current ? SEEK_CUR : SEEK_END;
    if (fseeko(file_, static_cast<off_t>(offset), whence) != 0) return -1;
    return static_cast<int64_t>(ftello(file_));
}

// ---- TSafeFileStream

std::string TSafeFileStream::MakeTempPath(const std::string& target) {
    static std::atomic<unsigned> counter{0};
    return ExtractFilePath(target) + "." + ExtractFileName(target) + ".tmp" +
           std::to_string(getpid()) + "_" + std::to_string(counter++);
}

TSafeFileStream::TSafeFileStream(const std::string& target)
    : TFileStream(MakeTempPath(target), TFileMode::Create, target), target_(target), temp_(Path()) {
    // The target must be a file we may replace; a folder in its place is an error now,
    // not after the bytes are written.
    struct stat info {};
    if (stat(target.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
        std::remove(temp_.c_str());
        throw EFCreateError("Cannot create file \"" + target + "\". A folder has that name.");
    }
}

TSafeFileStream::~TSafeFileStream() {
    if (!committed_) {
        try {
            Close();
        } catch (...) {  // the file is being discarded anyway
        }
        std::remove(temp_.c_str());
    }
}

void TSafeFileStream::Commit() {
    try {
        Close();
    } catch (...) {
        std::remove(temp_.c_str());
        committed_ = true;
        throw;
    }
    committed_ = true;
    // Keep the permissions of a file we replace; a new file gets the usual ones.
    struct stat info {};
    if (stat(target_.c_str(), &info) == 0)
        chmod(temp_.c_str(), info.st_mode & 07777);
    else {
        const mode_t mask = umask(0);
        umask(mask);
        chmod(temp_.c_str(), 0666 & ~mask);
    }
    if (std::rename(temp_.c_str(), target_.c_str()) != 0) {
        const std::string why = std::strerror(errno);
        std::remove(temp_.c_str());
        throw EFCreateError("Cannot create file \"" + target_ + "\". " + why);
    }
}

}  // namespace vmk
