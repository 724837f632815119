// The file layer against odd and hostile names, file types and permissions.

#include <filesystem>
#include <gtest/gtest.h>
#include <regex>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

#include "TempFolder.h"
#include "core/Exception.h"
#include "core/FileUtils.h"
#include "core/Streams.h"
#include "support/AsNobody.h"
#include "support/FileSizeLimit.h"

using namespace vmk;
namespace fs = std::filesystem;

namespace {

std::set<std::string> EntriesIn(const std::string& folder) {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) names.insert(e.path().filename().string());
    return names;
}

template <typename E, typename F>
std::string MessageOf(F&& action) {
    try {
        action();
    } catch (const E& e) {
        return e.Message();
    }
    return "(nothing thrown)";
}

void Save(const std::string& target, const std::string& data) {
    TSafeFileStream file(target);
    file.WriteBuffer(data.data(), static_cast<int64_t>(data.size()));
    file.Commit();
}

}  // namespace

// Pipes and devices: opening one to read blocks until a writer comes, reading a
// device may never end. None of them is a picture file.
TEST(FileLayer, OnlyRegularFilesAreOpened) {
    TempFolder temp;
    const std::string fifo = temp.Path("pipe.bmp");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string file = temp.Path("real.bmp");
    WriteWholeFile(file, "BM");
    fs::create_symlink(file, temp.Path("link.bmp"));
    fs::create_symlink(fifo, temp.Path("link-to-pipe.bmp"));

    EXPECT_TRUE(FileExists(file));
    EXPECT_TRUE(FileExists(temp.Path("link.bmp")));
    for (const std::string& odd : {fifo, temp.Path("link-to-pipe.bmp"), std::string("/dev/null"),
                                   std::string("/dev/zero"), temp.Path()}) {
        SCOPED_TRACE(odd);
        EXPECT_FALSE(FileExists(odd));
        EXPECT_NE(MessageOf<EFOpenError>([&] { TFileStream s(odd, TFileMode::OpenRead); }).find(
                      "Cannot open file \"" + odd + "\". It is "),
                  std::string::npos);
    }
    EXPECT_EQ(MessageOf<EFOpenError>([&] { TFileStream s(fifo, TFileMode::OpenRead); }),
              "Cannot open file \"" + fifo + "\". It is not a regular file.");
    TMemoryStream m;
    EXPECT_THROW(m.LoadFromFile("/dev/zero"), EFOpenError);

    // Writing one is refused too, and the pipe stays what it was.
    EXPECT_EQ(MessageOf<EFCreateError>([&] { TSafeFileStream s(fifo); }),
              "Cannot create file \"" + fifo + "\". It is not a regular file.");
    struct stat info {};
    ASSERT_EQ(lstat(fifo.c_str(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode));
    EXPECT_EQ(EntriesIn(temp.Path()), (std::set<std::string>{"pipe.bmp", "real.bmp", "link.bmp", "link-to-pipe.bmp"}));
}

// The system reads a name up to its first NUL: "pre\0x.bmp" would be "pre".
TEST(FileLayer, NamesWithANulNameNoFile) {
    TempFolder temp;
    WriteWholeFile(temp.Path("a"), "keep");
    const std::string cut = temp.Path("a") + std::string(1, '\0') + ".bmp";

    EXPECT_FALSE(FileExists(cut));
    EXPECT_FALSE(EntryExists(cut));
    EXPECT_FALSE(DirectoryExists(temp.Path() + std::string(1, '\0')));
    EXPECT_FALSE(DeleteFile(cut));
    EXPECT_FALSE(ForceDirectories(temp.Path("a") + std::string(1, '\0') + "/sub"));
    EXPECT_EQ(MessageOf<EFOpenError>([&] { TFileStream s(cut, TFileMode::OpenRead); }),
              "Cannot open file \"" + temp.Path("a") + "\\0.bmp\". The name holds a NUL character.");
    EXPECT_EQ(MessageOf<EFCreateError>([&] { Save(cut, "new"); }),
              "Cannot create file \"" + temp.Path("a") + "\\0.bmp\". The name holds a NUL character.");
    EXPECT_EQ(ReadWholeFile(temp.Path("a")), "keep");
    EXPECT_EQ(EntriesIn(temp.Path()), std::set<std::string>{"a"});
}

TEST(FileLayer, TemporaryFilesAreShortRandomAndRecognisable) {
    TempFolder temp;
    const std::regex ours("vellumark-[A-Za-z0-9]{8}\\.tmp");
    {
        TSafeFileStream one(temp.Path("one.jpg"));
        TSafeFileStream two(temp.Path("one.jpg"));
        const auto names = EntriesIn(temp.Path());
        ASSERT_EQ(names.size(), 2u);
        for (const auto& name : names) EXPECT_TRUE(std::regex_match(name, ours)) << name;
        one.WriteBuffer("1", 1);
        two.WriteBuffer("2", 1);
        one.Commit();
        two.Commit();  // the last to finish wins, as with two plain overwrites
    }
    EXPECT_EQ(ReadWholeFile(temp.Path("one.jpg")), "2");
    EXPECT_EQ(EntriesIn(temp.Path()), std::set<std::string>{"one.jpg"});

    // Any name the folder takes may be written, the longest included.
    const std::string longest(255, 'n');
    Save(temp.Path(longest), "long");
    EXPECT_EQ(ReadWholeFile(temp.Path(longest)), "long");
}

TEST(FileLayer, LinksAreWrittenThroughAsAPlainOverwriteWould) {
    TempFolder temp;
    fs::create_directory(temp.Path("real"));
    WriteWholeFile(temp.Path("real/old.bmp"), "old");
    fs::create_symlink("real/old.bmp", temp.Path("result.bmp"));  // relative to the link's folder
    Save(temp.Path("result.bmp"), "new");
    EXPECT_TRUE(fs::is_symlink(temp.Path("result.bmp")));
    EXPECT_EQ(ReadWholeFile(temp.Path("real/old.bmp")), "new");

    // A dangling link: the file it names is made.
    fs::create_symlink(temp.Path("real/made.bmp"), temp.Path("dangling.bmp"));
    Save(temp.Path("dangling.bmp"), "made");
    EXPECT_TRUE(fs::is_symlink(temp.Path("dangling.bmp")));
    EXPECT_EQ(ReadWholeFile(temp.Path("real/made.bmp")), "made");

    // A chain that loops ends in an error, not in a replaced link.
    fs::create_symlink(temp.Path("loop2"), temp.Path("loop1"));
    fs::create_symlink(temp.Path("loop1"), temp.Path("loop2"));
    EXPECT_EQ(MessageOf<EFCreateError>([&] { Save(temp.Path("loop1"), "x"); }),
              "Cannot create file \"" + temp.Path("loop1") + "\". Too many levels of symbolic links");
    EXPECT_TRUE(fs::is_symlink(temp.Path("loop1")));
}

TEST(FileLayer, AWriteTheDiskRefusesNamesTheFileAndTheReason) {
    TempFolder temp;
    const std::string target = temp.Path("big.bmp");
    WriteWholeFile(target, "old");
    const std::string data(1 << 20, 'x');
    std::string message;
    {
        const FileSizeLimit limit(4096);
        message = MessageOf<EWriteError>([&] { Save(target, data); });
    }
    EXPECT_EQ(message, "Cannot write file \"" + target + "\". File too large");
    EXPECT_EQ(ReadWholeFile(target), "old");
    EXPECT_EQ(EntriesIn(temp.Path()), std::set<std::string>{"big.bmp"});
}

TEST(FileLayer, PermissionsBindAsForAPlainOverwrite) {
    TempFolder temp;
    const std::string open = NobodysFolder(temp.Path(), "open");
    const std::string closed = NobodysFolder(temp.Path(), "closed");
    NobodysFile(open + "protected.bmp", "mine", 0444);
    NobodysFile(closed + "writable.bmp", "old old old", 0640);
    NobodysFile(closed + "protected.bmp", "mine", 0444);
    chmod(closed.c_str(), 0555);

    const auto outcome = AsNobody([&]() -> std::string {
        std::string wrong;
        // A file the user may not write is not replaced behind their back.
        const std::string denied = MessageOf<EFCreateError>([&] { Save(open + "protected.bmp", "new"); });
        if (denied != "Cannot create file \"" + open + "protected.bmp\". Permission denied")
            wrong += "protected: " + denied + "\n";
        // A writable file in a folder that takes no new files is rewritten in place.
        TSafeFileStream inPlace(closed + "writable.bmp");
        if (!inPlace.InPlace()) wrong += "not written in place\n";
        inPlace.WriteBuffer("new", 3);
        if (ReadWholeFile(closed + "writable.bmp") != "old old old") wrong += "changed before Commit\n";
        inPlace.Commit();
        if (ReadWholeFile(closed + "writable.bmp") != "new") wrong += "in place: " + ReadWholeFile(closed + "writable.bmp") + "\n";
        const std::string neither = MessageOf<EFCreateError>([&] { Save(closed + "protected.bmp", "new"); });
        if (neither.find("Permission denied") == std::string::npos) wrong += "closed protected: " + neither + "\n";
        const std::string fresh = MessageOf<EFCreateError>([&] { Save(closed + "fresh.bmp", "new"); });
        if (fresh != "Cannot create file \"" + closed + "fresh.bmp\". Permission denied") wrong += "fresh: " + fresh + "\n";
        return wrong;
    });
    if (!outcome) GTEST_SKIP() << "no user nobody";
    EXPECT_EQ(*outcome, "");
    EXPECT_EQ(ReadWholeFile(open + "protected.bmp"), "mine");
    EXPECT_EQ(ReadWholeFile(closed + "protected.bmp"), "mine");
    struct stat info {};
    ASSERT_EQ(stat((closed + "writable.bmp").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);  // the same file, its mode kept
    EXPECT_EQ(EntriesIn(open), std::set<std::string>{"protected.bmp"});
    EXPECT_EQ(EntriesIn(closed), (std::set<std::string>{"protected.bmp", "writable.bmp"}));
}

TEST(FileLayer, AReplacedFileKeepsItsMode) {
    TempFolder temp;
    const std::string target = temp.Path("shared.bmp");
    WriteWholeFile(target, "old");
    chmod(target.c_str(), 0604);
    Save(target, "new");
    struct stat info {};
    ASSERT_EQ(stat(target.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0604u);
}
