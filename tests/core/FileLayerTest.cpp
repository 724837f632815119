// Safe writes against shared folders, long names, links and full disks.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>
#include <filesystem>
#include <functional>
#include <regex>

#include "TempFolder.h"
#include "core/Exception.h"
#include "core/FileUtils.h"
#include "core/Streams.h"
#include "support/FileSizeLimit.h"

using namespace vmk;
namespace fs = std::filesystem;

namespace {

std::vector<std::string> EntriesIn(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

void Save(const std::string& target, const std::string& data) {
    TSafeFileStream file(target);
    file.WriteBuffer(data.data(), static_cast<int64_t>(data.size()));
    file.Commit();
}

}  // namespace

TEST(FileLayer, TemporaryNamesAreShortRandomAndOurs) {
    TempFolder temp;
    {
        TSafeFileStream one(temp.Path("a.jpg")), two(temp.Path("a.jpg"));
        const auto names = EntriesIn(temp.Path());
        ASSERT_EQ(names.size(), 2u);  // two at once, under different names
        for (const auto& name : names)
            EXPECT_TRUE(std::regex_match(name, std::regex("vellumark-[A-Za-z0-9]{8}\\.tmp"))) << name;
    }
    const std::string longest = temp.Path(std::string(255, 'n'));  // the longest name a folder takes
    Save(longest, "long");
    EXPECT_EQ(EntriesIn(temp.Path()), std::vector<std::string>{std::string(255, 'n')});
}

TEST(FileLayer, LinksAreWrittenThroughAsAPlainOverwriteWould) {
    TempFolder temp;
    fs::create_directory(temp.Path("real"));
    fs::create_symlink("real/old.bmp", temp.Path("result.bmp"));  // relative to the link's folder
    Save(temp.Path("result.bmp"), "1");
    EXPECT_TRUE(fs::is_symlink(temp.Path("result.bmp")));
    EXPECT_EQ(ReadWholeFile(temp.Path("real/old.bmp")), "1");
    fs::create_symlink(temp.Path("loop2"), temp.Path("loop1"));
    fs::create_symlink(temp.Path("loop1"), temp.Path("loop2"));
    EXPECT_THROW(Save(temp.Path("loop1"), "x"), EFCreateError);
}

namespace {

// Runs check in a child process as a user who may not make files in a folder of
// mode 0555 (root may: the child gives up root for the nobody account). The
// child's exit code: 0 when check held, 77 when no such user can be had.
int AsOrdinaryUser(const std::function<bool()>& check) {
    const pid_t child = fork();
    if (child == 0) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(77);
        bool held = false;
        try {
            held = check();
        } catch (...) {
        }
        _exit(held ? 0 : 1);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

}  // namespace

// A file rewritten in place (its folder takes no new files) on a disk that is
// full fails before a byte of the old file changes.
TEST(FileLayer, AFullDiskLeavesAFileRewrittenInPlaceWhole) {
    TempFolder temp;
    const std::string target = temp.Path("shared/result.bmp");
    fs::create_directory(temp.Path("shared"));
    const std::string old(300, 'o');
    WriteWholeFile(target, old);
    fs::permissions(temp.Path(), fs::perms::owner_all | fs::perms::others_exec);
    fs::permissions(target, fs::perms::all & ~(fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec));
    fs::permissions(temp.Path("shared"), fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                                             fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec);
    const int code = AsOrdinaryUser([&] {
        const std::string bigger(5000, 'n');
        {
            TSafeFileStream file(target);
            file.WriteBuffer(bigger.data(), static_cast<int64_t>(bigger.size()));
            const FileSizeLimit limit(1000);
            try {
                file.Commit();
                return false;
            } catch (const EWriteError& e) {
                if (std::string(e.what()) != "Cannot write file \"" + target + "\". File too large") return false;
            }
        }
        if (ReadWholeFile(target) != old) return false;
        // With room it is rewritten whole, a longer old file cut to the new length.
        Save(target, "short");
        return ReadWholeFile(target) == "short" &&
               EntriesIn(temp.Path("shared")) == std::vector<std::string>{"result.bmp"};
    });
    fs::permissions(temp.Path("shared"), fs::perms::owner_all, fs::perm_options::add);
    if (code == 77) GTEST_SKIP() << "no unprivileged account to write as";
    EXPECT_EQ(code, 0);
    EXPECT_EQ(ReadWholeFile(target), "short");
}

// A read that fails is an error naming the file and the reason, never the end
// of the file: here the first page of memory, which no process has.
TEST(FileLayer, AReadErrorIsNoEndOfFile) {
    TFileStream memory("/proc/self/mem", TFileMode::OpenRead);
    char bytes[16];
    try {
        memory.Read(bytes, sizeof bytes);
        ADD_FAILURE() << "read as the end of the file";
    } catch (const EReadError& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot read file \"/proc/self/mem\". Input/output error");
    }
}

// Without a flush per file a new file is still written whole, and one that
// replaces another keeps its mode; every file system is flushed once, and a
// folder that cannot be reached is named.
TEST(FileLayer, CommitsLeftForOneFlushOfEveryFileSystem) {
    TempFolder temp;
    Save(temp.Path("old.bin"), "old");
    fs::permissions(temp.Path("old.bin"), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    for (const char* name : {"new.bin", "old.bin"}) {
        TSafeFileStream file(temp.Path(name));
        file.WriteBuffer("fresh", 5);
        file.Commit(TSafeFileStream::TFlush::WhenReplacing);
    }
    EXPECT_EQ(ReadWholeFile(temp.Path("new.bin")), "fresh");
    EXPECT_EQ(ReadWholeFile(temp.Path("old.bin")), "fresh");
    EXPECT_EQ(fs::status(temp.Path("old.bin")).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(EntriesIn(temp.Path()), (std::vector<std::string>{"new.bin", "old.bin"}));

    fs::create_directory(temp.Path("sub"));
    EXPECT_NO_THROW(SyncFileSystems({temp.Path(), temp.Path("sub/"), "/", "/proc/"}));
    EXPECT_NO_THROW(SyncFileSystems({}));
    try {
        SyncFileSystems({temp.Path(), temp.Path("gone/")});
        ADD_FAILURE() << "a missing folder passed";
    } catch (const EWriteError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Cannot write to folder \"" + temp.Path("gone/") + "\". No such file or directory");
    }
}
