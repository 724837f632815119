// EXIF orientation from hostile bytes, and 32-bit bitmaps whose fourth byte is alpha.

#include <gtest/gtest.h>

#include <optional>
#include <tuple>

#include "imaging/Jpeg.h"
#include "support/PictureBytes.h"

using namespace vmk;
using namespace vmk::test;

namespace {

std::vector<uint8_t> Patched(std::vector<uint8_t> b, size_t at, std::initializer_list<uint8_t> bytes) {
    for (uint8_t v : bytes) b.at(at++) = v;
    return b;
}

TEST(ExifOrientation, DamagedBlocksReadAsNoneAndAreLeftAlone) {
    const auto le = ExifPayload(6, false), be = ExifPayload(3, true);
    const size_t at = kOrientationAt;
    // A block, the orientation it reads as (0: none), and the bytes that mark it upright.
    const auto longLe = Patched(le, at - 6, {4, 0}), longBe = Patched(Patched(be, at - 6, {0, 4}), at, {0, 0, 0, 3});
    const std::tuple<std::vector<uint8_t>, int, std::vector<uint8_t>> cases[] = {
        {le, 6, Patched(le, at, {1, 0})},
        {be, 3, Patched(be, at, {0, 1})},
        {longLe, 6, Patched(longLe, at, {1, 0, 0, 0})},  // a LONG, as some writers store it
        {longBe, 3, Patched(longBe, at, {0, 0, 0, 1})},
        {Patched(le, 10, {0xF8, 0xFF, 0xFF, 0xFF}), 0, {}},                    // directory beyond the block
        {Patched(le, 10, {0xFF, 0xFF, 0xFF, 0xFF}), 0, {}},                    // ... wrapping round in 32 bits
        {Patched(le, 10, {2, 0, 0, 0}), 0, {}},                                // ... inside the TIFF header
        {std::vector<uint8_t>(le.begin(), le.begin() + long(at) - 4), 0, {}},  // entries cut short
        {Patched(le, at - 6, {5, 0}), 0, {}},                                  // a RATIONAL
        {Patched(longBe, at, {0, 1, 0, 3}), 0, {}},                            // a LONG beyond 8
        {Patched(le, at - 4, {2, 0}), 0, {}},                                  // two values
        {Patched(le, at, {9, 0}), 0, {}},
        {Patched(be, at, {0, 0}), 0, {}},
        {Patched(le, 8, {43, 0}), 0, {}},  // BigTIFF
        {Patched(le, 6, {'I', 'M'}), 0, {}},
        {std::vector<uint8_t>(le.begin(), le.begin() + 12), 0, {}},
        {Patched(le, 3, {'F'}), 0, {}}};
    for (size_t i = 0; i < std::size(cases); ++i) {
        const auto& [data, orientation, upright] = cases[i];
        SCOPED_TRACE(i);
        const std::optional<TOrientation> read = ExifOrientationOf(data.data(), data.size());
        EXPECT_EQ(read.has_value() ? int(*read) : 0, orientation);
        TJPEGMarkers markers = {{0xE1, data}};
        EXPECT_EQ(int(ExifOrientation(markers)), std::max(orientation, 1));
        MarkUpright(markers);
        EXPECT_EQ(markers[0].Data, orientation == 0 ? data : upright);
    }
}

// A 16 x 8 JPEG, gray when asked, with the segments after its start marker.
std::unique_ptr<TJPEGImage> Photo(bool gray, const TJPEGMarkers& segments) {
    TBitmap stored;
    stored.SetPixelFormat(TPixelFormat::pf24bit);
    stored.SetSize(16, 8);
    for (int i = 0; i < 128; ++i) stored.GetCanvas().SetPixel(i % 16, i / 16, RGBColor(uint8_t(i * 2), 0, uint8_t(i)));
    TJPEGImage plain;
    plain.SetGrayOnly(gray);
    plain.Assign(stored);
    TMemoryStream bytes;
    plain.SaveToStream(bytes);
    const auto file = WithSegments(bytes.Bytes(), segments);
    TMemoryStream source;
    source.WriteBuffer(file.data(), static_cast<int64_t>(file.size()));
    source.SetPosition(0);
    auto jpeg = std::make_unique<TJPEGImage>();
    jpeg->LoadFromStream(source);
    return jpeg;
}

TEST(ExifOrientation, SizeIsUprightBeforeDecodingAndThousandsOfSegmentsAreNotSavedYetRead) {
    for (size_t comments : {size_t{1}, kMaxKeptSegments - 1, kMaxKeptSegments, 3 * kMaxKeptSegments}) {
        TJPEGMarkers segments(comments, TJPEGMarker{0xFE, {}});
        // The orientation after the comments: it is read however many there are.
        segments.push_back({0xE1, ExifPayload(8, true)});
        auto jpeg = Photo(false, segments);
        const bool kept = comments < kMaxKeptSegments;
        EXPECT_EQ(jpeg->GetWidth(), 8) << comments;
        EXPECT_EQ(jpeg->GetMarkers().size(), kept ? comments + 1 : 0u);
        EXPECT_EQ(jpeg->ToBitmap().Width(), jpeg->GetWidth());
    }
}

TEST(ExifOrientation, GrayPhotosTurnToo) {
    auto stored = Photo(true, {});
    auto turned = Photo(true, {{0xE1, ExifPayload(8, false)}});  // a quarter turn anticlockwise
    ASSERT_EQ(turned->ToBitmap().GetPixelFormat(), TPixelFormat::pf8bit);
    for (int i = 0; i < 128; ++i)
        EXPECT_EQ(turned->ToBitmap().GetPixelColor(i % 8, i / 8), stored->ToBitmap().GetPixelColor(15 - i / 8, i % 8))
            << i;
}

TEST(AlphaBitmap, DrawnPixelsAreOpaqueAndAnUnusedByteIsWrittenAsZero) {
    for (bool hasAlpha : {true, false}) {
        TMemoryStream in;
        const auto file = Bmp32(false, [&](int x, int) { return uint8_t(hasAlpha ? x * 30 : 0); });
        in.WriteBuffer(file.data(), static_cast<int64_t>(file.size()));
        in.SetPosition(0);
        TBitmap photo, cover;
        photo.LoadFromStream(in);
        cover.SetPixelFormat(TPixelFormat::pf32bit);  // drawn by direct copy, its fourth bytes 0 or 77
        cover.SetSize(2, 2);
        cover.GetScanline(0)[3] = 77;
        photo.GetCanvas().Draw(5, 3, cover);
        TMemoryStream out;
        photo.SaveToStream(out);
        const auto b = out.Bytes();
        ASSERT_EQ(b.size(), (hasAlpha ? 138u : 54u) + 8 * 6 * 4);
        for (int i = 0; i < 48; ++i) {
            const int x = i % 8, y = 5 - i / 8;  // rows bottom-up
            const bool drawn = x >= 5 && x < 7 && y >= 3 && y < 5;
            EXPECT_EQ(b[b.size() - 192 + size_t(4 * i) + 3], !hasAlpha ? 0 : drawn ? 255 : x * 30) << x << "," << y;
        }
    }
}

}  // namespace
