// Set-up files: the window's settings saved to and loaded from a file of the
// settings store's own format, so that a set-up per client can be kept and
// shared, and read by the command line's --settings.

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/MainForm.h"
#include "app/Settings.h"
#include "compose/StoredSettings.h"
#include "core/Exception.h"
#include "core/FileUtils.h"
#include "core/Registry.h"

namespace vmk {

namespace {

bool Among(const std::vector<std::string>& names, const std::string& name) {
    for (const std::string& n : names)
        if (LowerCase(n) == LowerCase(name)) return true;
    return false;
}

// A long list of what was passed over is cut, so the box fits on the screen.
constexpr size_t kMostSkippedShown = 20;
constexpr size_t kLongestLineShown = 60;

}  // namespace

void SaveSettingsToFile(TMainForm& form, const std::string& path) {
    const std::string failed = "Cannot save the settings to \"" + ShownPath(path) + "\". ";
    if (HasNulCharacter(path) || path.empty() || DirectoryExists(path)) throw EFCreateError(failed);
    // Made beside the file and renamed over it: an older set-up is replaced
    // whole, never merged into, and a save that fails leaves it as it was.
    std::string temp = path + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) throw EFCreateError(failed + std::strerror(errno));
    ::close(fd);
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::chmod(temp.c_str(), 0666 & ~mask);
    try {
        TRegistry reg(temp);
        reg.SetRootKey(HKEY_LOCAL_MACHINE);
        reg.BeginBatch();
        if (!reg.OpenKey(kSettingsKey, true)) throw EFCreateError(failed);
        WriteSettingsTo(form, reg);
        reg.CommitBatch();
        if (std::rename(temp.c_str(), path.c_str()) != 0) throw EFCreateError(failed + std::strerror(errno));
    } catch (...) {
        std::remove(temp.c_str());
        throw;
    }
}

std::vector<std::string> LoadSettingsFromFile(TMainForm& form, const std::string& path) {
    if (!FileExists(path)) throw EFOpenError("Cannot open file \"" + ShownPath(path) + "\".");
    TRegistry reg(path);
    reg.SetRootKey(HKEY_LOCAL_MACHINE);
    if (!reg.KeyExists(kSettingsKey))
        throw ERegistryException("\"" + ShownPath(path) + "\" holds no Vellumark settings. Nothing was loaded.");
    LoadSettingsFrom(form, reg);
    // What the load did not take: names it never asked for, values it refused.
    std::vector<std::string> skipped;
    if (reg.OpenKey(kSettingsKey, false)) {
        for (const std::string& name : reg.GetValueNames()) {
            if (!Among(reg.GetAskedNames(), name))
                skipped.push_back("\"" + name + "\": unknown setting");
            else if (Among(reg.GetRefusedNames(), name))
                skipped.push_back("\"" + name + "\": damaged value");
        }
        for (std::string line : reg.GetStrayLines()) {
            if (line.size() > kLongestLineShown) line = line.substr(0, kLongestLineShown) + "...";
            skipped.push_back(ShownPath(line) + ": not a setting");
        }
        reg.CloseKey();
    }
    return skipped;
}

void TMainForm::SaveSettingsClick(TObject*) {
    if (!SaveSettingsDialog->Execute()) return;
    SaveSettingsToFile(*this, SaveSettingsDialog->GetFileName());
}

void TMainForm::LoadSettingsClick(TObject*) {
    if (!LoadSettingsDialog->Execute()) return;
    const std::string path = LoadSettingsDialog->GetFileName();
    const std::vector<std::string> skipped = LoadSettingsFromFile(*this, path);
    if (skipped.empty()) return;
    std::string text = "The settings of \"" + ShownPath(path) + "\" were loaded, except:";
    for (size_t i = 0; i < skipped.size() && i < kMostSkippedShown; ++i) text += "\r\n" + skipped[i];
    if (skipped.size() > kMostSkippedShown)
        text += "\r\n... and " + std::to_string(skipped.size() - kMostSkippedShown) + " more.";
    ShowMessage(text);
}

}  // namespace vmk
