#include "cli/Inputs.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>

#include "core/FileUtils.h"
#include "core/FolderWalk.h"

namespace vmk::cli {

namespace fs = std::filesystem;

void AddFolder(const std::string& folder, bool recursive, std::vector<std::string>& out) {
    const TFolderPictures found = WalkFolder(folder, recursive);
    for (const std::string& unreadable : found.Unreadable)
        std::cerr << "vellumark-batch: cannot read folder " << unreadable << "\n";
    out.insert(out.end(), found.Pictures.begin(), found.Pictures.end());
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

std::vector<std::string> GatherSources(const TOptions& options, std::vector<std::string>* roots) {
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
        if (roots) roots->resize(sources.size(), DirectoryExists(path) ? path : std::string());
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
