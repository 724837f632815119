#pragma once

// The list of sources a command line names: files as given, folders as their
// pictures in name order, then the paths of a list file.

#include <istream>
#include <string>
#include <vector>

#include "cli/Options.h"

namespace vmk::cli {

// A folder's pictures as the window's "Add Folder" takes them (WalkFolder):
// natural name order, recursive: then its subfolders', folder by folder.
void AddFolder(const std::string& folder, bool recursive, std::vector<std::string>& out);

// The paths of a list: one a line, or NUL-separated. Empty ones are skipped.
std::vector<std::string> ReadPathList(std::istream& in, bool nulSeparated);

// Every source of the command line, in order, as full paths. Throws EUsage
// when the list file cannot be read. roots, when given, gets for each source
// the folder argument it was found in ("" for a file named itself).
std::vector<std::string> GatherSources(const TOptions& options, std::vector<std::string>* roots = nullptr);

// Shard K of N: every N-th of the sorted list without repeats, from the K-th.
std::vector<std::string> TakeShard(std::vector<std::string> sources, const TShard& shard);

}  // namespace vmk::cli
