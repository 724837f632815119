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
