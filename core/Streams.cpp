#include "core/Streams.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>

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
    if (count != 0 && Write(buffer, count) != count) throw EWriteError(WriteErrorMessage());
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

namespace {

std::string Quoted(const std::string& path) { return "\"" + ShownPath(path) + "\""; }

[[noreturn]] void ThrowOpenError(TFileMode mode, const std::string& shown, const std::string& why) {
    if (mode == TFileMode::Create) throw EFCreateError("Cannot create file " + Quoted(shown) + ". " + why);
    throw EFOpenError("Cannot open file " + Quoted(shown) + ". " + why);
}

// Why a file that opened is not one we read or write; "" when it is a regular file.
std::string NotARegularFile(int fd) {
    struct stat info {};
    if (fstat(fd, &info) != 0) return std::strerror(errno);
    if (S_ISDIR(info.st_mode)) return "It is a folder.";
    if (!S_ISREG(info.st_mode)) return "It is not a regular file.";
    return {};
}

// Large writes go out in pieces of this size: the kernel copies one huge
// write into the page cache several times slower than the same bytes a
// megabyte at a time while earlier files are still being written back.
constexpr size_t kWritePiece = size_t{1} << 20;

// Writes size bytes from the start of an open file; 0, or why it stopped.
int WriteWhole(int fd, const uint8_t* data, size_t size) {
    size_t done = 0;
    while (done < size) {
        const ssize_t n = pwrite(fd, data + done, std::min(size - done, kWritePiece), static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return n < 0 ? errno : EIO;
        done += static_cast<size_t>(n);
    }
    return 0;
}

// Eight letters and digits from the kernel's generator, safe from any thread.
std::string RandomPart() {
    static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    unsigned char bytes[8] = {};
    if (getrandom(bytes, sizeof bytes, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof bytes)) {
        // No generator to be had (a sandbox, an early boot): O_EXCL still keeps a
        // guessed name from being used, at worst the save fails.
        std::random_device device;
        for (auto& b : bytes) b = static_cast<unsigned char>(device());
    }
    std::string out;
    for (const unsigned char b : bytes) out += alphabet[b % (sizeof alphabet - 1)];
    return out;
}

// Makes a temporary file of a random name in folder, never following or
// reusing a name already there. Returns its descriptor and sets temp, or
// returns -1 with errno set.
int OpenFreshTemp(const std::string& folder, std::string& temp) {
    errno = EEXIST;
    for (int attempt = 0; attempt < 100 && errno == EEXIST; ++attempt) {
        std::string name = folder + "vellumark-" + RandomPart() + ".tmp";
        const int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0666);
        if (fd >= 0) {
            temp = std::move(name);
            return fd;
        }
    }
    return -1;
}

}  // namespace

bool TMemoryStream::SaveToNewFile(const std::string& path) const {
    if (HasNulCharacter(path)) ThrowOpenError(TFileMode::Create, path, "The name holds a NUL character.");
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0666);
    if (fd < 0) {
        if (errno == EEXIST) return false;
        ThrowOpenError(TFileMode::Create, path, std::strerror(errno));
    }
    int error = WriteWhole(fd, data_.data(), data_.size());
    if (close(fd) != 0 && error == 0) error = errno;
    if (error != 0) {
        unlink(path.c_str());
        throw EWriteError("Cannot write file " + Quoted(path) + ". " + std::strerror(error));
    }
    return true;
}

TFileStream::TFileStream(std::string shownPath) : shown_(std::move(shownPath)) {}

TFileStream::TFileStream(const std::string& path, TFileMode mode) : shown_(path) {
    if (HasNulCharacter(path)) ThrowOpenError(mode, path, "The name holds a NUL character.");
    // Non-blocking, so that opening a pipe or a device cannot hang; the type is
    // checked before a single byte moves.
    int flags = O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
    flags |= mode == TFileMode::OpenRead ? O_RDONLY : O_WRONLY | O_CREAT | O_TRUNC;
    const int fd = open(path.c_str(), flags, 0666);
    if (fd < 0) ThrowOpenError(mode, path, std::strerror(errno));
    if (const std::string why = NotARegularFile(fd); !why.empty()) {
        close(fd);
        ThrowOpenError(mode, path, why);
    }
    const int status = fcntl(fd, F_GETFL);
    if (status < 0 || fcntl(fd, F_SETFL, status & ~O_NONBLOCK) != 0) {
        const std::string why = std::strerror(errno);
        close(fd);
        ThrowOpenError(mode, path, why);
    }
    Attach(fd, path);
}

void TFileStream::Attach(int fd, std::string path) {
    std::unique_ptr<char[]> buffer;
    try {
        // Pictures move row by row; a large buffer turns thousands of row-sized
        // system calls into a few big ones.
        buffer = std::make_unique<char[]>(kBufferSize);
        path_ = std::move(path);
    } catch (...) {
        close(fd);
        throw;
    }
    const int status = fcntl(fd, F_GETFL);
    const int access = status & O_ACCMODE;
    file_ = status < 0 ? nullptr : fdopen(fd, access == O_RDONLY ? "rb" : access == O_WRONLY ? "wb" : "r+b");
    if (!file_) {
        const std::string why = std::strerror(errno);
        close(fd);
        throw EFOpenError("Cannot open file " + Quoted(shown_) + ". " + why);
    }
    buffer_ = std::move(buffer);
    std::setvbuf(file_, buffer_.get(), _IOFBF, kBufferSize);
}

TFileStream::~TFileStream() {
    if (file_) std::fclose(file_);
}

int TFileStream::Handle() const noexcept { return file_ ? fileno(file_) : -1; }

void TFileStream::Close(bool sync) {
    if (!file_) return;
    int why = 0;
    if (std::fflush(file_) != 0) why = errno;
    if (sync && fsync(fileno(file_)) != 0 && why == 0) why = errno;
    if (std::fclose(file_) != 0 && why == 0) why = errno;
    file_ = nullptr;
    if (why == 0) why = writeErrno_;
    if (why != 0) throw EWriteError("Cannot write file " + Quoted(shown_) + ". " + std::strerror(why));
}

std::string TFileStream::WriteErrorMessage() const {
    return "Cannot write file " + Quoted(shown_) + ". " + std::strerror(writeErrno_ ? writeErrno_ : EIO);
}

int64_t TFileStream::Read(void* buffer, int64_t count) {
    if (count <= 0 || !file_) return 0;
    errno = 0;
    const size_t n = std::fread(buffer, 1, static_cast<size_t>(count), file_);
    // A failing disk must not pass for the end of the file.
    if (n < static_cast<size_t>(count) && std::ferror(file_)) {
        const int why = errno != 0 ? errno : EIO;
        std::clearerr(file_);
        throw EReadError("Cannot read file " + Quoted(shown_) + ". " + std::strerror(why));
    }
    return static_cast<int64_t>(n);
}

int64_t TFileStream::Write(const void* buffer, int64_t count) {
    if (count <= 0 || !file_) return 0;
    const auto* bytes = static_cast<const uint8_t*>(buffer);
    size_t done = 0;
    while (done < static_cast<size_t>(count)) {
        const size_t piece = std::min(kWritePiece, static_cast<size_t>(count) - done);
        errno = 0;
        const size_t n = std::fwrite(bytes + done, 1, piece, file_);
        done += n;
        if (n < piece) {
            if (writeErrno_ == 0) writeErrno_ = errno ? errno : EIO;
            break;
        }
    }
    return static_cast<int64_t>(done);
}

int64_t TFileStream::Seek(int64_t offset, TSeekOrigin origin) {
    if (!file_) return -1;
    const int whence = origin == TSeekOrigin::Beginning ? SEEK_SET
                       : origin == TSeekOrigin::Current ? SEEK_CUR
                                                        : SEEK_END;
    if (fseeko(file_, static_cast<off_t>(offset), whence) != 0) return -1;
    return static_cast<int64_t>(ftello(file_));
}

// ---- TSafeFileStream

TSafeFileStream::TSafeFileStream(const std::string& target) : TFileStream(target) {
    try {
        Open(target);
    } catch (...) {
        if (targetFd_ >= 0) close(targetFd_);
        throw;
    }
}

void TSafeFileStream::Open(const std::string& target) {
    const auto fail = [&](const std::string& why) {
        throw EFCreateError("Cannot create file " + Quoted(target) + ". " + why);
    };
    if (HasNulCharacter(target)) fail("The name holds a NUL character.");
    target_ = ResolveLinks(target);

    // An existing target must be a file the user may write, as for a plain overwrite.
    struct stat info {};
    if (lstat(target_.c_str(), &info) == 0) {
        if (S_ISDIR(info.st_mode)) fail("A folder has that name.");
        if (!S_ISREG(info.st_mode)) fail("It is not a regular file.");
        targetFd_ = open(target_.c_str(), O_WRONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
        if (targetFd_ < 0) fail(std::strerror(errno));
        if (const std::string why = NotARegularFile(targetFd_); !why.empty()) fail(why);
    } else if (errno != ENOENT) {
        fail(std::strerror(errno));
    }

    // Short, so that any name the target may have leaves room for it; the random
    // part and O_EXCL | O_NOFOLLOW keep a name planted in a shared folder from
    // redirecting the write.
    const std::string folder = ExtractFilePath(target_);
    const int fd = OpenFreshTemp(folder, temp_);
    if (fd >= 0) {
        try {
            Attach(fd, temp_);
        } catch (...) {
            unlink(temp_.c_str());
            throw;
        }
        return;
    }
    const int error = errno;
    if (targetFd_ >= 0 && (error == EACCES || error == EPERM)) {
        // The folder takes no new files but the file itself may be written.
        memory_ = std::make_unique<TMemoryStream>();
        return;
    }
    fail(std::strerror(error));
}

TSafeFileStream::~TSafeFileStream() {
    if (!committed_ && !temp_.empty()) {
        try {
            Close();
        } catch (...) {  // the file is being discarded anyway
        }
        unlink(temp_.c_str());
    }
    if (targetFd_ >= 0) close(targetFd_);
}

int64_t TSafeFileStream::Read(void* buffer, int64_t count) {
    return memory_ ? memory_->Read(buffer, count) : TFileStream::Read(buffer, count);
}

int64_t TSafeFileStream::Write(const void* buffer, int64_t count) {
    return memory_ ? memory_->Write(buffer, count) : TFileStream::Write(buffer, count);
}

int64_t TSafeFileStream::Seek(int64_t offset, TSeekOrigin origin) {
    return memory_ ? memory_->Seek(offset, origin) : TFileStream::Seek(offset, origin);
}

void TSafeFileStream::CommitInPlace() {
    committed_ = true;
    const auto fail = [&](int error) {
        throw EWriteError("Cannot write file " + Quoted(ShownName()) + ". " + std::strerror(error));
    };
    const uint8_t* data = memory_->Memory();
    const auto size = static_cast<size_t>(memory_->GetSize());
    // The whole size is taken from the disk first, so that a full disk fails
    // while the old file is still whole. Writing over the old bytes before
    // cutting off any tail keeps the reserved blocks in use throughout.
    if (size > 0) {
        int error = 0;
        do {
            error = fallocate(targetFd_, 0, 0, static_cast<off_t>(size)) == 0 ? 0 : errno;
        } while (error == EINTR);
        // A file system that cannot reserve is written as before.
        if (error != 0 && error != EOPNOTSUPP) fail(error);
    }
    if (const int error = WriteWhole(targetFd_, data, size); error != 0) fail(error);
    if (ftruncate(targetFd_, static_cast<off_t>(size)) != 0) fail(errno);
    if (fsync(targetFd_) != 0) fail(errno);
}

void TSafeFileStream::Commit(TFlush flush) {
    if (committed_) return;
    if (memory_) {
        CommitInPlace();
        return;
    }
    const auto fail = [&](const std::string& why) {
        unlink(temp_.c_str());
        committed_ = true;
        throw EFCreateError("Cannot create file " + Quoted(ShownName()) + ". " + why);
    };
    // Keep the permissions of a file we replace; a new file got the usual ones
    // (0666 less the umask) when it was made. A file system that keeps one mode
    // for every file (FAT, say) refuses the change but already gives that mode.
    struct stat info {};
    if (targetFd_ >= 0 && fstat(targetFd_, &info) == 0 && fchmod(Handle(), info.st_mode & 07777) != 0) {
        const int why = errno;
        struct stat made {};
        if (fstat(Handle(), &made) != 0 || (made.st_mode & 07777) != (info.st_mode & 07777)) fail(std::strerror(why));
    }
    // Whatever has the target's name now is replaced: it is flushed first then.
    struct stat existing {};
    const bool replacing = targetFd_ >= 0 || lstat(target_.c_str(), &existing) == 0;
    try {
        Close(flush == TFlush::Always || replacing);
    } catch (...) {
        unlink(temp_.c_str());
        committed_ = true;
        throw;
    }
    committed_ = true;
    if (std::rename(temp_.c_str(), target_.c_str()) != 0) {
        const std::string why = std::strerror(errno);
        unlink(temp_.c_str());
        throw EFCreateError("Cannot create file " + Quoted(ShownName()) + ". " + why);
    }
}

// ---- TNewFileStream

TNewFileStream::TNewFileStream(const std::string& folder, const std::string& shownPath) : TFileStream(shownPath) {
    if (HasNulCharacter(folder))
        throw EFCreateError("Cannot create file " + Quoted(shownPath) + ". The name holds a NUL character.");
    const int fd = OpenFreshTemp(folder, temp_);
    if (fd >= 0) {
        try {
            Attach(fd, temp_);
        } catch (...) {
            unlink(temp_.c_str());
            throw;
        }
        return;
    }
    const int error = errno;
    throw EFCreateError("Cannot create file " + Quoted(shownPath) + ". " + std::strerror(error));
}

TNewFileStream::~TNewFileStream() {
    if (committed_) return;
    if (!closed_) {
        try {
            Close(false);
        } catch (...) {  // the file is being discarded anyway
        }
    }
    unlink(temp_.c_str());
}

bool TNewFileStream::CommitAs(const std::string& path) {
    if (committed_) return true;
    const auto fail = [&](int error) {
        throw EFCreateError("Cannot create file " + Quoted(path) + ". " + std::strerror(error));
    };
    if (HasNulCharacter(path)) fail(EINVAL);
    if (!closed_) {
        closed_ = true;
        // New files are flushed all at once at the end of a run (SyncFileSystems).
        Close(false);
    }
    if (renameat2(AT_FDCWD, temp_.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE) == 0) {
        committed_ = true;
        return true;
    }
    int error = errno;
    if (error == EEXIST) return false;
    if (error != EINVAL && error != ENOSYS && error != EOPNOTSUPP) fail(error);
    // A file system without the one-step rename: a hard link is refused the
    // same way when the name is taken.
    if (link(temp_.c_str(), path.c_str()) == 0) {
        unlink(temp_.c_str());
        committed_ = true;
        return true;
    }
    error = errno;
    if (error == EEXIST) return false;
    fail(error);
    return false;
}

}  // namespace vmk
