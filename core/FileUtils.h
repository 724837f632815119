#pragma once

#include <string>
#include <vector>

namespace vmk {

// Path parts, with "/" as the only separator and no drives.
std::string ExtractFileExt(const std::string& path);    // ".Jpg", dot and case kept; "" when none
std::string ExtractFileName(const std::string& path);   // after the last "/"
std::string ExtractFilePath(const std::string& path);   // up to and including the last "/"
std::string ExtractFileDrive(const std::string& path);  // always "": there are no drives

// The pictures the program reads, told by extension in any case: ".bmp",
// ".jpg", ".jpeg", ".png", ".webp", ".tif", ".tiff", ".heic", ".heif", ".avif".
// Only a bitmap can be a cover.
bool IsPicturePath(const std::string& path);
bool IsBitmapPath(const std::string& path);
// ".jpg" or ".jpeg", in any case.
bool IsJpegPath(const std::string& path);

std::string LowerCase(const std::string& text);  // locale-aware, UTF-8 in and out
std::string IntToStr(long long value);

// A regular file (through any links): not a folder, pipe or device, whose reading
// could block or never end.
bool FileExists(const std::string& path);
bool DirectoryExists(const std::string& path);
// Anything at all has that name, a dangling link included.
bool EntryExists(const std::string& path);
bool DeleteFile(const std::string& path);
// Creates the folder and every missing folder above it; false when that fails.
bool ForceDirectories(const std::string& path);

// No system call can take a name with a NUL in it: such a path names no file.
bool HasNulCharacter(const std::string& path);
// The path as a message shows it, a NUL written as "\0".
std::string ShownPath(const std::string& path);
// Where a write to path lands: links in its last part are followed, a dangling one
// included, so that a plain overwrite and our replace-by-rename reach the same file.
// Throws EFCreateError on a loop of links.
std::string ResolveLinks(const std::string& path);

// The running executable's full path and its folder (ending in "/").
std::string ApplicationExeName();
std::string ApplicationFolder();
// Makes folder (ending in "/") count as the program's own folder from now on;
// "" goes back to the executable's. Tests give each window a folder of its own.
void SetApplicationFolder(const std::string& folder);

// True when files can be made in the folder (it exists and the user may write
// and enter it).
bool FolderWritable(const std::string& folder);
// The user's home folder, ending in "/": $HOME when it is absolute, else the
// account's own.
std::string UserHomeFolder();
// A folder for short-lived files, ending in "/": the first of $XDG_RUNTIME_DIR,
// $TMPDIR and /tmp that is absolute and writable (a runtime folder may be gone,
// or another user's after su); /tmp when none is.
std::string UserRuntimeFolder();

// Waits until everything written so far to the file systems holding these
// folders is on disk, one flush per file system. Throws EWriteError naming the
// folder whose file system failed (or that cannot be reached).
void SyncFileSystems(const std::vector<std::string>& folders);

}  // namespace vmk
