#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "imaging/Graphics.h"

using namespace vmk;

namespace {

std::string TempDir() {
    auto dir = std::filesystem::temp_directory_path() / ("vmk_picture_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    return dir.string() + "/";
}

void WriteText(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

}  // namespace

TEST(TPicture, ChoosesTheKindByExtension) {
    EXPECT_EQ(TPicture::FileFormatDescription("bmp"), "Bitmaps");
    EXPECT_EQ(TPicture::FileFormatDescription("png"), "");
    const std::string dir = TempDir();
    TPicture p;
    WriteText(dir + "a.png", "x");
    try {
        p.LoadFromFile(dir + "a.PNG");
        FAIL();
    } catch (const EInvalidGraphic& e) {
        EXPECT_STREQ(e.what(), "Unknown picture file extension (.png)");
    }
    EXPECT_THROW(p.LoadFromFile(dir + "noext"), EInvalidGraphic);
    EXPECT_EQ(p.GetGraphic(), nullptr);
}

TEST(TPicture, FailedLoadKeepsThePreviousPicture) {
    const std::string dir = TempDir();
    TBitmap b;
    b.SetSize(3, 2);
    b.SaveToFile(dir + "good.BMP");
    TPicture p;
    p.LoadFromFile(dir + "good.BMP");
    ASSERT_NE(dynamic_cast<TBitmap*>(p.GetGraphic()), nullptr);
    WriteText(dir + "broken.bmp", "not a bitmap");
    EXPECT_THROW(p.LoadFromFile(dir + "broken.bmp"), Exception);
    EXPECT_THROW(p.LoadFromFile(dir + "missing.bmp"), EFOpenError);
    EXPECT_EQ(p.GetWidth(), 3);
    EXPECT_EQ(p.GetHeight(), 2);
}

TEST(TPicture, AssignCopiesAndGetBitmapServes) {
    TPicture p;
    EXPECT_EQ(p.GetWidth(), 0);
    TBitmap& empty = p.GetBitmap();
    EXPECT_TRUE(empty.GetEmpty());
    int changes = 0;
    p.OnChange = [&](TPicture&) { ++changes; };
    TBitmap b;
    b.SetSize(4, 5);
    p.Assign(&b);
    EXPECT_NE(p.GetGraphic(), &b);
    EXPECT_EQ(p.GetBitmap().GetWidth(), 4);
    p.GetBitmap().GetCanvas().SetPixel(0, 0, clWhite);  // a change of the held bitmap reaches the holder
    EXPECT_EQ(b.GetPixelColor(0, 0), 0u);
    EXPECT_EQ(changes, 2);
    p.Assign(nullptr);
    EXPECT_EQ(p.GetGraphic(), nullptr);
    EXPECT_THROW(p.SaveToFile(TempDir() + "x.bmp"), EInvalidGraphicOperation);
}

TEST(TPicture, RegistryAddsAndRemovesKinds) {
    TPicture::RegisterFileFormat("XyZ", "Test kind", "TTestKind", [] { return std::make_unique<TBitmap>(); });
    EXPECT_EQ(TPicture::FileFormatDescription("xyz"), "Test kind");
    TPicture::UnregisterGraphicClass("TTestKind");
    EXPECT_EQ(TPicture::FileFormatDescription("xyz"), "");
    EXPECT_EQ(TPicture::FileFormatDescription("bmp"), "Bitmaps");
}
