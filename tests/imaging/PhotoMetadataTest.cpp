// EXIF orientation from hostile bytes, turning pictures upright, and 32-bit
// bitmaps whose fourth byte is alpha.

#include <gtest/gtest.h>

#include "imaging/Exif.h"
#include "imaging/Jpeg.h"
#include "support/PictureBytes.h"

using namespace vmk;
using namespace vmk::test;

namespace {

// The orientation value's offset in ExifPayload: "Exif\0\0", TIFF header, count, Make entry, tag, type, count.
constexpr size_t kValueAt = 6 + 8 + 2 + 12 + 8;

std::vector<uint8_t> Patched(std::vector<uint8_t> b, size_t at, std::initializer_list<uint8_t> bytes) {
    for (uint8_t v : bytes) b.at(at++) = v;
    return b;
}

TEST(ExifOrientation, DamagedBlocksReadAsNoOrientationAndAreLeftAlone) {
    const auto le = ExifPayload(6, false), be = ExifPayload(3, true);
    struct Case { const char* what; std::vector<uint8_t> data; int orientation; } cases[] = {
        {"little-endian", le, 6},
        {"big-endian", be, 3},
        {"directory beyond the block", Patched(le, 10, {0xF8, 0xFF, 0xFF, 0xFF}), 0},
        {"directory offset wrapping round", Patched(le, 10, {0xFF, 0xFF, 0xFF, 0xFF}), 0},
        {"directory inside the header", Patched(le, 10, {2, 0, 0, 0}), 0},
        {"entry count past the end", std::vector<uint8_t>(le.begin(), le.begin() + kValueAt - 4), 0},
        {"orientation as a LONG", Patched(le, kValueAt - 6, {4, 0}), 0},
        {"two orientation values", Patched(le, kValueAt - 4, {2, 0}), 0},
        {"orientation 9", Patched(le, kValueAt, {9, 0}), 0},
        {"orientation 0", Patched(be, kValueAt, {0, 0}), 0},
        {"BigTIFF magic", Patched(le, 8, {43, 0}), 0},
        {"unknown byte order", Patched(le, 6, {'I', 'M'}), 0},
        {"TIFF header cut short", std::vector<uint8_t>(le.begin(), le.begin() + 12), 0},
        {"not EXIF", Patched(le, 0, {'E', 'x', 'i', 'F'}), 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(ExifOrientationOf(c.data.data(), c.data.size()), c.orientation);
        TJPEGMarkers markers = {{0xE1, c.data}};
        EXPECT_EQ(ExifOrientation(markers), c.orientation == 0 ? 1 : c.orientation);
        MarkUpright(markers);
        // Only a value we act on changes, and only its two bytes.
        EXPECT_EQ(markers[0].Data, c.orientation == 0 ? c.data : ExifPayload(1, c.orientation == 3));
    }
}

TEST(ExifOrientation, KeptMarkersAreNamedBySignatureNotByCode) {
    const auto kept = [](uint8_t code, const std::string& s) {
        return IsKeptMarker(code, reinterpret_cast<const uint8_t*>(s.data()), s.size());
    };
    EXPECT_TRUE(kept(0xE2, std::string("ICC_PROFILE\0\1\1", 14)));
    EXPECT_FALSE(kept(0xE2, std::string("MPF\0", 4)));
    EXPECT_FALSE(kept(0xE2, "ICC_PROFILE"));  // the terminating zero is part of the name
    EXPECT_TRUE(kept(0xE1, std::string("http://ns.adobe.com/xmp/extension/\0", 35)));
    EXPECT_FALSE(kept(0xE1, "Exif"));
    EXPECT_TRUE(kept(0xED, std::string("Photoshop 3.0\0", 14)));
    EXPECT_FALSE(kept(0xE0, std::string("JFIF\0", 5)));
    EXPECT_TRUE(kept(0xFE, ""));
}

TEST(ExifOrientation, LoadedPictureIsUprightBeforeAndAfterDecoding) {
    TBitmap stored;
    stored.SetPixelFormat(TPixelFormat::pf24bit);
    stored.SetSize(16, 8);
    TJPEGImage plain;
    plain.Assign(stored);
    TMemoryStream bytes;
    plain.SaveToStream(bytes);
    const auto exif = ExifPayload(8, false);
    const auto file = WithSegments(bytes.Bytes(), {{0xE1, exif}, Segment(0xFE, "note")});
    TMemoryStream source;
    source.WriteBuffer(file.data(), static_cast<int64_t>(file.size()));
    source.SetPosition(0);
    TJPEGImage jpeg;
    jpeg.LoadFromStream(source);
    EXPECT_EQ(jpeg.GetWidth(), 8);  // known from the header alone
    EXPECT_EQ(jpeg.GetHeight(), 16);
    EXPECT_EQ(jpeg.GetMarkers(), (TJPEGMarkers{{0xE1, ExifPayload(1, false)}, Segment(0xFE, "note")}));
    EXPECT_EQ(jpeg.ToBitmap().Width(), 8);
    EXPECT_EQ(jpeg.GetHeight(), 16);
    // A copy shares the bytes and so the way up; a bitmap brings no metadata.
    TJPEGImage copy;
    copy.Assign(jpeg);
    EXPECT_EQ(copy.GetWidth(), 8);
    EXPECT_EQ(copy.GetMarkers().size(), 2u);
    copy.Assign(stored);
    EXPECT_TRUE(copy.GetMarkers().empty());
}

TEST(ExifOrientation, ThousandsOfSegmentsAreNotSaved) {
    TBitmap stored;
    stored.SetPixelFormat(TPixelFormat::pf24bit);
    stored.SetSize(16, 8);
    TJPEGImage plain;
    plain.Assign(stored);
    TMemoryStream bytes;
    plain.SaveToStream(bytes);
    for (size_t comments : {kMaxKeptSegments - 1, kMaxKeptSegments}) {
        TJPEGMarkers segments(comments, Segment(0xFE, ""));
        segments.insert(segments.begin(), TJPEGMarker{0xE1, ExifPayload(6, true)});
        const auto file = WithSegments(bytes.Bytes(), segments);
        TMemoryStream source;
        source.WriteBuffer(file.data(), static_cast<int64_t>(file.size()));
        source.SetPosition(0);
        TJPEGImage jpeg;
        jpeg.LoadFromStream(source);
        const bool kept = comments < kMaxKeptSegments;
        EXPECT_EQ(jpeg.GetMarkers().size(), kept ? comments + 1 : 0u);
        EXPECT_EQ(jpeg.ToBitmap().Width(), kept ? 8 : 16);  // no EXIF read: as stored
    }
}

// Four distinct colours in a 3 x 2 picture tell every turn and mirror apart.
std::string Turned(TPixelFormat format, std::initializer_list<int> orientations) {
    const TColor colours[] = {clBlack, clWhite, RGBColor(255, 0, 0), RGBColor(0, 0, 255)};
    TBitmap b;
    b.SetPixelFormat(TPixelFormat::pf24bit);
    b.SetSize(3, 2);
    for (int i = 0; i < 6; ++i) b.GetCanvas().SetPixel(i % 3, i / 3, colours[i % 4]);
    b.SetPixelFormat(format);
    for (int o : orientations) OrientUpright(b, o);
    std::string s = std::to_string(b.Width()) + "x" + std::to_string(b.Height()) + ":";
    for (int y = 0; y < b.Height(); ++y)
        for (int x = 0; x < b.Width(); ++x)
            for (int i = 0; i < 4; ++i)
                if (b.GetPixelColor(x, y) == colours[i]) s += static_cast<char>('0' + i);
    return s;
}

TEST(OrientUpright, TurnsComposeAsTheyShouldInEveryFormat) {
    for (TPixelFormat f : {TPixelFormat::pf1bit, TPixelFormat::pf4bit, TPixelFormat::pf8bit,
                           TPixelFormat::pf24bit, TPixelFormat::pf32bit}) {
        SCOPED_TRACE(BitsPerPixel(f));
        if (f != TPixelFormat::pf1bit) {
            EXPECT_EQ(Turned(f, {}), "3x2:012301");
            EXPECT_EQ(Turned(f, {6}), "2x3:300112");  // a quarter turn clockwise
            EXPECT_EQ(Turned(f, {2}), "3x2:210103");
        }
        EXPECT_EQ(Turned(f, {6, 8}), Turned(f, {}));
        EXPECT_EQ(Turned(f, {6, 6}), Turned(f, {3}));
        EXPECT_EQ(Turned(f, {2, 4}), Turned(f, {3}));
        EXPECT_EQ(Turned(f, {5, 5}), Turned(f, {}));
        EXPECT_EQ(Turned(f, {7, 2}), Turned(f, {8}));
        EXPECT_EQ(Turned(f, {1}), Turned(f, {9}));
    }
}

std::unique_ptr<TBitmap> LoadBytes(const std::vector<uint8_t>& file) {
    TMemoryStream s;
    s.WriteBuffer(file.data(), static_cast<int64_t>(file.size()));
    s.SetPosition(0);
    auto b = std::make_unique<TBitmap>();
    b->LoadFromStream(s);
    return b;
}

TEST(AlphaBitmap, DrawnPixelsAreOpaqueAndTheHeaderSaysSo) {
    const auto halfSeen = [](int x, int) { return static_cast<uint8_t>(x * 30); };
    for (bool v5 : {true, false}) {
        SCOPED_TRACE(v5 ? "alpha mask" : "plain header");
        auto photo = LoadBytes(Bmp32(v5, halfSeen));
        TBitmap cover24, cover32;  // both cover kinds: converted rows and the direct copy
        cover24.SetPixelFormat(TPixelFormat::pf24bit);
        cover24.SetSize(2, 2);
        cover32.SetPixelFormat(TPixelFormat::pf32bit);
        cover32.SetSize(2, 2);  // its fourth bytes are 0
        photo->GetCanvas().Draw(2, 1, cover24);
        photo->GetCanvas().Draw(5, 3, cover32);
        TMemoryStream out;
        photo->SaveToStream(out);
        const auto bytes = out.Bytes();
        ASSERT_GT(bytes.size(), 138u);
        EXPECT_EQ(bytes[14], 124);  // version 5 header
        EXPECT_EQ(bytes[30], 3);    // bit fields, with the alpha mask last
        EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 66, bytes.begin() + 70), (std::vector<uint8_t>{0, 0, 0, 0xFF}));
        auto back = LoadBytes(bytes);
        for (int y = 0; y < 6; ++y)
            for (int x = 0; x < 8; ++x) {
                const bool drawn = (x >= 2 && x < 4 && y >= 1 && y < 3) || (x >= 5 && x < 7 && y >= 3 && y < 5);
                EXPECT_EQ(back->GetScanline(y)[4 * x + 3], drawn ? 255 : halfSeen(x, y)) << x << "," << y;
            }
    }
    // Without alpha the unused byte is written as 0, so no reader sees a hole.
    auto opaque = LoadBytes(Bmp32(false, [](int, int) { return uint8_t{0}; }));
    TBitmap cover;
    cover.SetPixelFormat(TPixelFormat::pf32bit);
    cover.SetSize(2, 2);
    cover.GetScanline(0)[3] = 77;
    opaque->GetCanvas().Draw(0, 0, cover);
    TMemoryStream out;
    opaque->SaveToStream(out);
    const auto bytes = out.Bytes();
    EXPECT_EQ(bytes[14], 40);
    EXPECT_EQ(bytes[30], 0);
    for (size_t i = 54 + 3; i < bytes.size(); i += 4) EXPECT_EQ(bytes[i], 0) << i;
}

}  // namespace
