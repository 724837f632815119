#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "cli/Inputs.h"
#include "cli/Options.h"
#include "cli/Report.h"
#include "core/Registry.h"
#include "core/TempFolder.h"

using namespace vmk;
using namespace vmk::cli;

namespace {

TStoredSettings Applied(const std::vector<std::string>& args, TStoredSettings base = DefaultStoredSettings()) {
    for (const auto& apply : ParseOptions(args).Settings) apply(base);
    return base;
}

}  // namespace

TEST(CliOptions, SettingsGoOverTheStoreInOrder) {
    TStoredSettings stored = DefaultStoredSettings();
    stored.Output.FileFix = "store_";
    stored.Cover.TransColor = 0x123456;
    const TStoredSettings s =
        Applied({"--suffix", "_a", "--prefix=b_", "--key-colour", "FF8000", "--auto-detect", "--opaque", "--position",
                 "other", "--left", "-7", "--top=+9", "--format", "jpg", "--quality", "1"},
                stored);
    EXPECT_TRUE(s.Output.Prefix);
    EXPECT_EQ(s.Output.FileFix, "b_");
    EXPECT_EQ(s.Cover.TransColor, 0x0080FFu);  // RRGGBB in, 0xBBGGRR kept
    EXPECT_TRUE(s.Cover.AutoDetTrans);         // the later option wins
    EXPECT_FALSE(s.Cover.Transparent);
    EXPECT_EQ(s.Cover.Place, TCoverPlace::Other);
    EXPECT_EQ(s.Cover.Left, -7);
    EXPECT_EQ(s.Cover.Top, 9);
    EXPECT_EQ(s.Output.SaveAs, TSaveAs::JPG);
    EXPECT_EQ(s.Output.Quality, 1);
    // Options not given keep the store's values.
    EXPECT_EQ(Applied({}, stored).Output.FileFix, "store_");
}

TEST(CliOptions, EveryPlaceSizeAndFormatHasItsName) {
    for (const TPlaceName& p : kPlaceNames) EXPECT_EQ(Applied({"--position", p.Name}).Cover.Place, p.Place);
    for (const TPlaceName& p : kAnchorNames) EXPECT_EQ(Applied({"--position", p.Name}).Cover.Place, p.Place);
    for (const TSizingName& z : kSizingNames) EXPECT_EQ(Applied({"--size", z.Name}).Cover.Sizing, z.Sizing);
    for (const TFormatName& f : kFormatNames) EXPECT_EQ(Applied({"--format", f.Name}).Output.SaveAs, f.SaveAs);
    EXPECT_EQ(Applied({"--format", "png"}).Output.SaveAs, TSaveAs::PNG);
    EXPECT_EQ(Applied({"--format=webp"}).Output.SaveAs, TSaveAs::WEBP);
    EXPECT_EQ(Applied({"--format", "tiff"}).Output.SaveAs, TSaveAs::TIFF);
    EXPECT_EQ(Applied({"--position", "bc"}).Cover.Place, TCoverPlace::BC);
}

TEST(CliOptions, CoverMarginsOpacityAndSize) {
    const TStoredSettings s = Applied({"--margin-x", "4", "--margin-y=0", "--margin-percent", "--opacity", "70",
                                       "--size", "shorter", "--size-percent", "15"});
    EXPECT_EQ(s.Cover.MarginX, 4);
    EXPECT_EQ(s.Cover.MarginY, 0);
    EXPECT_TRUE(s.Cover.MarginPercent);
    EXPECT_EQ(s.Cover.Opacity, 70);
    EXPECT_EQ(s.Cover.Sizing, TCoverSizing::Shorter);
    EXPECT_EQ(s.Cover.SizePercent, 15);
    // Turning % on brings a larger margin to 100, as the window's check box does.
    const TStoredSettings pct = Applied({"--margin-x", "99999", "--margin-y", "100", "--margin-percent"});
    EXPECT_EQ(pct.Cover.MarginX, 100);
    EXPECT_EQ(pct.Cover.MarginY, 100);
    EXPECT_FALSE(Applied({"--margin-percent", "--margin-pixels"}).Cover.MarginPercent);
    EXPECT_EQ(Applied({"--opacity", "1"}).Cover.Opacity, 1);
    EXPECT_EQ(Applied({"--size-percent", "100"}).Cover.SizePercent, 100);
}

TEST(CliOptions, WrongValuesAreRefusedNamingOptionAndChoices) {
    const auto refusal = [](const std::vector<std::string>& args) {
        try {
            ParseOptions(args);
        } catch (const EUsage& e) {
            return std::string(e.what());
        }
        return std::string("accepted");
    };
    EXPECT_EQ(refusal({"--position", "TC"}),
              "--position: 'TC' is not allowed; allowed: lt|lb|rt|rb|other|tc|bc|lm|rm|cc");
    EXPECT_EQ(refusal({"--size", "longer"}), "--size: 'longer' is not allowed; allowed: as-is|width|height|shorter");
    EXPECT_EQ(refusal({"--format", "gif"}), "--format: 'gif' is not allowed; allowed: bmp|jpg|as-is|png|webp|tiff");
    for (const char* bad : {"0", "101", "-5", "", "7x", "50%"}) {
        SCOPED_TRACE(bad);
        EXPECT_EQ(refusal({"--opacity", bad}),
                  "--opacity: '" + std::string(bad) + "' is not allowed; give a whole number from 1 to 100");
        EXPECT_EQ(refusal({"--size-percent", bad}).rfind("--size-percent: '", 0), 0u);
    }
    for (const char* bad : {"-1", "100000", "4%", "x"}) {
        SCOPED_TRACE(bad);
        EXPECT_EQ(refusal({"--margin-x", bad}).rfind("--margin-x: '", 0), 0u);
        EXPECT_EQ(refusal({"--margin-y", bad}).rfind("--margin-y: '", 0), 0u);
    }
    EXPECT_EQ(refusal({"--margin-percent=1"}), "--margin-percent: takes no value");
    EXPECT_EQ(refusal({"--size"}), "--size: needs a value (as-is|width|height|shorter)");
}

TEST(CliOptions, HelpListsTheNewOptionsWithDefaults) {
    const std::string help = HelpText();
    for (const char* line :
         {"--position lt|lb|rt|rb|other|tc|bc|lm|rm|cc", "--margin-x N", "--margin-y N", "--margin-percent",
          "--margin-pixels", "--opacity N", "--size as-is|width|height|shorter", "--size-percent N",
          "--format bmp|jpg|as-is|png|webp|tiff", "[as-is]", "[20]", "[100]", ".bmp or .png"})
        EXPECT_NE(help.find(line), std::string::npos) << line;
}

TEST(CliOptions, OutputIsTakenFromWhereTheCommandRuns) {
    const std::string cwd = std::filesystem::current_path().string();
    EXPECT_EQ(Applied({"--output", "out"}).Output.Path, cwd + "/out");
    EXPECT_EQ(Applied({"--output", "/abs/"}).Output.Path, "/abs/");
    EXPECT_EQ(Applied({"--output", "~/pics"}).Output.Path, "~/pics");
    EXPECT_EQ(Applied({"--output", ""}).Output.Path, "");  // beside each source
}

TEST(CliOptions, InputsAndRunOptions) {
    const TOptions o = ParseOptions({"a.jpg", "--jobs", "3", "-", "--shard", "2/5", "-0", "--", "--json", "-x"});
    EXPECT_EQ(o.Inputs, (std::vector<std::string>{"a.jpg", "-", "--json", "-x"}));
    EXPECT_EQ(o.Jobs, 3);
    ASSERT_TRUE(o.Shard);
    EXPECT_EQ(o.Shard->K, 2);
    EXPECT_EQ(o.Shard->N, 5);
    EXPECT_TRUE(o.NulSeparated);
    EXPECT_FALSE(o.Json);
}

TEST(CliOptions, HugeNumbersAreRefusedNotWrapped) {
    EXPECT_THROW(ParseOptions({"--left", "2147483648"}), EUsage);
    EXPECT_THROW(ParseOptions({"--left", "--5"}), EUsage);
    EXPECT_EQ(Applied({"--left", "-2147483648"}).Cover.Left, INT32_MIN);
    EXPECT_THROW(ParseOptions({"--shard", "1/99999999999999"}), EUsage);
    EXPECT_THROW(ParseOptions({"--shard", "1/-4"}), EUsage);
}

TEST(CliJson, StringsAreEscapedAndAlwaysUtf8) {
    EXPECT_EQ(JsonString("plain"), "\"plain\"");
    EXPECT_EQ(JsonString("a\"b\\c\n\r\t\x01\x7f"), "\"a\\\"b\\\\c\\n\\r\\t\\u0001\\u007f\"");
    EXPECT_EQ(JsonString("caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80"), "\"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80\"");
    // A lone byte, an overlong form, a surrogate and a cut sequence.
    EXPECT_EQ(JsonString("x\xff"), "\"x\\ufffd\"");
    EXPECT_EQ(JsonString("\xc0\xaf"), "\"\\ufffd\\ufffd\"");
    EXPECT_EQ(JsonString("\xed\xa0\x80"), "\"\\ufffd\\ufffd\\ufffd\"");
    EXPECT_EQ(JsonString("\xe2\x82"), "\"\\ufffd\\ufffd\"");
}

TEST(CliInputs, ShardsCoverTheSortedListOnce) {
    const std::vector<std::string> list = {"b.jpg", "./a.bmp", "c.jpg", "a.bmp", "d/../e.jpg", "b.jpg", "f.bmp"};
    EXPECT_EQ(TakeShard(list, {1, 1}), (std::vector<std::string>{"a.bmp", "b.jpg", "c.jpg", "e.jpg", "f.bmp"}));
    EXPECT_EQ(TakeShard(list, {1, 2}), (std::vector<std::string>{"a.bmp", "c.jpg", "f.bmp"}));
    EXPECT_EQ(TakeShard(list, {2, 2}), (std::vector<std::string>{"b.jpg", "e.jpg"}));
    EXPECT_TRUE(TakeShard(list, {7, 7}).empty());  // more shards than pictures
}

TEST(CliInputs, PathListsByLineOrByNul) {
    std::istringstream lines("a.jpg\r\n\nb c.bmp\nlast.jpg");
    EXPECT_EQ(ReadPathList(lines, false), (std::vector<std::string>{"a.jpg", "b c.bmp", "last.jpg"}));
    std::istringstream nul(std::string("x\ny.jpg\0\0z.bmp\0", 15));
    EXPECT_EQ(ReadPathList(nul, true), (std::vector<std::string>{"x\ny.jpg", "z.bmp"}));
}

TEST(CliInputs, FoldersInNameOrderWithoutHiddenOrLinkedFolders) {
    TempFolder temp;
    namespace fs = std::filesystem;
    const std::string root = temp.Path("pics");
    for (const char* dir : {"pics/b", "pics/a", "pics/.hidden", "outside"}) fs::create_directories(temp.Path(dir));
    for (const char* file : {"pics/z.jpg", "pics/B.BMP", "pics/a/2.jpeg", "pics/a/1.bmp", "pics/b/x.jpg",
                             "pics/notes.txt", "pics/.h.jpg", "pics/.hidden/y.jpg", "outside/o.jpg"})
        std::ofstream(temp.Path(file)) << "x";
    fs::create_directory(temp.Path("pics/folder.jpg"));
    fs::create_directory_symlink(temp.Path("outside"), temp.Path("pics/c-out"));
    fs::create_directory_symlink(root, temp.Path("pics/b/loop"));
    fs::create_symlink(temp.Path("outside/o.jpg"), temp.Path("pics/link.jpg"));

    std::vector<std::string> flat;
    AddFolder(root, false, flat);
    EXPECT_EQ(flat, (std::vector<std::string>{root + "/B.BMP", root + "/link.jpg", root + "/z.jpg"}));
    std::vector<std::string> deep;
    AddFolder(root + "/", true, deep);
    // Folder by folder, as the window's "Add Folder" takes them.
    EXPECT_EQ(deep, (std::vector<std::string>{root + "/B.BMP", root + "/link.jpg", root + "/z.jpg", root + "/a/1.bmp",
                                              root + "/a/2.jpeg", root + "/b/x.jpg"}));
}
