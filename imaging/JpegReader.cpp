#include "imaging/JpegReader.h"

#include <algorithm>
#include <string>

#include <jerror.h>

#include "core/Stop.h"

namespace vmk {

namespace {

constexpr int kQuantizedColors = 236;
// A hostile file may hold thousands of scans; show at most this many.
constexpr int kMaxShownPasses = 100;

[[noreturn]] void RefuseConversion() { throw EJPEG(JpegErrorText(JERR_CONVERSION_NOTIMPL)); }

}  // namespace

TJpegRowReader::TJpegRowReader(TMemoryStream& bytes, const TJPEGOptions& options, TGraphic* progressOwner)
    : context_(progressOwner), bytes_(bytes), options_(options) {
    // Row addresses are pointed afresh after a progress handler has run: it may
    // have copied or replaced the bitmap they belong to.
    context_.AfterProgress = [this] {
        if (AfterProgress) AfterProgress();
        PointRows();
    };
}

void TJpegRowReader::Open() {
    context_.CreateDecompress();
    bytes_.SetPosition(0);
    jpeg_decompress_struct& d = context_.D();
    context_.Run([&] {
        context_.InstallSource(bytes_);
        jpeg_read_header(&d, TRUE);
    });
    CheckJpegSize(d.image_width, d.image_height);

    d.scale_num = 1;
    d.scale_denom = 1u << static_cast<unsigned>(options_.ReduceBy);
    d.do_block_smoothing = options_.BlockSmoothing ? TRUE : FALSE;
    fourComponents_ = d.out_color_space == JCS_CMYK;
    if (fourComponents_) {
        // libjpeg cannot turn CMYK into RGB itself: we take CMYK rows and convert.
        d.quantize_colors = FALSE;
    } else {
        // Anything that is not gray comes out in our rows' blue, green, red order;
        // a colour space libjpeg cannot convert fails here rather than overrunning.
        if (options_.GrayOnly || d.out_color_space == JCS_GRAYSCALE)
            d.out_color_space = JCS_GRAYSCALE;
        else
            d.out_color_space = JCS_EXT_BGR;
        if (options_.OutputDepth == TJPEGOutputDepth::Depth8 || d.out_color_space == JCS_GRAYSCALE) {
            d.quantize_colors = TRUE;
            d.desired_number_of_colors = kQuantizedColors;
        }
    }
    if (options_.DecodeSpeed == TJPEGDecodeSpeed::FavourSpeed) {
        d.dct_method = JDCT_IFAST;
        d.two_pass_quantize = FALSE;
        d.dither_mode = JDITHER_ORDERED;
    }
    context_.finalDctMethod = d.dct_method;
    context_.finalTwoPassQuantize = d.two_pass_quantize;
    context_.finalDitherMode = d.dither_mode;
    boolean showPasses = FALSE;
    if (options_.ShowPasses) context_.Run([&] { showPasses = jpeg_has_multiple_scans(&d); });
    if (showPasses) {
        d.enable_2pass_quant = d.two_pass_quantize;
        d.dct_method = JDCT_IFAST;
        d.two_pass_quantize = FALSE;
        d.dither_mode = JDITHER_ORDERED;
        d.buffered_image = TRUE;
    }
    // Counted as the rows will be held: one byte a pixel once quantised or gray.
    const bool twoPassOutput = d.quantize_colors && d.out_color_components == 3 &&
                               (d.buffered_image ? d.enable_2pass_quant : d.two_pass_quantize);
    const int bytesPerPixel = d.quantize_colors || options_.GrayOnly || d.out_color_space == JCS_GRAYSCALE ? 1 : 3;
    int64_t codecBytes = 0;
    context_.Run([&] {
        jpeg_calc_output_dimensions(&d);
        codecBytes = CodecWholeImageBytes(d, twoPassOutput);
    });
    CheckJpegSize(d.output_width, d.output_height, bytesPerPixel, codecBytes);
}

bool TJpegRowReader::PlainColourRows() const {
    const jpeg_decompress_struct& d = context_.D();
    return d.out_color_space == JCS_EXT_BGR && !d.quantize_colors && !d.buffered_image;
}

void TJpegRowReader::UseColorMap(const TLogPalette& palette) {
    jpeg_decompress_struct& d = context_.D();
    const int count = static_cast<int>(std::min<size_t>(palette.Entries.size(), 256));
    if (count == 0) return;
    context_.Run([&] {
        JSAMPARRAY map =
            (*d.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&d), JPOOL_IMAGE, static_cast<JDIMENSION>(count), 3);
        for (int i = 0; i < count; ++i) {
            const TPaletteEntry& entry = palette.Entries[static_cast<size_t>(i)];
            map[0][i] = entry.Blue;
            map[1][i] = entry.Green;
            map[2][i] = entry.Red;
        }
        d.colormap = map;
        d.actual_number_of_colors = count;
    });
}

void TJpegRowReader::Start() {
    CheckStop();
    jpeg_decompress_struct& d = context_.D();
    context_.Run([&] { jpeg_start_decompress(&d); });
    // What libjpeg hands us per pixel must be exactly what a bitmap row holds.
    const int expected = fourComponents_ ? 4 : (d.quantize_colors ? 1 : 3);
    if (d.output_components != expected) RefuseConversion();
    invertedInks_ = d.saw_Adobe_marker != FALSE;
    if (fourComponents_) {
        context_.Run([&] {
            inkRow_ = (*d.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&d), JPOOL_IMAGE, d.output_width * 4, 1);
        });
    }
}

int TJpegRowReader::ConsumeInput() {
    // libjpeg calls no monitor while input is consumed for passes shown: the
    // limits are kept here, between its calls.
    jpeg_decompress_struct& d = context_.D();
    CheckStop();
    CheckScanCount(d);
    int status = 0;
    context_.Run([&] { status = jpeg_consume_input(&d); });
    return status;
}

bool TJpegRowReader::StartShownPass() {
    jpeg_decompress_struct& d = context_.D();
    const int status = ConsumeInput();
    if (status == JPEG_REACHED_EOI || status == JPEG_SUSPENDED) return false;
    if (++shownPasses_ > kMaxShownPasses) {
        while (!jpeg_input_complete(&d))
            if (ConsumeInput() == JPEG_SUSPENDED) break;
        CheckScanCount(d);
        return false;
    }
    context_.Run([&] { jpeg_start_output(&d, d.input_scan_number); });
    return true;
}

void TJpegRowReader::FinishShownPass() {
    jpeg_decompress_struct& d = context_.D();
    context_.Run([&] { jpeg_finish_output(&d); });
}

void TJpegRowReader::StartFinalPass(bool keepColorMap) {
    jpeg_decompress_struct& d = context_.D();
    d.dct_method = context_.finalDctMethod;
    d.dither_mode = context_.finalDitherMode;
    if (context_.finalTwoPassQuantize && keepColorMap) {
        d.two_pass_quantize = TRUE;
        d.colormap = nullptr;
    }
    context_.Run([&] { jpeg_start_output(&d, d.input_scan_number); });
}

void TJpegRowReader::PointRows() {
    if (fourComponents_ || target_ == nullptr) return;
    for (int i = 0; i < batchCount_; ++i) rows_[i] = target_->GetScanline(targetRow_ + i);
}

int TJpegRowReader::ReadRows(TBitmap& target, int top, int maxRows) {
    // Our own frame, between codec calls: the place to answer a stop.
    CheckStop();
    jpeg_decompress_struct& d = context_.D();
    if (d.output_scanline >= d.output_height || maxRows <= 0) return 0;
    const int row = static_cast<int>(d.output_scanline);
    const int count = fourComponents_ ? 1 : std::min({maxRows, kRowBatch, static_cast<int>(d.output_height) - row});
    target_ = &target;
    targetRow_ = row - top;
    batchCount_ = count;
    PointRows();
    JDIMENSION got = 0;
    JSAMPARRAY into = fourComponents_ ? inkRow_ : rows_;
    try {
        context_.Run([&] { got = jpeg_read_scanlines(&d, into, static_cast<JDIMENSION>(count)); });
    } catch (...) {
        target_ = nullptr;
        batchCount_ = 0;
        throw;
    }
    target_ = nullptr;
    batchCount_ = 0;
    // Cannot happen with our source, which never suspends; should it, the rows
    // missing are reported as the end of the file would be.
    if (got == 0) throw EJPEG(JpegErrorText(JERR_INPUT_EOF));
    if (fourComponents_)
        ConvertCmykRow(inkRow_[0], target.GetScanline(row - top), d.output_width, invertedInks_, options_.GrayOnly);
    return static_cast<int>(got);
}

void TJpegRowReader::Finish() {
    CheckStop();
    jpeg_decompress_struct& d = context_.D();
    context_.Run([&] {
        if (d.buffered_image) jpeg_finish_output(&d);
        jpeg_finish_decompress(&d);
    });
}

}  // namespace vmk
