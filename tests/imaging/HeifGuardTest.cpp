// HEIC files whose HEVC parameter sets declare a picture other than their
// size boxes: refused before libheif's decoder allocates for them.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "imaging/HeifImage.h"
#include "imaging/HevcParams.h"

namespace vmk {
namespace {

namespace fs = std::filesystem;

std::vector<uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

std::string DecodeError(const std::vector<uint8_t>& bytes) {
    TMemoryStream stream;
    stream.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
    stream.SetPosition(0);
    THEIFImage image;
    try {
        image.LoadFromStream(stream);
    } catch (const Exception& e) {
        return e.what();
    }
    return "(loaded)";
}

// Writes an SPS NAL unit field by field, with emulation prevention.
class TSpsWriter {
public:
    void Bits(uint64_t value, int count) {
        // Past the value's 64 bits come zeros (a shift that far is not defined).
        for (int i = count - 1; i >= 0; --i) bits_.push_back(i < 64 && ((value >> i) & 1U) != 0);
    }
    void Ue(uint64_t value) {
        int length = 0;
        while ((value + 1) >> (length + 1)) ++length;
        Bits(0, length);
        Bits(value + 1, length + 1);
    }
    std::vector<uint8_t> Nal() const {
        std::vector<uint8_t> raw;
        for (size_t i = 0; i < bits_.size(); i += 8) {
            uint8_t byte = 0;
            for (size_t b = 0; b < 8; ++b) byte = uint8_t(byte << 1 | (i + b < bits_.size() && bits_[i + b]));
            raw.push_back(byte);
        }
        std::vector<uint8_t> nal = {33 << 1, 1};
        int zeros = 0;
        for (uint8_t byte : raw) {
            if (zeros >= 2 && byte <= 3) {
                nal.push_back(3);
                zeros = 0;
            }
            nal.push_back(byte);
            zeros = byte == 0 ? zeros + 1 : 0;
        }
        return nal;
    }

private:
    std::vector<bool> bits_;
};

// An SPS up to the picture size (and a few bits beyond, as a real one has).
std::vector<uint8_t> Sps(uint64_t width, uint64_t height, int subLayersMinus1 = 0, int chroma = 1) {
    TSpsWriter w;
    w.Bits(0, 4);
    w.Bits(uint64_t(subLayersMinus1), 3);
    w.Bits(1, 1);
    w.Bits(0, 88);  // zeros: emulation prevention is needed in the profile
    w.Bits(93, 8);
    for (int i = 0; i < subLayersMinus1; ++i) w.Bits(i % 2 ? 0b11 : 0b10, 2);
    if (subLayersMinus1 > 0) w.Bits(0, 2 * (8 - subLayersMinus1));
    for (int i = 0; i < subLayersMinus1; ++i) {
        w.Bits(0, 88);
        if (i % 2) w.Bits(0, 8);
    }
    w.Ue(0);
    w.Ue(uint64_t(chroma));
    if (chroma == 3) w.Bits(0, 1);
    w.Ue(width);
    w.Ue(height);
    w.Bits(0b1011, 4);
    return w.Nal();
}

// An 'hvcC' payload: 22 header bytes and one array of the given NAL units.
std::vector<uint8_t> Config(const std::vector<std::vector<uint8_t>>& nals, int type = 33) {
    std::vector<uint8_t> record(22, 0);
    record[0] = 1;
    record.push_back(1);
    record.push_back(uint8_t(0x80 | type));
    record.push_back(0);
    record.push_back(uint8_t(nals.size()));
    for (const auto& nal : nals) {
        record.push_back(uint8_t(nal.size() >> 8));
        record.push_back(uint8_t(nal.size()));
        record.insert(record.end(), nal.begin(), nal.end());
    }
    return record;
}

TEST(HeifGuard, SequenceParameterSetSizesAreRead) {
    for (int subLayers : {0, 1, 3, 7})
        for (int chroma : {0, 1, 3}) {
            SCOPED_TRACE(std::to_string(subLayers) + " " + std::to_string(chroma));
            const auto nal = Sps(4032, 3024, subLayers, chroma);
            const THevcCodedSize size = HevcSpsCodedSize(nal.data(), nal.size());
            EXPECT_EQ(size.Width, 4032);
            EXPECT_EQ(size.Height, 3024);
        }
    // The largest values a 31-zero code gives, and every NAL unit of the record.
    const auto record = Config({Sps(16, 8), Sps(0xFFFFFFFEu, 0xFFFFFFFEu)});
    const auto sizes = HevcConfigCodedSizes(record.data(), record.size());
    ASSERT_EQ(sizes.size(), 2u);
    EXPECT_EQ(sizes[1].Width, 0xFFFFFFFEll);
    // Other arrays (here a VPS) are skipped.
    const auto vps = Config({{32 << 1, 1, 0xFF}}, 32);
    EXPECT_TRUE(HevcConfigCodedSizes(vps.data(), vps.size()).empty());
}

TEST(HeifGuard, DamagedParameterSetsAreRefusedNotOverread) {
    const auto nal = Sps(640, 480);
    // Cut anywhere before the height ends: refused, never read past (ASan).
    for (size_t keep = 0; keep + 1 < nal.size(); ++keep) {
        const std::vector<uint8_t> cut(nal.begin(), nal.begin() + long(keep));
        const auto record = Config({cut});
        EXPECT_THROW(HevcConfigCodedSizes(record.data(), record.size()), std::runtime_error) << keep;
    }
    const auto record = Config({nal});
    for (size_t keep = 0; keep < record.size(); ++keep)
        EXPECT_THROW(HevcConfigCodedSizes(record.data(), keep), std::runtime_error) << keep;
    // A code of 32 leading zeros, an empty picture, an impossible chroma format.
    std::vector<uint8_t> zeros = {33 << 1, 1};
    zeros.resize(40, 0xFF);
    std::fill(zeros.begin() + 15, zeros.end(), 0x00);
    for (size_t i = 17; i < zeros.size(); i += 3) zeros[i] = 3;  // keep it a valid NAL
    EXPECT_THROW(HevcSpsCodedSize(zeros.data(), zeros.size()), std::runtime_error);
    const auto empty = Sps(0, 480);
    EXPECT_THROW(HevcSpsCodedSize(empty.data(), empty.size()), std::runtime_error);
    const auto chroma = Sps(640, 480, 0, 4);
    EXPECT_THROW(HevcSpsCodedSize(chroma.data(), chroma.size()), std::runtime_error);
}

void Put(std::vector<uint8_t>& to, uint64_t value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) to.push_back(uint8_t(value >> (8 * i)));
}

std::vector<uint8_t> Box(const char* type, const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> box;
    Put(box, payload.size() + 8, 4);
    box.insert(box.end(), type, type + 4);
    box.insert(box.end(), payload.begin(), payload.end());
    return box;
}

// A file of one 'grid' item (id 7), its description in 'idat' (method 1)
// or after 'meta' in the file (method 0).
std::vector<uint8_t> GridFile(const std::vector<uint8_t>& grid, int method) {
    std::vector<uint8_t> infe = {2, 0, 0, 0, 0, 7, 0, 0, 'g', 'r', 'i', 'd', 0};
    std::vector<uint8_t> iinf = {0, 0, 0, 0, 0, 1};
    const auto infeBox = Box("infe", infe);
    iinf.insert(iinf.end(), infeBox.begin(), infeBox.end());
    auto build = [&](uint64_t offset) {
        std::vector<uint8_t> iloc = {1, 0, 0, 0, 0x44, 0x00, 0, 1, 0, 7, 0, uint8_t(method), 0, 0, 0, 1};
        Put(iloc, offset, 4);
        Put(iloc, grid.size(), 4);
        std::vector<uint8_t> meta = {0, 0, 0, 0};
        for (const auto& box :
             {Box("iinf", iinf), Box("iloc", iloc), Box("idat", method == 1 ? grid : std::vector<uint8_t>{})})
            meta.insert(meta.end(), box.begin(), box.end());
        auto file = Box("ftyp", {'h', 'e', 'i', 'c', 0, 0, 0, 0});
        const auto metaBox = Box("meta", meta);
        file.insert(file.end(), metaBox.begin(), metaBox.end());
        return file;
    };
    if (method == 1) return build(0);
    auto file = build(0);
    file = build(file.size());
    file.insert(file.end(), grid.begin(), grid.end());
    return file;
}

TEST(HeifGuard, GridOutputSizesAreRead) {
    const std::vector<uint8_t> narrow = {0, 0, 1, 2, 0x96, 0x76, 0x63, 0x31};
    const std::vector<uint8_t> wide = {0, 1, 0, 0, 0, 1, 0, 0, 0, 0, 0, 9};
    for (int method : {0, 1}) {
        auto sizes = HeifGridSizes(GridFile(narrow, method).data(), GridFile(narrow, method).size());
        ASSERT_EQ(sizes.size(), 1u);
        EXPECT_EQ(sizes[0].Width, 38518);
        EXPECT_EQ(sizes[0].Height, 25393);
        sizes = HeifGridSizes(GridFile(wide, method).data(), GridFile(wide, method).size());
        ASSERT_EQ(sizes.size(), 1u);
        EXPECT_EQ(sizes[0].Width, 65536);
        EXPECT_EQ(sizes[0].Height, 9);
    }
    // A description cut short is refused; a file cut inside 'meta' gives
    // nothing to check (libheif refuses it) and is never read past.
    const auto cut = GridFile({0, 1, 0, 0, 0, 1}, 1);
    EXPECT_THROW(HeifGridSizes(cut.data(), cut.size()), std::runtime_error);
    const auto file = GridFile(narrow, 1);
    for (size_t keep = 0; keep < file.size(); ++keep) EXPECT_TRUE(HeifGridSizes(file.data(), keep).empty()) << keep;
}

// fuzz_heif's finding: 'ispe' says 12 x 9, but its grid's description says
// 38518 x 25393, and libheif allocated about 11 GB over 48 s before failing.
TEST(HeifGuard, LibraryFindingIsRefusedBeforeDecoding) {
    const auto bytes = ReadBytes(VMK_TESTDATA "/../../fuzz/library-findings/libheif-decode-11GB.heic");
    ASSERT_EQ(bytes.size(), 626u);
    EXPECT_EQ(DecodeError(bytes), "HEIF image too large to load: 38518 x 25393 pixels");
}

class HeifGuardFiles : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::system("command -v heif-enc >/dev/null && command -v convert >/dev/null") != 0)
            GTEST_SKIP() << "heif-enc or ImageMagick is not installed";
        dir_ = (fs::temp_directory_path() / ("vmk-heifguard-" + std::to_string(::getpid()))).string() + "/";
        fs::create_directories(dir_);
        const std::string make = "convert -size 40x30 gradient:red-blue '" + dir_ + "a.png' && heif-enc -q 60 '" +
                                 dir_ + "a.png' -o '" + dir_ + "a.heic' >/dev/null 2>&1";
        ASSERT_EQ(std::system(make.c_str()), 0);
        heic_ = ReadBytes(dir_ + "a.heic");
        const std::string text(heic_.begin(), heic_.end());
        hvcC_ = text.find("hvcC");
        ASSERT_NE(hvcC_, std::string::npos);
    }
    void TearDown() override {
        if (!dir_.empty()) fs::remove_all(dir_);
    }
    // Where the record's first NAL array starts.
    size_t Arrays() const { return hvcC_ + 4 + 22 + 1; }
    std::string dir_;
    std::vector<uint8_t> heic_;
    size_t hvcC_ = 0;
};

TEST_F(HeifGuardFiles, NormalFileReadsAndItsParameterSetsAreFound) {
    EXPECT_EQ(DecodeError(heic_), "(loaded)");
    const auto sizes = HevcCodedSizes(heic_.data(), heic_.size());
    ASSERT_EQ(sizes.size(), 1u);
    // The coded size rounds the picture up to whole coding blocks.
    EXPECT_GE(sizes[0].Width, 40);
    EXPECT_GE(sizes[0].Height, 30);
    EXPECT_LT(sizes[0].Width, 40 + 64);
}

TEST_F(HeifGuardFiles, DamagedConfigurationIsRefusedWithoutCrash) {
    // A NAL length running past the record: libheif refuses it first.
    auto bytes = heic_;
    size_t at = Arrays();
    bytes[at + 3] = 0xFF;
    bytes[at + 4] = 0xF0;
    EXPECT_NE(DecodeError(bytes), "(loaded)");

    // Each SPS byte in turn scrambled: refused or read, never a crash or an overread.
    for (size_t i = 0; i + 1 < heic_.size(); ++i) {
        if (heic_[i] == 0x42 && heic_[i + 1] == 0x01 && i > hvcC_) {
            at = i;
            break;
        }
    }
    ASSERT_GT(at, hvcC_);
    // The SPS zeroed after its profile: an Exp-Golomb code of too many zeros.
    bytes = heic_;
    std::fill(bytes.begin() + long(at) + 17, bytes.begin() + long(at) + 22, 0);
    EXPECT_EQ(DecodeError(bytes), "Invalid HEIF image: sequence parameter set has an invalid code");
    for (size_t i = at + 2; i < at + 40; ++i) {
        bytes = heic_;
        bytes[i] ^= 0xFF;
        (void)DecodeError(bytes);
    }
}

// ---- AV1: the largest frame a sequence header allows

// Bits written most significant first, into whole bytes.
class TBits {
public:
    void Put(uint64_t value, int count) {
        for (int i = count - 1; i >= 0; --i) bits_.push_back(((value >> i) & 1U) != 0);
    }
    std::vector<uint8_t> Bytes() const {
        std::vector<uint8_t> out((bits_.size() + 7) / 8, 0);
        for (size_t i = 0; i < bits_.size(); ++i)
            if (bits_[i]) out[i / 8] |= uint8_t(0x80 >> (i % 8));
        return out;
    }

private:
    std::vector<bool> bits_;
};

// An OBU with its size field.
std::vector<uint8_t> Obu(int type, const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> obu = {uint8_t(type << 3 | 0x02)};
    size_t n = payload.size();
    do {
        obu.push_back(uint8_t((n & 0x7F) | (n > 0x7F ? 0x80 : 0)));
        n >>= 7;
    } while (n > 0);
    obu.insert(obu.end(), payload.begin(), payload.end());
    return obu;
}

// A still picture's short sequence header, sides of 16 bits.
std::vector<uint8_t> ReducedHeader(uint32_t width, uint32_t height) {
    TBits b;
    b.Put(0, 3);
    b.Put(1, 1);
    b.Put(1, 1);
    b.Put(0, 5);
    b.Put(15, 4);
    b.Put(15, 4);
    b.Put(width - 1, 16);
    b.Put(height - 1, 16);
    return b.Bytes();
}

TEST(HeifGuard, Av1SequenceHeaderSizesAreRead) {
    auto sizes =
        Av1SequenceSizes(Obu(1, ReducedHeader(65536, 65536)).data(), Obu(1, ReducedHeader(65536, 65536)).size());
    ASSERT_EQ(sizes.size(), 1u);
    EXPECT_EQ(sizes[0].Width, 65536);
    EXPECT_EQ(sizes[0].Height, 65536);

    // A full header: timing, a decoder model, two operating points with
    // their delays; after a temporal delimiter. What follows the first
    // frame is not read.
    TBits b;
    b.Put(0, 3);
    b.Put(0, 1);
    b.Put(0, 1);
    b.Put(1, 1);            // timing_info_present_flag
    b.Put(0x12345678, 32);  // num_units_in_display_tick
    b.Put(0x9ABCDEF0, 32);  // time_scale
    b.Put(1, 1);            // equal_picture_interval
    b.Put(0b00100, 5);      // num_ticks_per_picture_minus_1 = 3
    b.Put(1, 1);            // decoder_model_info_present_flag
    b.Put(9, 5);            // buffer_delay_length_minus_1
    b.Put(0xFFFFFFFF, 32);
    b.Put(31, 5);
    b.Put(31, 5);
    b.Put(1, 1);  // initial_display_delay_present_flag
    b.Put(1, 5);  // two operating points
    for (int i = 0; i < 2; ++i) {
        b.Put(0xFFF, 12);
        b.Put(8, 5);  // a level above 7 has a tier
        b.Put(1, 1);
        b.Put(1, 1);  // decoder model for this point
        b.Put(0x3FF, 10);
        b.Put(0x3FF, 10);
        b.Put(1, 1);
        b.Put(1, 1);  // initial display delay for this point
        b.Put(15, 4);
    }
    b.Put(11, 4);
    b.Put(11, 4);
    b.Put(3999, 12);
    b.Put(2999, 12);
    b.Put(0xABC, 12);  // what a real header goes on with
    std::vector<uint8_t> stream = Obu(2, {});
    const auto header = Obu(1, b.Bytes());
    stream.insert(stream.end(), header.begin(), header.end());
    const auto frame = Obu(6, {1, 2, 3});
    stream.insert(stream.end(), frame.begin(), frame.end());
    const auto late = Obu(1, ReducedHeader(65536, 65536));
    stream.insert(stream.end(), late.begin(), late.end());
    sizes = Av1SequenceSizes(stream.data(), stream.size());
    ASSERT_EQ(sizes.size(), 1u);
    EXPECT_EQ(sizes[0].Width, 4000);
    EXPECT_EQ(sizes[0].Height, 3000);

    // Cut anywhere: refused or read, never read past.
    for (size_t keep = 3; keep < 2 + header.size(); ++keep) {  // the delimiter whole, the header cut
        const std::vector<uint8_t> cut(stream.begin(), stream.begin() + long(keep));
        EXPECT_THROW(Av1SequenceSizes(cut.data(), cut.size()), std::runtime_error) << keep;
    }
    // A header whose payload ends before its sizes.
    const auto shortHeader = Obu(1, {0x18});
    EXPECT_THROW(Av1SequenceSizes(shortHeader.data(), shortHeader.size()), std::runtime_error);
}

// An AVIF of our own writer: its sequence headers (in 'av1C' and in the
// item's data) declare the picture; one declaring 65536 x 65536 is refused
// before the AV1 decoder allocates for it.
TEST(HeifGuard, AvifSequenceHeadersAreBoundedBeforeDecoding) {
    TBitmap bitmap;
    bitmap.SetPixelFormat(TPixelFormat::pf24bit);
    bitmap.SetSize(40, 30);
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 40 * 3; ++x) bitmap.GetScanline(y)[x] = uint8_t(x * 5 + y * 3);
    THEIFImage writer(THEIFCompression::Av1);
    writer.Assign(bitmap);
    TMemoryStream out;
    writer.SaveToStream(out);
    std::vector<uint8_t> avif(size_t(out.GetSize()));
    out.SetPosition(0);
    out.ReadBuffer(avif.data(), out.GetSize());
    EXPECT_EQ(DecodeError(avif), "(loaded)");
    const auto sizes = Av1CodedSizes(avif.data(), avif.size());
    ASSERT_FALSE(sizes.empty());
    for (const auto& size : sizes) {
        EXPECT_EQ(size.Width, 40);
        EXPECT_EQ(size.Height, 30);
    }
    // The item's header (after its temporal delimiter; libheif's 'av1C' holds
    // none) replaced by one as long that allows 65536 x 65536.
    const std::string box = "mdat";
    const auto at = std::search(avif.begin(), avif.end(), box.begin(), box.end());
    ASSERT_NE(at, avif.end());
    const size_t obu = size_t(at - avif.begin()) + 4 + 2;
    ASSERT_EQ(avif[obu - 2], 0x12);
    ASSERT_EQ(avif[obu], 0x0A);  // a sequence header with its size
    const size_t length = avif[obu + 1];
    ASSERT_GE(length, ReducedHeader(65536, 65536).size());
    auto huge = ReducedHeader(65536, 65536);
    huge.resize(length, 0);
    std::copy(huge.begin(), huge.end(), avif.begin() + long(obu) + 2);
    EXPECT_EQ(DecodeError(avif), "AVIF image too large to load: 65536 x 65536 pixels");
}

}  // namespace
}  // namespace vmk
