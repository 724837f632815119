// The batch on "Files to Edit": the path list and both list boxes in step, the
// preview and its refusals.

#include <filesystem>
#include <fstream>
#include <iterator>

#include "support/WindowFixture.h"

namespace vmk::test {
namespace {

class FileListTest : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        Show();
    }
    void Add(std::vector<std::string> paths) {
        modal_->QueuePaths("OpenFiles", std::move(paths));
        form_->Open->Click();
    }
    std::vector<std::string> Lines(TListBox& box) { return box.GetItems().ToVector(); }
    // The three sequences agree line for line.
    void ExpectInStep(const std::vector<std::string>& paths) {
        EXPECT_EQ(FilePaths().Items(), paths);
        std::vector<std::string> names;
        names.reserve(paths.size());
        for (const auto& p : paths) names.push_back(std::filesystem::path(p).filename().string());
        EXPECT_EQ(Lines(*form_->FilesList), names);
        EXPECT_EQ(Lines(*form_->FileListSave), names);
    }
    TGraphic* Shown() { return form_->PreviewFiles->GetPicture().GetGraphic(); }
};

TEST_F(FileListTest, AddingAppendsInDialogOrderAndKeepsDuplicates) {
    const std::string a = MakeBmp("a.bmp", 2, 2, clWhite);
    const std::string b = MakeBmp("b.bmp", 2, 2, clWhite);
    const std::string c = MakeBmp("c.bmp", 2, 2, clWhite);

    Add({b, a});
    ExpectInStep({b, a});
    // A second choice goes behind the first; the same file twice stands twice.
    Add({a, c});
    ExpectInStep({b, a, a, c});

    // Cancelled: nothing changes.
    modal_->QueueCancel("OpenFiles");
    form_->Open->Click();
    ExpectInStep({b, a, a, c});
    EXPECT_EQ(modal_->ExecuteCount("OpenFiles"), 3);
    EXPECT_FALSE(modal_->HasBox());
}

TEST_F(FileListTest, AnyExtensionJoinsTheBatch) {
    const std::string gif = MakeFile("anim.gif", "GIF89a");
    const std::string bare = MakeFile("README", "text");
    Add({gif, bare});
    ExpectInStep({gif, bare});
    EXPECT_FALSE(modal_->HasBox());
}

TEST_F(FileListTest, PreviewFollowsTheLowerCasedExtension) {
    const std::string upper = MakeBmp("wide.BMP", 5, 3, RGBColor(10, 20, 30));
    const std::string mixed = MakeBmp("tall.Bmp", 2, 7, RGBColor(40, 50, 60));
    Add({upper, mixed});

    form_->FilesList->SelectByUser(0);
    EXPECT_FALSE(modal_->HasBox());
    ASSERT_NE(Shown(), nullptr);
    EXPECT_EQ(form_->PreviewFiles->GetPicture().GetWidth(), 5);
    EXPECT_EQ(form_->PreviewFiles->GetPicture().GetHeight(), 3);
    // Shown at its natural size: the control takes the picture's size.
    EXPECT_EQ(form_->PreviewFiles->GetWidth(), 5);
    EXPECT_EQ(form_->PreviewFiles->GetHeight(), 3);
    EXPECT_EQ(form_->PreviewFiles->GetCanvas().GetPixel(4, 2), RGBColor(10, 20, 30));

    form_->FilesList->SelectByUser(1);
    EXPECT_EQ(form_->PreviewFiles->GetPicture().GetWidth(), 2);
    EXPECT_EQ(form_->PreviewFiles->GetPicture().GetHeight(), 7);
    EXPECT_EQ(form_->PreviewFiles->GetCanvas().GetPixel(1, 6), RGBColor(40, 50, 60));
}

TEST_F(FileListTest, JpegLinesPreviewAsJpegPictures) {
    const std::string upper = MakeJpeg("shot.JPG", 16, 8, RGBColor(200, 40, 40));
    const std::string longExt = MakeJpeg("shot.Jpeg", 9, 17, RGBColor(40, 200, 40));
    Add({upper, longExt});

    form_->FilesList->SelectByUser(0);
    EXPECT_FALSE(modal_->HasBox());
    ASSERT_NE(Shown(), nullptr);
    EXPECT_STREQ(Shown()->ClassName(), "TJPEGImage");
    EXPECT_EQ(form_->PreviewFiles->GetWidth(), 16);
    EXPECT_EQ(form_->PreviewFiles->GetHeight(), 8);

    form_->FilesList->SelectByUser(1);
    EXPECT_FALSE(modal_->HasBox());
    EXPECT_STREQ(Shown()->ClassName(), "TJPEGImage");
    EXPECT_EQ(form_->PreviewFiles->GetPicture().GetWidth(), 9);
    EXPECT_EQ(form_->PreviewFiles->GetPicture().GetHeight(), 17);

    // A damaged JPEG fails its load and leaves the picture shown.
    const std::string bad = MakeFile("bad.jpg", "\xFF\xD8\xFF not really");
    Add({bad});
    TGraphic* before = Shown();
    form_->FilesList->SelectByUser(2);
    EXPECT_EQ(TakeError().rfind("Error with file " + bad + ": ", 0), 0u);
    EXPECT_EQ(Shown(), before);
}

// Files whose header reads but whose picture does not decode: the failure is
// shown once, naming the file, and the picture shown before stays, at its size.
TEST_F(FileListTest, JpegThatCannotBeDecodedSaysSoOnceAndKeepsThePicture) {
    const std::string good = MakeJpeg("good.jpg", 12, 6, RGBColor(30, 90, 200));
    const std::string empty = MakeFile("empty.jpg", "");
    // A real JPEG whose scan names Huffman tables it never defines: the header
    // is fine, the first scan cannot be read.
    std::string bytes;
    {
        const std::string whole = MakeJpeg("whole.jpg", 16, 16, RGBColor(200, 40, 40));
        std::ifstream in(whole, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    const size_t sos = bytes.find("\xFF\xDA");
    ASSERT_NE(sos, std::string::npos);
    const auto components = static_cast<size_t>(static_cast<unsigned char>(bytes[sos + 4]));
    for (size_t i = 0; i < components; ++i) bytes[sos + 6 + 2 * i] = '\x33';
    const std::string broken = MakeFile("broken.jpg", bytes);
    Add({good, empty, broken});

    form_->FilesList->SelectByUser(0);
    ASSERT_FALSE(modal_->HasBox());
    TGraphic* before = Shown();
    for (const auto& [line, path] : {std::pair{1, empty}, std::pair{2, broken}}) {
        form_->FilesList->SelectByUser(line);
        const std::string error = TakeError();
        EXPECT_EQ(error.rfind("Error with file " + path + ": ", 0), 0u) << error;
        EXPECT_GT(error.size(), ("Error with file " + path + ": ").size());
        QCoreApplication::processEvents();  // a paint must not report it again
        EXPECT_FALSE(modal_->HasBox()) << line;
        EXPECT_EQ(Shown(), before);
        EXPECT_EQ(form_->PreviewFiles->GetWidth(), 12);
        EXPECT_EQ(form_->PreviewFiles->GetHeight(), 6);
        EXPECT_EQ(form_->PreviewFiles->GetPicture().GetWidth(), 12);
    }
}

TEST_F(FileListTest, RefusedExtensionsShowTheirOwnSpellingAndKeepThePreview) {
    const std::string good = MakeBmp("good.bmp", 3, 3, clBlack);
    // Real bitmaps under other names: the name decides, not the content.
    const std::string gif = MakeBmp("photo.GIF", 4, 4, clWhite);
    const std::string jpe = MakeBmp("photo.jpe", 4, 4, clWhite);
    const std::string none = MakeBmp("photo", 4, 4, clWhite);
    const std::string dotted = MakeBmp("photo.bmp.old", 4, 4, clWhite);
    Add({good, gif, jpe, none, dotted});

    form_->FilesList->SelectByUser(0);
    TGraphic* before = Shown();
    ASSERT_NE(before, nullptr);

    form_->FilesList->SelectByUser(1);
    EXPECT_EQ(TakeMessage(), "Invalid File Extension: '.GIF'!");
    form_->FilesList->SelectByUser(2);
    EXPECT_EQ(TakeMessage(), "Invalid File Extension: '.jpe'!");
    form_->FilesList->SelectByUser(3);
    EXPECT_EQ(TakeMessage(), "Invalid File Extension: ''!");
    form_->FilesList->SelectByUser(4);
    EXPECT_EQ(TakeMessage(), "Invalid File Extension: '.old'!");
    EXPECT_FALSE(modal_->HasBox());

    EXPECT_EQ(Shown(), before);
    EXPECT_EQ(form_->PreviewFiles->GetPicture().GetWidth(), 3);
    ExpectInStep({good, gif, jpe, none, dotted});
}

TEST_F(FileListTest, DeleteRemovesTheSameLineEverywhereAndThePreviewOfIt) {
    const std::string a = MakeBmp("a.bmp", 2, 2, clWhite);
    const std::string b = MakeBmp("b.bmp", 6, 4, RGBColor(1, 2, 3));
    const std::string c = MakeBmp("c.bmp", 2, 2, clWhite);
    Add({a, b, c});

    form_->FilesList->SelectByUser(1);
    // The other list's selection plays no part.
    form_->FileListSave->SetItemIndex(2);
    form_->Delete->Click();
    EXPECT_FALSE(modal_->HasBox());
    ExpectInStep({a, c});
    EXPECT_EQ(form_->FilesList->GetItemIndex(), -1);
    // The removed picture is no longer shown.
    EXPECT_EQ(form_->PreviewFiles->GetPicture().GetGraphic(), nullptr);

    // Again at once: nothing is selected, the list refuses the index.
    form_->Delete->Click();
    EXPECT_EQ(TakeError(), "List index out of bounds (-1)");
    ExpectInStep({a, c});
}

TEST_F(FileListTest, DeletingEveryLineLeavesAnEmptyBatch) {
    const std::string a = MakeBmp("a.bmp", 2, 2, clWhite);
    Add({a, a});
    form_->FilesList->SelectByUser(1);
    form_->Delete->Click();
    form_->FilesList->SelectByUser(0);
    form_->Delete->Click();
    ExpectInStep({});
    form_->Delete->Click();
    EXPECT_NE(TakeError().find("out of bounds"), std::string::npos);
    ExpectInStep({});
}

TEST_F(FileListTest, UnreadablePreviewReportsAndKeepsTheOldPicture) {
    const std::string good = MakeBmp("good.bmp", 3, 5, clWhite);
    const std::string gone = MakeBmp("gone.bmp", 2, 2, clWhite);
    const std::string bad = MakeFile("bad.bmp", "BM this is no bitmap");
    const std::string cut = Path("cut.bmp");
    {
        // A real bitmap cut short in its pixels.
        const std::string whole = MakeBmp("whole.bmp", 40, 40, clBlack);
        std::filesystem::copy_file(whole, cut);
        std::filesystem::resize_file(cut, std::filesystem::file_size(cut) / 2);
    }
    Add({good, gone, bad, cut});
    std::filesystem::remove(gone);

    form_->FilesList->SelectByUser(0);
    TGraphic* before = Shown();
    for (int line : {1, 2, 3}) {
        form_->FilesList->SelectByUser(line);
        EXPECT_FALSE(TakeError().empty()) << line;
        EXPECT_FALSE(modal_->HasBox());
        EXPECT_EQ(Shown(), before) << line;
        EXPECT_EQ(form_->PreviewFiles->GetPicture().GetWidth(), 3);
        EXPECT_EQ(form_->PreviewFiles->GetPicture().GetHeight(), 5);
    }
    ExpectInStep({good, gone, bad, cut});
}

}  // namespace
}  // namespace vmk::test

namespace vmk::test {
namespace {

// A camera-sized picture previews whole: a 4000 x 3000 JPEG, red on the left
// half and blue on the right, shows at its natural size with its colours.
TEST_F(FileListTest, TwelveMegapixelJpegPreviews) {
    TBitmap bmp;
    bmp.SetPixelFormat(TPixelFormat::pf24bit);
    bmp.SetSize(4000, 3000);
    for (int y = 0; y < 3000; ++y) {
        uint8_t* row = bmp.GetScanline(y);
        for (int x = 0; x < 4000; ++x, row += 3) {
            const bool left = x < 2000;
            row[0] = left ? 0 : 200;   // blue
            row[1] = 30;               // green
            row[2] = left ? 220 : 10;  // red
        }
    }
    const std::string path = Path("camera.jpg");
    {
        TJPEGImage jpeg;
        jpeg.Assign(bmp);
        jpeg.SaveToFile(path);
    }
    modal_->QueuePaths("OpenFiles", {path});
    form_->Open->Click();
    // At 100 %: the photo as it is, scrolling.
    form_->FitFiles->SetChecked(false);
    form_->FilesList->SelectByUser(0);
    ASSERT_FALSE(modal_->HasBox());

    TPicture& shown = form_->PreviewFiles->GetPicture();
    EXPECT_EQ(shown.GetWidth(), 4000);
    EXPECT_EQ(shown.GetHeight(), 3000);
    // AutoSize takes the picture's size only up to the room the page shows;
    // the rest scrolls, with both bars inside the page.
    TControl* page = form_->PreviewFiles->GetParent();
    // The box keeps the layout's margins within the page.
    EXPECT_EQ(form_->PreviewFiles->GetLeft() + form_->PreviewFiles->GetWidth(), page->GetWidth() - 8);
    EXPECT_EQ(form_->PreviewFiles->GetTop() + form_->PreviewFiles->GetHeight(), page->GetHeight() - 4);
    form_->PreviewFiles->ScrollTo(4000, 3000);
    EXPECT_EQ(form_->PreviewFiles->GetScrollLeft() + form_->PreviewFiles->GetViewWidth(), 4000);
    EXPECT_EQ(form_->PreviewFiles->GetScrollTop() + form_->PreviewFiles->GetViewHeight(), 3000);
    const auto near = [](TColor got, TColor want) {
        for (int shift = 0; shift < 24; shift += 8)
            if (std::abs(static_cast<int>((got >> shift) & 0xFF) - static_cast<int>((want >> shift) & 0xFF)) > 6)
                return false;
        return true;
    };
    const TBitmap& pixels = shown.GetBitmap();
    EXPECT_PRED2(near, pixels.GetPixelColor(10, 10), RGBColor(220, 30, 0));
    EXPECT_PRED2(near, pixels.GetPixelColor(3990, 2990), RGBColor(10, 30, 200));
}

}  // namespace
}  // namespace vmk::test
