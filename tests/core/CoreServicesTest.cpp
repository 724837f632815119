#include <gtest/gtest.h>
#include <filesystem>
#include <limits>

#include "TempFolder.h"
#include "core/Exception.h"
#include "core/FileUtils.h"
#include "core/Saturate.h"
#include "core/Streams.h"
#include "core/StringList.h"

using namespace vmk;

namespace {

size_t FilesIn(const std::string& folder) {
    size_t n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(folder)) ++n;
    return n;
}

}  // namespace

TEST(StringList, KeepsOrderAndDuplicatesAndNamesABadIndex) {
    TStringList list;
    list.Add("b");
    list.Add("a");
    list.Add("b");
    list.Insert(0, "first");
    list.Insert(4, "last");  // inserting at the end is allowed
    EXPECT_EQ(list.Items(), (std::vector<std::string>{"first", "b", "a", "b", "last"}));
    EXPECT_EQ(list.IndexOf("b"), 1);
    EXPECT_EQ(list.IndexOf("B"), -1);
    list.Delete(1);
    EXPECT_EQ(list[1], "a");

    for (const int bad : {-1, 4}) {
        try {
            list.Get(bad);
            FAIL() << bad;
        } catch (const EListError& e) {
            EXPECT_EQ(e.Message(), "List index out of bounds (" + std::to_string(bad) + ")");
        }
    }
    EXPECT_THROW(list.Put(4, "x"), EListError);
    EXPECT_THROW(list.Delete(-1), EListError);
    EXPECT_THROW(list.Insert(6, "x"), EListError);
    EXPECT_EQ(list.GetCount(), 4);
}

TEST(Streams, MemoryStreamReadsWritesAndSeeks) {
    TMemoryStream s;
    s.WriteBuffer("hello", 5);
    s.SetPosition(2);
    s.WriteBuffer("LLO!", 4);  // overwrites and grows
    EXPECT_EQ(s.GetSize(), 6);
    char buf[8] = {};
    s.SetPosition(0);
    EXPECT_EQ(s.Read(buf, 100), 6);  // a short read is not an error
    EXPECT_STREQ(buf, "heLLO!");
    EXPECT_EQ(s.Read(buf, 1), 0);
    s.SetPosition(4);
    EXPECT_THROW(s.ReadBuffer(buf, 3), EReadError);  // ReadBuffer insists on all of it
    EXPECT_EQ(s.Seek(-100, TSeekOrigin::Current), 0);
    EXPECT_EQ(s.Seek(-1, TSeekOrigin::End), 5);
    s.SetSize(2);
    EXPECT_EQ(s.GetPosition(), 2);

    TMemoryStream copy;
    copy.CopyFrom(s, 0);  // 0 copies everything from the start
    EXPECT_EQ(copy.Bytes(), (std::vector<uint8_t>{'h', 'e'}));
}

TEST(Streams, FilesAreReplacedWholeOrNotAtAll) {
    TempFolder temp;
    const std::string target = temp.Path("out.bin");
    WriteWholeFile(target, "old");
    {
        TSafeFileStream file(target);
        file.WriteBuffer("new data", 8);
        // Destroyed without Commit: the target stays as it was.
    }
    EXPECT_EQ(ReadWholeFile(target), "old");
    EXPECT_EQ(FilesIn(temp.Path()), 1u);
    {
        TSafeFileStream file(target);
        file.WriteBuffer("new data", 8);
        file.Commit();
    }
    EXPECT_EQ(ReadWholeFile(target), "new data");
    EXPECT_EQ(FilesIn(temp.Path()), 1u);

    TMemoryStream m;
    m.LoadFromFile(target);
    EXPECT_EQ(m.GetSize(), 8);
    m.SaveToFile(temp.Path("copy.bin"));
    EXPECT_EQ(ReadWholeFile(temp.Path("copy.bin")), "new data");

    EXPECT_THROW(TFileStream(temp.Path("missing"), TFileMode::OpenRead), EFOpenError);
    EXPECT_THROW(TFileStream(temp.Path(), TFileMode::OpenRead), EFOpenError);  // a folder
    EXPECT_THROW(TSafeFileStream(temp.Path("no/such/folder/x")), EFCreateError);
    std::filesystem::create_directory(temp.Path("dir"));
    EXPECT_THROW(TSafeFileStream(temp.Path("dir")), EFCreateError);
}

TEST(FileUtils, PathPartsUseTheSlashOnly) {
    EXPECT_EQ(ExtractFileExt("a.b.jpg"), ".jpg");
    EXPECT_EQ(ExtractFileExt("/x/Photo.JPeG"), ".JPeG");
    EXPECT_EQ(ExtractFileExt("/x.d/name"), "");
    EXPECT_EQ(ExtractFileExt("/x/name."), ".");
    EXPECT_EQ(ExtractFileExt("/x/.hidden"), ".hidden");
    EXPECT_EQ(ExtractFileExt(""), "");
    EXPECT_EQ(ExtractFileName("/home/me/a.bmp"), "a.bmp");
    EXPECT_EQ(ExtractFileName("a.bmp"), "a.bmp");
    EXPECT_EQ(ExtractFileName("/home/me/"), "");
    EXPECT_EQ(ExtractFileName("C:\\pics\\a.bmp"), "C:\\pics\\a.bmp");  // "\" is no separator here
    EXPECT_EQ(ExtractFilePath("/home/me/a.bmp"), "/home/me/");
    EXPECT_EQ(ExtractFilePath("a.bmp"), "");
    EXPECT_EQ(ExtractFilePath("/a.bmp"), "/");
    EXPECT_EQ(ExtractFileDrive("/home/me/a.bmp"), "");
    EXPECT_EQ(LowerCase("ÄÖ.JPG"), "äö.jpg");
    EXPECT_EQ(LowerCase(std::string("A\xff"
                                    "B")),
              std::string("a\xff"
                          "b"));  // bad UTF-8 kept
}

TEST(FileUtils, PicturesAndBitmapsAreToldByTheLastNamesExtensionInAnyCase) {
    for (const char* yes : {"a.bmp", "A.BMP", "dir/x.Jpg", "x.JPEG", ".jpeg", "x.y.jpg", "a.PNG", "a.WebP", "a.tif",
                            "a.TIFF", "a.heic", "a.HEIF", "a.Avif"})
        EXPECT_TRUE(IsPicturePath(yes)) << yes;
    for (const char* no : {"", "bmp", "a.bmp.txt", "a.jpe", "a.bmp ", "pics.jpg/readme", "a.bm", "a.gif", "a.tiff.x",
                           "a.webpx", "a.hei"})
        EXPECT_FALSE(IsPicturePath(no)) << no;
    EXPECT_TRUE(IsBitmapPath("Cover.BmP"));
    for (const char* no : {"cover.jpg", "cover.jpeg", "covers.bmp/logo", "cover.dib", ""})
        EXPECT_FALSE(IsBitmapPath(no)) << no;
}

TEST(Saturate, SumsStopAtTheEndsOfIntsRangeInsteadOfWrapping) {
    constexpr int kMax = std::numeric_limits<int>::max();
    constexpr int kMin = std::numeric_limits<int>::min();
    constexpr int64_t kWideMax = std::numeric_limits<int64_t>::max();
    constexpr int64_t kWideMin = std::numeric_limits<int64_t>::min();
    EXPECT_EQ(SaturatingAdd(5, -7), -2);
    EXPECT_EQ(SaturatingAdd(kMax, 0), kMax);
    EXPECT_EQ(SaturatingAdd(kMax, 1), kMax);
    EXPECT_EQ(SaturatingAdd(kMax - 1, 1), kMax);
    EXPECT_EQ(SaturatingAdd(kMin, -1), kMin);
    EXPECT_EQ(SaturatingAdd(kMin + 10, -10), kMin);
    EXPECT_EQ(SaturatingAdd(kMax, int64_t{kMin}), -1);
    // Operands beyond 32 bits, even where the 64-bit sum itself would overflow.
    EXPECT_EQ(SaturatingAdd(kWideMax, 1), kMax);
    EXPECT_EQ(SaturatingAdd(kWideMin, -1), kMin);
    EXPECT_EQ(SaturatingAdd(kWideMin, kWideMax), -1);  // huge operands may still cancel
    EXPECT_EQ(SaturatingAdd(int64_t{1} << 40, -(int64_t{1} << 40) + 3), 3);
}

TEST(FileUtils, FoldersAndFiles) {
    TempFolder temp;
    const std::string nested = temp.Path("one/two/three/");
    EXPECT_TRUE(ForceDirectories(nested));
    EXPECT_TRUE(DirectoryExists(nested));
    EXPECT_TRUE(ForceDirectories(nested));  // already there
    EXPECT_FALSE(FileExists(nested));       // a folder is no file

    const std::string file = temp.Path("one/f.txt");
    WriteWholeFile(file, "x");
    EXPECT_TRUE(FileExists(file));
    EXPECT_FALSE(ForceDirectories(file + "/sub"));  // a file stands in the way
    EXPECT_FALSE(ForceDirectories(""));
    EXPECT_TRUE(DeleteFile(file));
    EXPECT_FALSE(FileExists(file));
    EXPECT_FALSE(DeleteFile(file));
    EXPECT_FALSE(FileExists(""));

    const std::string folder = ApplicationFolder();
    ASSERT_FALSE(folder.empty());
    EXPECT_EQ(folder.back(), '/');
    EXPECT_TRUE(FileExists(ApplicationExeName()));
    SetApplicationFolder("/opt/elsewhere/");
    EXPECT_EQ(ApplicationFolder(), "/opt/elsewhere/");
    SetApplicationFolder("");
    EXPECT_EQ(ApplicationFolder(), folder);
}
