// Which earlier result a source of the batch must wait for: the same file under
// any name, a hard link included, and a result not yet made by its path.

#include <gtest/gtest.h>
#include <filesystem>

#include "compose/BatchRun.h"
#include "core/TempFolder.h"

using namespace vmk;
namespace fs = std::filesystem;

TEST(PlanBatch, ASourceWaitsForTheResultThatIsItsFile) {
    const TempFolder temp;
    fs::create_directories(temp.Path("out"));
    fs::create_directories(temp.Path("elsewhere"));
    for (const char* name : {"a.bmp", "b.bmp", "c.bmp", "out/VMK_a.bmp"}) WriteWholeFile(temp.Path(name), "BM");
    // Another name of a's result as it stands now (stale, about to be replaced).
    fs::create_hard_link(temp.Path("out/VMK_a.bmp"), temp.Path("elsewhere/linked.bmp"));
    fs::create_directory_symlink(temp.Path("out"), temp.Path("shortcut"));

    TOutputSettings output;
    output.Path = temp.Path("out");
    output.FileFix = kDefaultFileFix;
    const auto entries = PlanBatch({temp.Path("a.bmp"), temp.Path("b.bmp"), temp.Path("elsewhere/linked.bmp"),
                                    temp.Path("shortcut/VMK_b.bmp"), temp.Path("c.bmp"), temp.Path("out/VMK_B.BMP")},
                                   output, temp.Path());
    ASSERT_EQ(entries.size(), 6u);
    EXPECT_EQ(entries[0].ReadAfter, -1);
    EXPECT_EQ(entries[1].ReadAfter, -1);
    EXPECT_EQ(entries[2].ReadAfter, 0);  // a hard link to a's result
    EXPECT_EQ(entries[3].ReadAfter, 1);  // b's result, not made yet, through a link to its folder
    EXPECT_EQ(entries[4].ReadAfter, -1);
    EXPECT_EQ(entries[5].ReadAfter, 1);  // case aside, b's result again
    EXPECT_EQ(entries[2].Target, temp.Path("out/VMK_linked.bmp"));
}

TEST(PlanBatch, KeptSubfoldersLieBelowTheOutputFolderOnlyWhenOneIsSet) {
    const TempFolder temp;
    TOutputSettings output;
    output.FileFix = kDefaultFileFix;
    output.SaveAs = TSaveAs::AsIs;
    output.Path = temp.Path("out");
    const std::string root = temp.Path("shoot");
    const std::vector<std::string> sources = {root + "/a.jpg", root + "/day2/b.jpg", root + "/day2/late/c.jpg",
                                              temp.Path("one.jpg"), root + "/day2/b.jpg"};
    const std::vector<std::string> roots = {root, root + "/", root, "", ""};
    const auto kept = PlanBatch(sources, roots, output, temp.Path());
    ASSERT_EQ(kept.size(), 5u);
    EXPECT_EQ(kept[0].Target, temp.Path("out/VMK_a.jpg"));
    EXPECT_EQ(kept[1].Folder, temp.Path("out/day2/"));
    EXPECT_EQ(kept[1].Target, temp.Path("out/day2/VMK_b.jpg"));
    EXPECT_EQ(kept[2].Target, temp.Path("out/day2/late/VMK_c.jpg"));
    EXPECT_EQ(kept[3].Target, temp.Path("out/VMK_one.jpg"));
    EXPECT_EQ(kept[4].Target, temp.Path("out/VMK_b.jpg"));  // added on its own: today's rule

    // Without roots, and without an output folder, the rules of today.
    EXPECT_EQ(PlanBatch(sources, {}, output, temp.Path())[2].Target, temp.Path("out/VMK_c.jpg"));
    output.Path.clear();
    EXPECT_EQ(PlanBatch(sources, roots, output, temp.Path())[2].Target, root + "/day2/late/VMK_c.jpg");
}
