#include "cli/Inputs.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <set>
#include <utility>

#include "core/FileUtils.h"

namespace vmk::cli {

namespace fs = std::filesystem;

namespace {

using TFolderId = std::pair<dev_t, ino_t>;

std::string Joined(const std::string& folder, const std::string& name) {
    return !folder.empty() && folder.back() == '/' ? folder + name : folder + "/" + name;
}

void AddFolderOnce(const std::string& folder, bool recursive, std::set<TFolderId>& seen,
                   std::vector<std::string>& out) {
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0 || !seen.insert({st.st_dev, st.st_ino}).second) return;
    std::vector<std::string> names;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (!name.empty() && name[0] != '.') names.push_back(name);
    }
    if (error) std::cerr << "vellumark-batch: cannot read folder " << folder << ": " << error.message() << "\n";
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        const std::string path = Joined(folder, name);
        struct stat own {};
        if (::lstat(path.c_str(), &own) != 0) continue;
        if (S_ISDIR(own.st_mode)) {
            if (recursive) AddFolderOnce(path, recursive, seen, out);
        } else if (IsPicturePath(path) && FileExists(path)) {
            // A link to a picture is taken; a link to a folder is not entered above.
            out.push_back(path);
        }
    }
}

}  // namespace

void AddFolder(const std::string& folder, bool recursive, std::vector<std::string>& out) {
    std::set<TFolderId> seen;
    AddFolderOnce(folder, recursive, seen, out);
}

std::vector<std::string> ReadPathList(std::istream& in, bool nulSeparated) {
    std::vector<std::string> paths;
    std::string line;
    while (std::getline(in, line, nulSeparated ? '\0' : '\n')) {
        if (!nulSeparated && !line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) paths.push_back(line);
    }
    return paths;
}

std::vector<std::string> GatherSources(const TOptions& options) {
    std::vector<std::string> named = options.Inputs;
    if (options.FilesFrom) {
        std::vector<std::string> listed;
        if (*options.FilesFrom == "-") {
            listed = ReadPathList(std::cin, options.NulSeparated);
        } else {
            if (!FileExists(*options.FilesFrom)) throw EUsage("--files-from: cannot read " + *options.FilesFrom);
            std::ifstream in(*options.FilesFrom, std::ios::binary);
            if (!in) throw EUsage("--files-from: cannot read " + *options.FilesFrom);
            listed = ReadPathList(in, options.NulSeparated);
        }
        named.insert(named.end(), listed.begin(), listed.end());
    }
    std::vector<std::string> sources;
    for (std::string path : named) {
        // The window's list holds full paths; a relative one would put its
        // result "beside the source" inside the program's folder.
        if (!path.empty() && path[0] != '/') path = (fs::current_path() / path).string();
        // A file that is missing or refused stays in the list, as the window
        // keeps it, and its entry says what is wrong with it.
        if (DirectoryExists(path))
            AddFolder(path, options.Recursive, sources);
        else
            sources.push_back(path);
    }
    return sources;
}

std::vector<std::string> TakeShard(std::vector<std::string> sources, const TShard& shard) {
    for (std::string& s : sources) s = fs::path(s).lexically_normal().string();
    std::sort(sources.begin(), sources.end());
    sources.erase(std::unique(sources.begin(), sources.end()), sources.end());
    std::vector<std::string> mine;
    for (size_t i = static_cast<size_t>(shard.K - 1); i < sources.size(); i += static_cast<size_t>(shard.N))
        mine.push_back(sources[i]);
    return mine;
}

}  // namespace vmk::cli
