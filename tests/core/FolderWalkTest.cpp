#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "core/Exception.h"
#include "core/FolderWalk.h"
#include "core/StringList.h"
#include "core/TempFolder.h"

namespace fs = std::filesystem;
using vmk::NaturalLess;
using vmk::RelativeFolder;
using vmk::WalkFolder;

TEST(NaturalOrder, NumbersByValueLettersWithoutCaseAndATotalOrder) {
    std::vector<std::string> names = {"IMG_10.jpg",  "img_9.jpg", "IMG_2.jpg",
                                      "IMG_002.jpg", "IMG_1.jpg", "b.jpg",
                                      "A.jpg",       "a.jpg",     "x99999999999999999999999.jpg",
                                      "x1000.jpg",   "IMG_.jpg"};
    std::sort(names.begin(), names.end(), NaturalLess);
    EXPECT_EQ(names,
              (std::vector<std::string>{"A.jpg", "a.jpg", "b.jpg", "IMG_.jpg", "IMG_1.jpg", "IMG_002.jpg", "IMG_2.jpg",
                                        "img_9.jpg", "IMG_10.jpg", "x1000.jpg", "x99999999999999999999999.jpg"}));
    // Strict weak order: nothing is less than itself, and ties never go both ways.
    for (const std::string& a : names) {
        EXPECT_FALSE(NaturalLess(a, a));
        for (const std::string& b : names) EXPECT_FALSE(NaturalLess(a, b) && NaturalLess(b, a));
    }
}

TEST(FolderWalk, FolderByFolderInNaturalOrderWithoutHiddenEntriesOrLinkedFolders) {
    TempFolder temp;
    const std::string root = temp.Path("shoot");
    for (const char* dir : {"shoot/day10", "shoot/day2/inner", "shoot/.cache", "outside"})
        fs::create_directories(temp.Path(dir));
    for (const char* file :
         {"shoot/IMG_10.JPG", "shoot/IMG_2.jpg", "shoot/notes.txt", "shoot/.hidden.jpg", "shoot/day2/b.png",
          "shoot/day2/a.bmp", "shoot/day2/inner/c.jpeg", "shoot/day10/d.webp", "shoot/.cache/e.jpg", "outside/o.jpg"})
        std::ofstream(temp.Path(file)) << "x";
    fs::create_directory(temp.Path("shoot/folder.jpg"));                         // a folder named like a picture
    fs::create_directory_symlink(temp.Path("outside"), temp.Path("shoot/out"));  // leads out
    fs::create_directory_symlink(root, temp.Path("shoot/day2/loop"));            // leads back in
    fs::create_symlink(temp.Path("outside/o.jpg"), temp.Path("shoot/linked.jpg"));
    fs::create_symlink(temp.Path("nothing.jpg"), temp.Path("shoot/dangling.jpg"));

    EXPECT_EQ(WalkFolder(root, false).Pictures,
              (std::vector<std::string>{root + "/IMG_2.jpg", root + "/IMG_10.JPG", root + "/linked.jpg"}));
    const vmk::TFolderPictures deep = WalkFolder(root + "/", true);
    EXPECT_EQ(deep.Pictures, (std::vector<std::string>{root + "/IMG_2.jpg", root + "/IMG_10.JPG", root + "/linked.jpg",
                                                       root + "/day2/a.bmp", root + "/day2/b.png",
                                                       root + "/day2/inner/c.jpeg", root + "/day10/d.webp"}));
    EXPECT_TRUE(deep.Unreadable.empty());
    EXPECT_TRUE(WalkFolder(temp.Path("missing"), true).Pictures.empty());
}

TEST(FolderWalk, AFolderThatCannotBeListedIsNamedAndTheRestTaken) {
    if (geteuid() == 0) GTEST_SKIP() << "root lists every folder";
    TempFolder temp;
    fs::create_directories(temp.Path("top/locked"));
    std::ofstream(temp.Path("top/a.jpg")) << "x";
    std::ofstream(temp.Path("top/locked/b.jpg")) << "x";
    chmod(temp.Path("top/locked").c_str(), 0);
    const vmk::TFolderPictures found = WalkFolder(temp.Path("top"), true);
    chmod(temp.Path("top/locked").c_str(), 0700);
    EXPECT_EQ(found.Pictures, std::vector<std::string>{temp.Path("top/a.jpg")});
    EXPECT_EQ(found.Unreadable, std::vector<std::string>{temp.Path("top/locked")});
}

TEST(FolderWalk, RelativeFolderLeadsOnlyDownFromTheRoot) {
    EXPECT_EQ(RelativeFolder("/p/shoot", "/p/shoot/day2/inner/c.jpg"), "day2/inner/");
    EXPECT_EQ(RelativeFolder("/p/shoot/", "/p/shoot/day2/c.jpg"), "day2/");
    EXPECT_EQ(RelativeFolder("/p/shoot", "/p/shoot/c.jpg"), "");
    EXPECT_EQ(RelativeFolder("", "/p/shoot/day2/c.jpg"), "");
    EXPECT_EQ(RelativeFolder("/p/shoot", "/p/shootout/day2/c.jpg"), "");  // a sibling sharing the start
    EXPECT_EQ(RelativeFolder("/p/shoot", "/p/shoot/../up/c.jpg"), "");
    EXPECT_EQ(RelativeFolder("/p/shoot", "/p/shoot/a//c.jpg"), "");
    EXPECT_EQ(RelativeFolder("/", "/day2/c.jpg"), "day2/");
}

TEST(StringListTags, ATagGoesWithItsLineAndALineAddedWithoutOneHasNone) {
    vmk::TStringList list;
    list.Add("one");
    list.AddStrings({"a/x", "a/y", "a/z"}, "a");
    list.AddStrings({"two"});
    list.Insert(1, "inserted");
    EXPECT_EQ(list.GetTag(0), "");
    EXPECT_EQ(list.GetTag(1), "");
    EXPECT_EQ(list.GetTag(2), "a");
    list.Delete(2);  // a/x: the others keep theirs
    EXPECT_EQ(list.Get(2), "a/y");
    EXPECT_EQ(list.GetTag(2), "a");
    EXPECT_EQ(list.GetTag(3), "a");
    EXPECT_EQ(list.GetTag(4), "");
    list.Put(2, "replaced");
    EXPECT_EQ(list.GetTag(2), "");
    list.Clear();
    list.Add("again");
    EXPECT_EQ(list.GetTag(0), "");
    EXPECT_THROW(list.GetTag(1), vmk::EListError);
}
