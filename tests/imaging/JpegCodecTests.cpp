#include <gtest/gtest.h>

#include <stdexcept>

#include "JpegTestFiles.h"
#include "imaging/Jpeg.h"

#include <jerror.h>

namespace vmk {
namespace {

using testing::JpegRecipe;
using testing::Layout;
using testing::MakeJpeg;

// A failure's text for a code whose sentence takes no parameters, from the
// linked library's own message table.
std::string CodeMessage(int code) {
    jpeg_error_mgr standard{};
    jpeg_std_error(&standard);
    return "JPEG error #" + std::to_string(code) + ": " + standard.jpeg_message_table[code];
}

// Loads and decodes; a damaged file may fail only with the picture errors.
void LoadAndDecode(const std::vector<uint8_t>& bytes) {
    TJPEGImage image;
    TMemoryStream stream;
    testing::FillStream(stream, bytes);
    try {
        image.LoadFromStream(stream);
        TBitmap& bitmap = image.ToBitmap();
        // Every row must be there to read.
        for (int y = 0; y < bitmap.Height(); ++y) (void)bitmap.GetPixelColor(bitmap.Width() - 1, y);
    } catch (const EInvalidGraphic&) {
    }
}

TEST(JpegCodec, FileCutAfterItsHeaderDecodesWithoutError) {
    auto bytes = MakeJpeg({.width = 40, .height = 40});
    // Find the first scan and cut just after its header.
    size_t sos = 0;
    for (size_t i = 0; i + 1 < bytes.size(); ++i)
        if (bytes[i] == 0xFF && bytes[i + 1] == 0xDA) {
            sos = i;
            break;
        }
    ASSERT_GT(sos, 0u);
    bytes.resize(sos + 2 + ((bytes[sos + 2] << 8) | bytes[sos + 3]));
    TJPEGImage image;
    TMemoryStream stream;
    testing::FillStream(stream, bytes);
    image.LoadFromStream(stream);
    EXPECT_EQ(image.GetWidth(), 40);
    TBitmap& bitmap = image.ToBitmap();
    EXPECT_EQ(bitmap.Width(), 40);
    EXPECT_EQ(bitmap.Height(), 40);
}

TEST(JpegCodec, HeaderErrorKeepsTheBytes) {
    std::vector<uint8_t> junk = {0xFF, 0xD8, 0x00, 0x01, 0x02, 0x03};
    TJPEGImage image;
    int changes = 0;
    image.OnChange = [&](TGraphic&) { ++changes; };
    TMemoryStream stream;
    testing::FillStream(stream, junk);
    EXPECT_THROW(image.LoadFromStream(stream), EJPEG);
    ASSERT_NE(image.GetSharedData()->JpegBytes, nullptr);
    EXPECT_EQ(image.GetSharedData()->JpegBytes->Bytes(), junk);
    EXPECT_EQ(changes, 0);
}

TEST(JpegCodec, ColourSpacesWeCannotShowAreRefused) {
    TJPEGImage image;
    TMemoryStream stream;
    testing::FillStream(stream, MakeJpeg({.width = 16, .height = 16, .twoComponents = true}));
    image.LoadFromStream(stream);
    EXPECT_EQ(image.GetWidth(), 16);
    try {
        image.ToBitmap();
        FAIL() << "no exception";
    } catch (const EJPEG& e) {
        EXPECT_EQ(e.Message(), CodeMessage(JERR_CONVERSION_NOTIMPL));
    }
}

TEST(JpegCodec, RefusesHugePicturesBeforeAllocating) {
    auto bytes = MakeJpeg({.width = 16, .height = 16});
    for (size_t i = 0; i + 8 < bytes.size(); ++i) {
        if (bytes[i] == 0xFF && bytes[i + 1] == 0xC0) {
            // 30000 x 30000: each side legal, together far beyond what we hold.
            bytes[i + 5] = 30000 >> 8;
            bytes[i + 6] = 30000 & 0xFF;
            bytes[i + 7] = 30000 >> 8;
            bytes[i + 8] = 30000 & 0xFF;
            break;
        }
    }
    TJPEGImage image;
    TMemoryStream stream;
    testing::FillStream(stream, bytes);
    try {
        image.LoadFromStream(stream);
        FAIL() << "no exception";
    } catch (const EJPEG& e) {
        EXPECT_NE(e.Message().find("too large"), std::string::npos) << e.Message();
    }
    EXPECT_THROW(image.ToBitmap(), EJPEG);
}

TEST(JpegCodec, PersistedLengthBeyondTheStreamIsRefused) {
    TMemoryStream stream;
    const uint8_t header[] = {0x00, 0x00, 0x00, 0x70, 0xFF, 0xD8};
    stream.WriteBuffer(header, sizeof header);
    stream.SetPosition(0);
    TJPEGImage image;
    EXPECT_THROW(image.ReadData(stream), EStreamError);
    stream.SetPosition(0);
    const uint8_t negative[] = {0xFF, 0xFF, 0xFF, 0xFF};
    stream.WriteBuffer(negative, 4);
    stream.SetPosition(0);
    EXPECT_THROW(image.ReadData(stream), Exception);
}

TEST(JpegCodec, RefusesEndlessScans) {
    const auto bytes = MakeJpeg({.width = 16, .height = 16, .layout = Layout::Progressive});
    size_t lastScan = 0;
    for (size_t i = 0; i + 1 < bytes.size(); ++i)
        if (bytes[i] == 0xFF && bytes[i + 1] == 0xDA) lastScan = i;
    ASSERT_GT(lastScan, 0u);
    std::vector<uint8_t> hostile(bytes.begin(), bytes.end() - 2);
    for (int i = 0; i < 1100; ++i)
        hostile.insert(hostile.end(), bytes.begin() + static_cast<ptrdiff_t>(lastScan), bytes.end() - 2);
    hostile.push_back(0xFF);
    hostile.push_back(0xD9);
    TJPEGImage image;
    TMemoryStream stream;
    testing::FillStream(stream, hostile);
    image.LoadFromStream(stream);
    try {
        image.ToBitmap();
        FAIL() << "no exception";
    } catch (const EJPEG& e) {
        EXPECT_EQ(e.Message(), "JPEG image has too many scans");
    }
}

// A stream that takes only part of what it is given.
class ShortStream : public TMemoryStream {
public:
    int64_t Write(const void* buffer, int64_t count) override {
        return TMemoryStream::Write(buffer, count > 10 ? count - 10 : count);
    }
};

class ThrowingStream : public TMemoryStream {
public:
    int64_t Read(void*, int64_t) override { throw EReadError("disk gone"); }
};

TEST(JpegCodec, ShortWriteIsFileWriteError) {
    std::vector<uint8_t> rgb(16 * 3, 128);
    ShortStream out;
    CodecContext context;
    context.CreateCompress();
    jpeg_compress_struct& c = context.C();
    try {
        context.Run([&] {
            context.InstallDestination(out);
            c.image_width = 16;
            c.image_height = 1;
            c.input_components = 3;
            c.in_color_space = JCS_EXT_BGR;
            jpeg_set_defaults(&c);
            jpeg_start_compress(&c, TRUE);
            JSAMPROW rows[1] = {rgb.data()};
            jpeg_write_scanlines(&c, rows, 1);
            jpeg_finish_compress(&c);
        });
        FAIL() << "no exception";
    } catch (const EJPEG& e) {
        EXPECT_EQ(e.Message(), CodeMessage(JERR_FILE_WRITE));
    }
    context.Close();
    context.Close();  // closing twice is harmless
}

TEST(JpegCodec, StreamExceptionsTravelOutOfTheCodec) {
    ThrowingStream in;
    CodecContext context;
    context.CreateDecompress();
    jpeg_decompress_struct& d = context.D();
    EXPECT_THROW(context.Run([&] {
        context.InstallSource(in);
        jpeg_read_header(&d, TRUE);
    }),
                 EReadError);
}

// The number stays and libjpeg's sentence follows, filled in with what it names.
TEST(JpegCodec, ErrorsSayLibjpegsOwnSentence) {
    TJPEGImage image;
    TMemoryStream stream;
    testing::FillStream(stream, {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13});
    try {
        image.LoadFromStream(stream);
        image.ToBitmap();
        FAIL() << "no exception";
    } catch (const EJPEG& e) {
        EXPECT_EQ(e.Message(), "JPEG error #53: Not a JPEG file: starts with 0x89 0x50");
    }
    // Codes outside the table keep their number alone.
    EXPECT_EQ(JpegErrorText(0), "JPEG error #0");
    EXPECT_EQ(JpegErrorText(100000), "JPEG error #100000");
}

TEST(JpegCodec, ErrorCodesAreTheLinkedRelease) {
    TMemoryStream empty;
    CodecContext context;
    context.CreateDecompress();
    jpeg_decompress_struct& d = context.D();
    try {
        context.Run([&] {
            context.InstallSource(empty);
            jpeg_read_header(&d, TRUE);
        });
        FAIL() << "no exception";
    } catch (const EJPEG& e) {
        EXPECT_EQ(e.Message(), CodeMessage(JERR_INPUT_EMPTY));
    }
}

TEST(JpegCodec, CmykRowsConvertWithAndWithoutInvertedInks) {
    const JSAMPLE plain[4] = {255, 0, 0, 0};      // full cyan ink
    const JSAMPLE adobe[4] = {0, 255, 255, 255};  // the same, inverted
    uint8_t bgr[3];
    ConvertCmykRow(plain, bgr, 1, false, false);
    EXPECT_EQ(bgr[0], 255);
    EXPECT_EQ(bgr[1], 255);
    EXPECT_EQ(bgr[2], 0);
    ConvertCmykRow(adobe, bgr, 1, true, false);
    EXPECT_EQ(bgr[2], 0);
    EXPECT_EQ(bgr[0], 255);
    uint8_t gray = 0;
    const JSAMPLE black[4] = {0, 0, 0, 255};
    ConvertCmykRow(black, &gray, 1, false, true);
    EXPECT_EQ(gray, 0);
}

// Damaged files: cut at many points and with flipped bytes they give EJPEG or a
// picture, never a crash (run this suite under the sanitizers too).
TEST(JpegCodecDamage, CutFilesNeverCrash) {
    const JpegRecipe recipes[] = {
        {.width = 24, .height = 20},
        {.width = 24, .height = 20, .layout = Layout::Progressive},
        {.width = 24, .height = 20, .layout = Layout::Arithmetic},
        {.width = 24, .height = 20, .restartRows = 1},
        {.width = 24, .height = 20, .gray = true},
        {.width = 24, .height = 20, .cmyk = true},
    };
    for (const JpegRecipe& recipe : recipes) {
        const auto bytes = MakeJpeg(recipe);
        for (size_t cut = 0; cut < bytes.size(); cut += (cut < 700 ? 1 : 7)) {
            SCOPED_TRACE(cut);
            LoadAndDecode(std::vector<uint8_t>(bytes.begin(), bytes.begin() + static_cast<ptrdiff_t>(cut)));
        }
    }
}

TEST(JpegCodecDamage, FlippedBytesNeverCrash) {
    const JpegRecipe recipes[] = {
        {.width = 24, .height = 20},
        {.width = 24, .height = 20, .layout = Layout::Progressive},
        {.width = 24, .height = 20, .layout = Layout::Arithmetic},
        {.width = 24, .height = 20, .restartRows = 1},
        {.width = 24, .height = 20, .cmyk = true},
    };
    uint32_t seed = 12345;
    auto next = [&] {
        seed = seed * 1664525u + 1013904223u;
        return seed >> 8;
    };
    for (const JpegRecipe& recipe : recipes) {
        const auto bytes = MakeJpeg(recipe);
        for (size_t i = 0; i < bytes.size(); ++i) {
            SCOPED_TRACE(i);
            auto damaged = bytes;
            damaged[i] ^= static_cast<uint8_t>(1u << (next() % 8));
            LoadAndDecode(damaged);
            damaged[i] = static_cast<uint8_t>(next());
            damaged[(i * 7 + 3) % damaged.size()] = 0xFF;
            LoadAndDecode(damaged);
        }
    }
}

TEST(JpegCodecDamage, ProgressiveShownPassByPassSurvivesDamage) {
    const auto bytes = MakeJpeg({.width = 24, .height = 20, .layout = Layout::Progressive});
    for (size_t cut = 0; cut < bytes.size(); cut += 3) {
        for (auto depth : {TJPEGOutputDepth::Depth24, TJPEGOutputDepth::Depth8}) {
            TJPEGImage image;
            image.SetShowPasses(true);
            image.SetOutputDepth(depth);
            TMemoryStream stream;
            testing::FillStream(stream,
                                std::vector<uint8_t>(bytes.begin(), bytes.begin() + static_cast<ptrdiff_t>(cut)));
            try {
                image.LoadFromStream(stream);
                image.ToBitmap();
            } catch (const EInvalidGraphic&) {
            }
        }
    }
}

}  // namespace
}  // namespace vmk
