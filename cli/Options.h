#pragma once

// The command line of vellumark-batch: what it asks for, read into one value.
// Every setting of the composing steps is one row of a table (Options.cpp),
// which the parser, the help text and the manual page's list follow.

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "compose/StoredSettings.h"

namespace vmk::cli {

// A command line that cannot be run: the message names the option and what
// it allows. Exit status 2.
class EUsage : public std::exception {
public:
    explicit EUsage(std::string message) : message_(std::move(message)) {}
    const char* what() const noexcept override { return message_.c_str(); }

private:
    std::string message_;
};

struct TShard {
    int K = 1;  // 1-based
    int N = 1;
};

struct TOptions {
    // Settings given on the command line, applied in order over the store's.
    std::vector<std::function<void(TStoredSettings&)>> Settings;
    std::optional<std::string> SettingsFile;
    std::vector<std::string> Inputs;  // files and folders, in order
    std::optional<std::string> FilesFrom;
    bool NulSeparated = false;
    bool Recursive = false;
    // Results of pictures found in a folder's subfolders go into the same
    // subfolders under the output folder.
    bool KeepSubfolders = false;
    int Jobs = 0;  // every core
    std::optional<TShard> Shard;
    bool DryRun = false;
    bool Json = false;
    bool Verbose = false;
    bool Help = false;
    bool Version = false;
};

// Reads argv[1..]. Throws EUsage.
TOptions ParseOptions(const std::vector<std::string>& args);

// The text --help prints: every option with its default.
std::string HelpText();

}  // namespace vmk::cli
