// Safe writes against shared folders, long names and links.

#include <gtest/gtest.h>
#include <filesystem>
#include <regex>

#include "TempFolder.h"
#include "core/Exception.h"
#include "core/Streams.h"

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
