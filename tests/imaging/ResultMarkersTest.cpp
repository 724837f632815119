// The metadata a result carries, from hostile source bytes: EXIF made true of
// the result (no thumbnail), XMP upright, ICC profiles only where they fit.

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "imaging/Metadata.h"
#include "support/PictureBytes.h"

using namespace vmk;
using namespace vmk::test;

namespace {

std::vector<uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

const std::vector<uint8_t> kThumbnail = Bytes("\xFF\xD8 an unstamped picture \xFF\xD9");

bool Holds(const std::vector<uint8_t>& bytes, const std::vector<uint8_t>& part) {
    return std::search(bytes.begin(), bytes.end(), part.begin(), part.end()) != bytes.end();
}

TEST(ResultExif, LosesItsThumbnailAndSaysTheResultsSizeAndOrientation) {
    for (const bool bigEndian : {false, true})
        for (const uint16_t type : {uint16_t{3}, uint16_t{4}}) {
            SCOPED_TRACE(std::to_string(bigEndian) + " " + std::to_string(type));
            std::vector<uint8_t> exif = CameraExif(6, type, 4000, 3000, kThumbnail, bigEndian);
            ASSERT_TRUE(FitExifToResult(exif, 70000, 1234));
            // IFD0 says no next directory; IFD1 and the thumbnail are cut off the end.
            ASSERT_EQ(exif.size(), 6u + 86);
            std::vector<uint8_t> expected =
                CameraExif(1, type, 4000, 1234, {}, bigEndian);                  // a SHORT cannot hold 70000
            std::fill(expected.begin() + 6 + 46, expected.begin() + 6 + 50, 0);  // IFD0's next directory
            expected.resize(6 + 86);
            EXPECT_EQ(exif, expected);
            EXPECT_EQ(ExifOrientationOf(exif.data(), exif.size()), TOrientation::Normal);
        }
}

TEST(ResultExif, ThumbnailBytesShownToTheMainPictureStayAndOnlyThumbnailBytesAreCut) {
    std::vector<uint8_t> exif = CameraExif(1, 3, 16, 12, kThumbnail, false);
    // Thumbnail "stored" over the Make text and the Exif directory: those stay.
    const size_t offsetAt = 6 + 86 + 2 + 12 + 8;
    exif[offsetAt] = 50;
    std::vector<uint8_t> before = exif;
    ASSERT_TRUE(FitExifToResult(exif, 16, 12));
    EXPECT_EQ(std::vector<uint8_t>(exif.begin() + 6 + 50, exif.begin() + 6 + 86),
              std::vector<uint8_t>(before.begin() + 6 + 50, before.begin() + 6 + 86));
    // Bytes no directory names (after the thumbnail) stay where they are; the
    // thumbnail before them is cleared, not cut.
    exif = CameraExif(1, 3, 16, 12, kThumbnail, false);
    exif.push_back('Z');
    ASSERT_TRUE(FitExifToResult(exif, 16, 12));
    EXPECT_EQ(exif.size(), 6 + kThumbnailAt + kThumbnail.size() + 1);
    EXPECT_EQ(exif.back(), 'Z');
    EXPECT_FALSE(Holds(exif, Bytes("unstamped")));
}

TEST(ResultExif, DamagedBlocksNeverCrashAndAThumbnailDirectoryCutShortDropsTheBlock) {
    const std::vector<uint8_t> good = CameraExif(6, 3, 16, 12, kThumbnail, true);
    std::vector<uint8_t> cut(good.begin(), good.begin() + 6 + 90);  // in IFD1's entries
    EXPECT_FALSE(FitExifToResult(cut, 16, 12));
    std::vector<uint8_t> noFirst(good.begin(), good.begin() + 6 + 30);
    EXPECT_FALSE(FitExifToResult(noFirst, 16, 12));
    // Every cut and every byte changed to each of a few values: whatever the
    // block says, walking it stays inside it (the sanitizers watch) and a
    // block that is kept never grows.
    for (size_t size = 0; size <= good.size(); ++size) {
        std::vector<uint8_t> b(good.begin(), good.begin() + long(size));
        FitExifToResult(b, 16, 12);
        EXPECT_LE(b.size(), size);
    }
    for (size_t at = 6; at < 6 + kThumbnailAt; ++at)
        for (const int value : {0x00, 0x01, 0x07, 0x80, 0xFF}) {
            std::vector<uint8_t> b = good;
            b[at] = static_cast<uint8_t>(value);
            if (FitExifToResult(b, 16, 12)) {
                EXPECT_LE(b.size(), good.size());
            }
        }
}

TEST(ResultExif, ThousandsOfOverlappingStripsAreClearedInOnePass) {
    // IFD1 naming the same strip 8,000 times over: each byte is looked at once, not once a strip.
    std::vector<uint8_t> exif = Bytes(std::string("Exif\0\0II*\0\x08\0\0\0", 14));
    const auto put = [&](uint32_t v, int n) { Put(exif, v, n); };
    put(0, 2);   // IFD0: no entries
    put(14, 4);  // IFD1 at 14
    put(2, 2);
    const uint32_t strips = 8000;
    put(0x0111, 2), put(4, 2), put(strips, 4), put(40, 4);
    put(0x0117, 2), put(4, 2), put(strips, 4), put(40, 4);
    put(0, 4);
    for (uint32_t i = 0; i < strips; ++i) put(0x4000, 4);  // offsets and lengths alike
    exif.resize(65533, 'x');
    ASSERT_TRUE(FitExifToResult(exif, 1, 1));
    ASSERT_EQ(exif.size(), 65533u);  // the bytes after the strip are no directory's: they stay
    EXPECT_EQ(exif[6 + 40], 0);
    EXPECT_EQ(exif[6 + 0x7FFF], 0);
    EXPECT_EQ(exif[6 + 0x8000], 'x');
}

TEST(ResultXmp, EveryTiffOrientationSaysUprightAndNothingElseChanges) {
    const std::string name("http://ns.adobe.com/xap/1.0/\0", 29);
    const std::pair<std::string, std::string> cases[] = {
        {R"(<d tiff:Orientation="6"/>)", R"(<d tiff:Orientation="1"/>)"},
        {"<d\ntiff:Orientation = '8' x='2'/>", "<d\ntiff:Orientation = '1' x='2'/>"},
        {"<tiff:Orientation>6</tiff:Orientation>", "<tiff:Orientation>1</tiff:Orientation>"},
        {"<tiff:Orientation> 10 </tiff:Orientation><d tiff:Orientation=\"3\"/>",
         "<tiff:Orientation>1</tiff:Orientation><d tiff:Orientation=\"1\"/>"},
        {R"(<d tiff:OrientationX="6" xtiff:Orientation="6" tiff:Orientation=""/>)",
         R"(<d tiff:OrientationX="6" xtiff:Orientation="6" tiff:Orientation=""/>)"},
        {R"(<d tiff:Orientation="6)", R"(<d tiff:Orientation="6)"},  // cut short
        {"tiff:Orientation=", "tiff:Orientation="}};
    for (const auto& [packet, upright] : cases) {
        std::vector<uint8_t> data = Bytes(name + packet);
        const TJPEGMarkers result = ResultMarkers({{0xE1, data}}, 1, 1, false);
        ASSERT_EQ(result.size(), 1u);
        EXPECT_EQ(std::string(result[0].Data.begin() + 29, result[0].Data.end()), upright);
    }
}

// An ICC profile of the colour space (a bare header, no tags) in chunks of at
// most chunkSize bytes; chunk numbers and count as the set says.
TJPEGMarkers Profile(const char* space, size_t chunkSize, size_t size = 132) {
    std::vector<uint8_t> profile(size, 0);
    profile[2] = uint8_t(size >> 8);
    profile[3] = uint8_t(size);
    std::memcpy(&profile[16], space, 4);
    if (size >= 40) std::memcpy(&profile[36], "acsp", 4);
    TJPEGMarkers chunks;
    const size_t count = (size + chunkSize - 1) / chunkSize;
    for (size_t i = 0; i < count; ++i) {
        TJPEGMarker m{0xE2, Bytes(std::string("ICC_PROFILE\0", 12))};
        m.Data.push_back(uint8_t(i + 1));
        m.Data.push_back(uint8_t(count));
        m.Data.insert(m.Data.end(), profile.begin() + long(i * chunkSize),
                      profile.begin() + long(std::min(size, (i + 1) * chunkSize)));
        chunks.push_back(m);
    }
    return chunks;
}

TEST(ResultProfile, KeptWholeOnlyWhereItDescribesTheResultsColours) {
    const TJPEGMarker comment{0xFE, Bytes("kept")};
    const auto with = [&](TJPEGMarkers chunks) {
        chunks.insert(chunks.begin() + 1, comment);  // other segments keep their places
        return chunks;
    };
    const auto kept = [&](const TJPEGMarkers& source, bool gray) {
        return ResultMarkers(source, 1, 1, gray) == source;
    };
    for (const size_t chunk : {size_t{132}, size_t{50}, size_t{10}}) {  // a header across chunks too
        SCOPED_TRACE(chunk);
        EXPECT_TRUE(kept(with(Profile("RGB ", chunk)), false));
        EXPECT_FALSE(kept(with(Profile("RGB ", chunk)), true));
        EXPECT_TRUE(kept(with(Profile("GRAY", chunk)), true));
        EXPECT_FALSE(kept(with(Profile("GRAY", chunk)), false));
        EXPECT_FALSE(kept(with(Profile("CMYK", chunk)), false));
        EXPECT_FALSE(kept(with(Profile("CMYK", chunk)), true));
        EXPECT_EQ(ResultMarkers(with(Profile("CMYK", chunk)), 1, 1, false), TJPEGMarkers{comment});
    }
    TJPEGMarkers reversed = Profile("RGB ", 50);
    std::reverse(reversed.begin(), reversed.end());
    EXPECT_TRUE(kept(reversed, false));
    // Damaged sets go whole.
    TJPEGMarkers missing = Profile("RGB ", 50), twice = missing, miscounted = missing, numberZero = missing;
    missing.erase(missing.begin() + 1);
    twice.push_back(twice[0]);
    miscounted[2].Data[13] = 4;
    numberZero[0].Data[12] = 0;
    TJPEGMarkers bare = {{0xE2, Bytes(std::string("ICC_PROFILE\0\1", 13))}};
    TJPEGMarkers longerThanGiven = Profile("RGB ", 50);
    longerThanGiven[0].Data[14 + 3] = 200;
    TJPEGMarkers notAProfile = Profile("RGB ", 50);
    notAProfile[0].Data[14 + 36] = 'b';
    for (const TJPEGMarkers& damaged :
         {missing, twice, miscounted, numberZero, bare, longerThanGiven, notAProfile, Profile("RGB ", 50, 100)})
        EXPECT_EQ(ResultMarkers(damaged, 1, 1, false), TJPEGMarkers{});
}

TEST(ResultPhotoshop, ThumbnailResourcesGoAndAnUnwalkableBlockGoesWhole) {
    const std::vector<uint8_t> iptc = {0x1C, 2, 0, 0, 2, 0, 4}, odd = Bytes("abc");
    const auto block = PhotoshopBlock({{0x0404, iptc}, {0x0409, kThumbnail}, {0x03ED, odd}, {0x040C, kThumbnail}});
    const auto result = ResultMarkers({{0xED, block}}, 1, 1, false);
    ASSERT_EQ(result.size(), 1u);
    EXPECT_EQ(result[0].Data, PhotoshopBlock({{0x0404, iptc}, {0x03ED, odd}}));
    // A name of its own, zero padding after the last resource, no pad byte after odd data at the very end.
    std::vector<uint8_t> named = PhotoshopBlock({});
    named.insert(named.end(), {'8', 'B', 'I', 'M', 4, 4, 3, 'a', 'b', 'c', 0, 0, 0, 3, 'x', 'y', 'z', 0, 0, 0});
    std::vector<uint8_t> unpadded = PhotoshopBlock({{0x0404, odd}});
    unpadded.pop_back();
    for (const auto& whole : {named, unpadded}) EXPECT_EQ(ResultMarkers({{0xED, whole}}, 1, 1, false)[0].Data, whole);
    // Cut anywhere: whole resources stay without the thumbnails, a cut one drops the block.
    for (size_t size = 15; size < block.size(); ++size) {
        const std::vector<uint8_t> cut(block.begin(), block.begin() + long(size));
        std::vector<uint8_t> copy = cut;
        if (DropPhotoshopThumbnails(copy)) {
            EXPECT_FALSE(Holds(copy, Bytes("unstamped")));
        } else {
            EXPECT_EQ(ResultMarkers({{0xED, cut}}, 1, 1, false), TJPEGMarkers{});
        }
    }
    std::vector<uint8_t> other = PhotoshopBlock({{0x0404, iptc}});
    other[14] = 'X';
    EXPECT_EQ(ResultMarkers({{0xED, other}}, 1, 1, false), TJPEGMarkers{});
}

TEST(ResultMarkers, EveryExifBlockIsFittedAndAnUnwalkableOneGoes) {
    const TJPEGMarker iptc{0xED, PhotoshopBlock({{0x0404, Bytes("\x1C\x02")}})};
    const std::vector<uint8_t> damaged = {'E', 'x', 'i', 'f', 0, 0, 'I', 'I', 42, 0, 0xFF, 0, 0, 0};
    const TJPEGMarkers source = {{0xE1, CameraExif(8, 3, 1, 1, kThumbnail, false)},
                                 iptc,
                                 {0xE1, CameraExif(3, 4, 1, 1, kThumbnail, true)},
                                 {0xE1, damaged}};
    const TJPEGMarkers result = ResultMarkers(source, 30, 20, false);
    ASSERT_EQ(result.size(), 3u);
    EXPECT_EQ(result[1], iptc);
    for (const size_t i : {size_t{0}, size_t{2}}) {
        EXPECT_EQ(ExifOrientationOf(result[i].Data.data(), result[i].Data.size()), TOrientation::Normal);
        EXPECT_FALSE(Holds(result[i].Data, Bytes("unstamped")));
    }
}

}  // namespace
