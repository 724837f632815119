#pragma once

#include <string>

namespace vmk {

// Path parts, with "/" as the only separator and no drives.
std::string ExtractFileExt(const std::string& path);    // ".Jpg", dot and case kept; "" when none
std::string ExtractFileName(const std::string& path);   // after the last "/"
std::string ExtractFilePath(const std::string& path);   // up to and including the last "/"
std::string ExtractFileDrive(const std::string& path);  // always "": there are no drives

std::string LowerCase(const std::string& text);  // locale-aware, UTF-8 in and out
std::string IntToStr(long long value);

bool FileExists(const std::string& path);  // a file, not a folder
bool DirectoryExists(const std::string& path);
bool DeleteFile(const std::string& path);
// Creates the folder and every missing folder above it; false when that fails.
bool ForceDirectories(const std::string& path);

// The running executable's full path and its folder (ending in "/").
std::string ApplicationExeName();
std::string ApplicationFolder();

// True when files can be made in the folder (it exists and the user may write
// and enter it).
bool FolderWritable(const std::string& folder);
// The user's home folder, ending in "/": $HOME, else the account's own.
std::string UserHomeFolder();
// The user's runtime folder for short-lived files, ending in "/":
// $XDG_RUNTIME_DIR, else $TMPDIR, else /tmp.
std::string UserRuntimeFolder();

}  // namespace vmk
