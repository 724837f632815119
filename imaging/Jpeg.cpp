#include "imaging/Jpeg.h"

#include <algorithm>
#include <exception>
#include <new>
#include <string>

#include <jerror.h>

namespace vmk {

TJPEGOptions StartupOptions;

namespace {

int screenBitsPerPixel = 24;

constexpr int kQuantizedColors = 236;
// Rows handed to libjpeg per call; it returns at most its own row group anyway.
constexpr int kRowBatch = 16;

HPALETTE PaletteFromColorMap(const jpeg_decompress_struct& d) {
    auto palette = std::make_shared<TLogPalette>();
    const int count = std::clamp(d.actual_number_of_colors, 0, 256);
    palette->Entries.resize(static_cast<size_t>(count));
    const bool gray = d.out_color_components == 1;
    for (int i = 0; i < count; ++i) {
        TPaletteEntry& entry = palette->Entries[static_cast<size_t>(i)];
        if (gray) {
            entry.Red = entry.Green = entry.Blue = d.colormap[0][i];
        } else {
            // Colour-map rows follow the output order: blue, green, red.
            entry.Blue = d.colormap[0][i];
            entry.Green = d.colormap[1][i];
            entry.Red = d.colormap[2][i];
        }
    }
    return palette;
}

HPALETTE GrayPalette() {
    auto palette = std::make_shared<TLogPalette>();
    palette->Entries.resize(256);
    for (int i = 0; i < 256; ++i) {
        const auto level = static_cast<uint8_t>(i);
        palette->Entries[static_cast<size_t>(i)] = TPaletteEntry{level, level, level, 0};
    }
    return palette;
}

}  // namespace

void DisplayDefaults(int bitsPerPixel) {
    screenBitsPerPixel = bitsPerPixel;
    StartupOptions.OutputDepth = bitsPerPixel <= 8 ? TJPEGOutputDepth::Depth8 : TJPEGOutputDepth::Depth24;
}

void RegisterJpegFormat(int bitsPerPixel) {
    DisplayDefaults(bitsPerPixel);
    auto factory = []() -> std::unique_ptr<TGraphic> { return std::make_unique<TJPEGImage>(); };
    TPicture::RegisterFileFormat("jpeg", "JPEG Image File", "TJPEGImage", factory);
    TPicture::RegisterFileFormat("jpg", "JPEG Image File", "TJPEGImage", factory);
}

void UnregisterJpegFormat() { TPicture::UnregisterGraphicClass("TJPEGImage"); }

HPALETTE CreateHalftonePalette() {
    static const HPALETTE halftone = [] {
        auto palette = std::make_shared<TLogPalette>();
        for (int r = 0; r < 6; ++r)
            for (int g = 0; g < 6; ++g)
                for (int b = 0; b < 6; ++b)
                    palette->Entries.push_back(TPaletteEntry{static_cast<uint8_t>(r * 51), static_cast<uint8_t>(g * 51),
                                                             static_cast<uint8_t>(b * 51), 0});
        // Grays between the cube's own six, for smoother gray ramps.
        for (int i = 1; i <= 20; ++i) {
            int level = i * 255 / 21;
            if (level % 51 == 0) ++level;
            const auto v = static_cast<uint8_t>(level);
            palette->Entries.push_back(TPaletteEntry{v, v, v, 0});
        }
        return HPALETTE(palette);
    }();
    return halftone;
}

// --- TJPEGImage ----------------------------------------------------------------

namespace {

// Whatever allocation failed, the user learns which picture was too much.
std::exception_ptr OutOfMemory(const char* doing, int width, int height) {
    return std::make_exception_ptr(EOutOfMemory("Out of memory " + std::string(doing) + " a JPEG image of " +
                                                std::to_string(width) + " x " + std::to_string(height) + " pixels"));
}

// How one codec run ended: done, cancelled by a progress handler, or failed.
struct RunOutcome {
    std::exception_ptr failure;
    bool cancelled = false;

    bool Done() const { return !failure && !cancelled; }
    void RethrowFailure() const {
        if (failure) std::rethrow_exception(failure);
    }
};

// Runs work, then closes the codec whatever happened. A cancel is kept apart
// from a failure, and any allocation failure names the picture that was too much.
template <class Work>
RunOutcome RunAndClose(CodecContext& context, const char* doing, int width, int height, Work&& work) {
    RunOutcome outcome;
    try {
        work();
    } catch (const EAbort&) {
        outcome.cancelled = true;
    } catch (const std::bad_alloc&) {
        outcome.failure = OutOfMemory(doing, width, height);
    } catch (const EOutOfMemory&) {
        outcome.failure = OutOfMemory(doing, width, height);
    } catch (...) {
        outcome.failure = std::current_exception();
    }
    context.Close();
    return outcome;
}

}  // namespace

TJPEGImage::TJPEGImage() : multiScan_(StartupOptions.MultiScan), options_(StartupOptions) { ReplaceData(); }

TJPEGImage::~TJPEGImage() = default;

std::unique_ptr<TGraphic> TJPEGImage::NewInstance() const { return std::make_unique<TJPEGImage>(); }

void TJPEGImage::ReplaceData() {
    data_ = std::make_shared<TJPEGData>();
    sizeStale_ = true;
}

void TJPEGImage::ReplaceBitmap() { decoded_ = std::make_shared<TBitmap>(); }

void TJPEGImage::DropBitmap() { decoded_.reset(); }

void TJPEGImage::SetReduceBy(TJPEGReduceBy value) {
    if (value != options_.ReduceBy) sizeStale_ = true;
    options_.ReduceBy = value;
}

bool TJPEGImage::GetEmpty() const {
    if (data_->JpegBytes) return false;
    return !decoded_ || decoded_->GetEmpty();
}

int TJPEGImage::GetWidth() const {
    if (decoded_) return decoded_->Width();
    // The size of the upright picture, as decoding will give it.
    const bool turned = IsTurned(data_->Orientation);
    if (options_.ReduceBy == TJPEGReduceBy::ReduceNone) return turned ? data_->ImageHeight : data_->ImageWidth;
    ComputeReducedSize();
    return turned ? reducedHeight_ : reducedWidth_;
}

int TJPEGImage::GetHeight() const {
    if (decoded_) return decoded_->Height();
    const bool turned = IsTurned(data_->Orientation);
    if (options_.ReduceBy == TJPEGReduceBy::ReduceNone) return turned ? data_->ImageWidth : data_->ImageHeight;
    ComputeReducedSize();
    return turned ? reducedWidth_ : reducedHeight_;
}

void TJPEGImage::SetWidth(int) { throw EInvalidGraphicOperation("Cannot change the size of a JPEG image"); }

void TJPEGImage::SetHeight(int) { throw EInvalidGraphicOperation("Cannot change the size of a JPEG image"); }

HPALETTE TJPEGImage::GetPalette() const {
    if (decoded_) return decoded_->GetPalette();
    if (pendingPalette_) return pendingPalette_;
    if (options_.OutputDepth == TJPEGOutputDepth::Depth24 && screenBitsPerPixel <= 8) {
        pendingPalette_ = CreateHalftonePalette();
        return pendingPalette_;
    }
    return nullptr;
}

void TJPEGImage::SetPalette(HPALETTE palette) {
    if (palette == pendingPalette_) return;
    bool dropped = false;
    if (decoded_ && decoded_->GetPalette() != palette) {
        DropBitmap();
        dropped = true;
    }
    pendingPalette_ = std::move(palette);
    if (dropped) {
        SetPaletteModified(true);
        Changed();
    }
}

// --- loading ---------------------------------------------------------------------

void TJPEGImage::LoadFromStream(TStream& stream) { LoadJpegBytes(stream.GetSize() - stream.GetPosition(), stream); }

void TJPEGImage::ReadData(TStream& stream) {
    uint8_t length[4];
    stream.ReadBuffer(length, 4);
    const auto size =
        static_cast<int32_t>(static_cast<uint32_t>(length[0]) | (static_cast<uint32_t>(length[1]) << 8) |
                             (static_cast<uint32_t>(length[2]) << 16) | (static_cast<uint32_t>(length[3]) << 24));
    if (size < 0) throw EInvalidGraphic("Invalid JPEG data length");
    LoadJpegBytes(size, stream);
}

void TJPEGImage::LoadJpegBytes(int64_t size, TStream& stream) {
    ReplaceData();
    DropBitmap();
    markers_.clear();
    // Never allocate for bytes the stream cannot deliver.
    if (size < 0 || size > stream.GetSize() - stream.GetPosition()) throw EReadError("Stream read error");
    auto bytes = std::make_unique<TMemoryStream>();
    try {
        bytes->SetSize(size);
    } catch (const std::bad_alloc&) {
        throw EOutOfMemory("Out of memory loading a JPEG file of " + std::to_string(size) + " bytes");
    }
    stream.ReadBuffer(bytes->Memory(), size);
    data_->JpegBytes = std::move(bytes);

    if (size > 0) {
        TMemoryStream& source = *data_->JpegBytes;
        source.SetPosition(0);
        CodecContext context;
        context.CreateDecompress();
        jpeg_decompress_struct& d = context.D();
        boolean multiScan = FALSE;
        const bool saveMarkers = FewEnoughSegments(source.Memory(), static_cast<size_t>(size));
        int64_t codecBytes = 0;
        context.Run([&] {
            context.InstallSource(source);
            if (saveMarkers)
                for (const uint8_t code : kKeptMarkerCodes) jpeg_save_markers(&d, code, 0xFFFF);
            jpeg_read_header(&d, TRUE);
            multiScan = jpeg_has_multiple_scans(&d);
            codecBytes = CodecWholeImageBytes(d, false);
        });
        CheckJpegSize(d.image_width, d.image_height, d.jpeg_color_space == JCS_GRAYSCALE ? 1 : 3, codecBytes);
        TakeMarkers(d);
        // Too many segments to save: the orientation is read from the bytes all the same.
        if (!saveMarkers) data_->Orientation = FileOrientation(source.Memory(), static_cast<size_t>(size));
        data_->ImageWidth = static_cast<int>(d.image_width);
        data_->ImageHeight = static_cast<int>(d.image_height);
        data_->IsGray = d.jpeg_color_space == JCS_GRAYSCALE;
        multiScan_ = multiScan != FALSE;
    }
    SetPaletteModified(true);
    Changed();
}

// --- decoding --------------------------------------------------------------------

void TJPEGImage::OpenDecoder(CodecContext& context) const {
    context.CreateDecompress();
    TMemoryStream& source = *data_->JpegBytes;
    source.SetPosition(0);
    jpeg_decompress_struct& d = context.D();
    context.Run([&] {
        context.InstallSource(source);
        jpeg_read_header(&d, TRUE);
    });
    CheckJpegSize(d.image_width, d.image_height);

    d.scale_num = 1;
    d.scale_denom = 1u << static_cast<unsigned>(options_.ReduceBy);
    d.do_block_smoothing = options_.BlockSmoothing ? TRUE : FALSE;
    const bool fourComponents = d.out_color_space == JCS_CMYK;
    if (fourComponents) {
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
    context.finalDctMethod = d.dct_method;
    context.finalTwoPassQuantize = d.two_pass_quantize;
    context.finalDitherMode = d.dither_mode;
    boolean showPasses = FALSE;
    if (options_.ShowPasses) context.Run([&] { showPasses = jpeg_has_multiple_scans(&d); });
    if (showPasses) {
        d.enable_2pass_quant = d.two_pass_quantize;
        d.dct_method = JDCT_IFAST;
        d.two_pass_quantize = FALSE;
        d.dither_mode = JDITHER_ORDERED;
        d.buffered_image = TRUE;
    }
    // Counted as Decode will hold it: one byte a pixel once quantised or gray.
    const bool twoPassOutput = d.quantize_colors && d.out_color_components == 3 &&
                               (d.buffered_image ? d.enable_2pass_quant : d.two_pass_quantize);
    const int bytesPerPixel = d.quantize_colors || options_.GrayOnly || d.out_color_space == JCS_GRAYSCALE ? 1 : 3;
    int64_t codecBytes = 0;
    context.Run([&] {
        jpeg_calc_output_dimensions(&d);
        codecBytes = CodecWholeImageBytes(d, twoPassOutput);
    });
    CheckJpegSize(d.output_width, d.output_height, bytesPerPixel, codecBytes);
}

void TJPEGImage::TakeMarkers(const jpeg_decompress_struct& d) {
    TJPEGMarkers kept;
    for (jpeg_saved_marker_ptr m = d.marker_list; m != nullptr; m = m->next) {
        // A segment cut short by the save limit would be written back damaged.
        if (m->data_length != m->original_length || !IsKeptMarker(m->marker, m->data, m->data_length)) continue;
        kept.push_back(TJPEGMarker{m->marker, std::vector<uint8_t>(m->data, m->data + m->data_length)});
    }
    data_->Orientation = ExifOrientation(kept);
    MarkUpright(kept);
    markers_ = std::move(kept);
}

void TJPEGImage::ComputeReducedSize() const {
    if (!sizeStale_) return;
    if (!data_->JpegBytes || data_->JpegBytes->GetSize() == 0) {
        reducedWidth_ = reducedHeight_ = 0;
        sizeStale_ = false;
        return;
    }
    CodecContext context;
    OpenDecoder(context);
    reducedWidth_ = static_cast<int>(context.D().output_width);
    reducedHeight_ = static_cast<int>(context.D().output_height);
    boolean multiScan = FALSE;
    context.Run([&] { multiScan = jpeg_has_multiple_scans(&context.D()); });
    multiScan_ = multiScan != FALSE;
    sizeStale_ = false;
}

TBitmap& TJPEGImage::ToBitmap() {
    if (decoded_) return *decoded_;
    decoded_ = std::make_shared<TBitmap>();
    // A picture that never had bytes has nothing to decode: it stays empty.
    if (!data_->JpegBytes) return *decoded_;

    // The bytes the codec reads and the bitmap it writes stay alive even when a
    // progress handler gives the picture new ones; the decode then stops.
    const std::shared_ptr<TJPEGData> data = data_;
    const std::shared_ptr<TBitmap> target = decoded_;
    TBitmap& bitmap = *target;
    CodecContext context(this);
    const RunOutcome outcome =
        RunAndClose(context, "decoding", data->ImageWidth, data->ImageHeight, [&] { Decode(context, data, target); });
    // Rows kept from a failed or cancelled decode are turned too, so what is
    // shown never changes its shape later.
    OrientUpright(bitmap, data_->Orientation);
    ReportEnd(outcome.Done(), GetPaletteModified());
    if (GetPaletteModified()) Changed();
    outcome.RethrowFailure();
    // Replaced from a progress handler: what the picture holds now is what counts.
    if (data_ != data || decoded_ != target) return ToBitmap();
    return bitmap;
}

// What the stages of one decode share: the codec, the bitmap it writes and the
// rows handed to libjpeg.
struct TJPEGImage::DecodeState {
    DecodeState(CodecContext& codec, TBitmap& target, const TJPEGOptions& options)
        : context(codec),
          d(codec.D()),
          bitmap(target),
          fourComponents(d.out_color_space == JCS_CMYK),
          toGray(fourComponents && options.GrayOnly),
          eightBit((!fourComponents &&
                    (options.OutputDepth == TJPEGOutputDepth::Depth8 || d.out_color_space == JCS_GRAYSCALE)) ||
                   toGray) {}

    // Row addresses are taken afresh for every call (GetScanline unshares the
    // raster): a copy of the bitmap made meanwhile keeps its own rows.
    void PointRows() {
        for (JDIMENSION i = 0; i < batchCount; ++i) rows[i] = bitmap.GetScanline(static_cast<int>(batchRow + i));
    }

    // Stores output rows from the codec's current row until the pass ends.
    void StoreRows() {
        while (d.output_scanline < d.output_height) {
            batchRow = d.output_scanline;
            batchCount = fourComponents ? 1 : std::min<JDIMENSION>(kRowBatch, d.output_height - batchRow);
            if (!fourComponents) PointRows();
            JDIMENSION got = 0;
            context.Run([&] { got = jpeg_read_scanlines(&d, fourComponents ? inkRow : rows, batchCount); });
            if (got == 0) break;  // cannot happen with a source that never suspends
            if (fourComponents)
                ConvertCmykRow(inkRow[0], bitmap.GetScanline(static_cast<int>(batchRow)), d.output_width, invertedInks,
                               toGray);
        }
    }

    CodecContext& context;
    jpeg_decompress_struct& d;
    TBitmap& bitmap;
    const bool fourComponents;
    const bool toGray;
    const bool eightBit;
    bool paletteWanted = true;
    bool invertedInks = false;
    TPixelFormat format = TPixelFormat::pfDevice;
    JSAMPARRAY inkRow = nullptr;
    JSAMPROW rows[kRowBatch] = {};
    JDIMENSION batchRow = 0;
    JDIMENSION batchCount = 0;
};

void TJPEGImage::Decode(CodecContext& context, const std::shared_ptr<TJPEGData>& data,
                        const std::shared_ptr<TBitmap>& target) {
    OpenDecoder(context);
    DecodeState state(context, *target, options_);
    StartDecode(state);
    // A progress handler runs inside jpeg_read_scanlines, after the rows were
    // handed over: point them again, and stop when the picture is not ours to
    // write any more.
    context.AfterProgress = [&] {
        const jpeg_decompress_struct& d = state.d;
        const TBitmap& bitmap = state.bitmap;
        if (data_ != data || decoded_ != target || bitmap.Width() != static_cast<int>(d.output_width) ||
            bitmap.Height() != static_cast<int>(d.output_height) || bitmap.GetPixelFormat() != state.format)
            throw EAbort("Operation aborted");
        if (!state.fourComponents) state.PointRows();
    };
    if (state.d.buffered_image) ShowDecodePasses(state);
    FinishDecode(state);
}

void TJPEGImage::StartDecode(DecodeState& state) {
    CodecContext& context = state.context;
    jpeg_decompress_struct& d = state.d;
    TBitmap& bitmap = state.bitmap;
    bitmap.FreeImage();
    bitmap.SetPixelFormat(state.eightBit ? TPixelFormat::pf8bit : TPixelFormat::pf24bit);
    Progress(TProgressStage::psStarting, 0, false, TRect{}, std::string());

    if (pendingPalette_) {
        // libjpeg takes a colour map only for three-component output; gray output
        // gets its own map, and the bitmap must then carry that one.
        if (options_.OutputDepth == TJPEGOutputDepth::Depth8 && d.quantize_colors &&
            d.out_color_space != JCS_GRAYSCALE) {
            const HPALETTE palette = pendingPalette_;
            const int count = static_cast<int>(std::min<size_t>(palette->Entries.size(), 256));
            if (count > 0) {
                context.Run([&] {
                    JSAMPARRAY map = (*d.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&d), JPOOL_IMAGE,
                                                            static_cast<JDIMENSION>(count), 3);
                    for (int i = 0; i < count; ++i) {
                        const TPaletteEntry& entry = palette->Entries[static_cast<size_t>(i)];
                        map[0][i] = entry.Blue;
                        map[1][i] = entry.Green;
                        map[2][i] = entry.Red;
                    }
                    d.colormap = map;
                    d.actual_number_of_colors = count;
                });
                bitmap.SetPalette(palette);
                state.paletteWanted = false;
            }
        } else if (options_.OutputDepth == TJPEGOutputDepth::Depth24) {
            pendingPalette_.reset();
        }
    }

    context.Run([&] { jpeg_start_decompress(&d); });

    // What libjpeg hands us per pixel must be exactly what a bitmap row holds.
    const int expected = state.fourComponents ? 4 : (d.quantize_colors ? 1 : 3);
    if (d.output_components != expected) throw EJPEG("JPEG error #" + std::to_string(JERR_CONVERSION_NOTIMPL));

    bitmap.FreeImage();
    bitmap.SetSize(static_cast<int>(d.output_width), static_cast<int>(d.output_height));
    if (state.toGray) bitmap.SetPalette(GrayPalette());
    state.invertedInks = d.saw_Adobe_marker != FALSE;
    state.format = bitmap.GetPixelFormat();

    if (state.fourComponents) {
        context.Run([&] {
            state.inkRow =
                (*d.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&d), JPOOL_IMAGE, d.output_width * 4, 1);
        });
    }
}

void TJPEGImage::TakeColorMap(DecodeState& state) {
    if (state.d.colormap != nullptr && state.eightBit && state.paletteWanted) {
        state.bitmap.SetPalette(PaletteFromColorMap(state.d));
        SetPaletteModified(true);
    }
}

void TJPEGImage::ShowDecodePasses(DecodeState& state) {
    CodecContext& context = state.context;
    jpeg_decompress_struct& d = state.d;
    // A hostile file may hold thousands of scans; show at most this many.
    constexpr int kMaxShownPasses = 100;
    int shown = 0;
    for (;;) {
        int status = 0;
        context.Run([&] { status = jpeg_consume_input(&d); });
        if (status == JPEG_REACHED_EOI || status == JPEG_SUSPENDED) break;
        if (++shown > kMaxShownPasses) {
            context.Run([&] {
                while (!jpeg_input_complete(&d))
                    if (jpeg_consume_input(&d) == JPEG_SUSPENDED) break;
            });
            break;
        }
        context.Run([&] { jpeg_start_output(&d, d.input_scan_number); });
        if (context.ProgressRecord().pub.completed_passes == 0) TakeColorMap(state);
        state.StoreRows();
        context.Run([&] { jpeg_finish_output(&d); });
    }
    d.dct_method = context.finalDctMethod;
    d.dither_mode = context.finalDitherMode;
    // A given palette stays the colour map of the final pass too.
    if (context.finalTwoPassQuantize && state.paletteWanted) {
        d.two_pass_quantize = TRUE;
        d.colormap = nullptr;
    }
    context.Run([&] { jpeg_start_output(&d, d.input_scan_number); });
}

void TJPEGImage::FinishDecode(DecodeState& state) {
    CodecContext& context = state.context;
    jpeg_decompress_struct& d = state.d;
    if (!d.buffered_image || context.finalTwoPassQuantize) TakeColorMap(state);
    state.batchRow = state.batchCount = 0;
    state.StoreRows();
    context.Run([&] {
        if (d.buffered_image) jpeg_finish_output(&d);
        jpeg_finish_decompress(&d);
    });

    if (state.fourComponents && !state.toGray && options_.OutputDepth == TJPEGOutputDepth::Depth8)
        state.bitmap.SetPixelFormat(TPixelFormat::pf8bit);
}

// --- encoding --------------------------------------------------------------------

void TJPEGImage::EnsureCompressed() {
    if (!data_->JpegBytes) EncodeBitmap();
}

bool TJPEGImage::EncodeBitmap() {
    CodecContext context(this);
    context.CreateCompress();
    if (data_->JpegBytes) ReplaceData();
    data_->JpegBytes = std::make_unique<TMemoryStream>();
    // Kept alive while the codec writes, even if a progress handler gives the
    // picture new contents; the encode then stops.
    const std::shared_ptr<TJPEGData> data = data_;
    TMemoryStream& target = *data->JpegBytes;
    context.Run([&] { context.InstallDestination(target); });
    if (!decoded_ || decoded_->Width() == 0 || decoded_->Height() == 0) return true;

    jpeg_compress_struct& c = context.C();
    const int width = decoded_->Width();
    const int height = decoded_->Height();
    c.image_width = static_cast<JDIMENSION>(width);
    c.image_height = static_cast<JDIMENSION>(height);
    data_->ImageWidth = width;
    data_->ImageHeight = height;

    // Shares the raster: a 24- or 32-bit bitmap is read in place, never copied.
    TBitmap rows;
    rows.Assign(*decoded_);
    if (rows.GetPixelFormat() == TPixelFormat::pf32bit) {
        c.input_components = 4;
        c.in_color_space = JCS_EXT_BGRX;
    } else {
        if (rows.GetPixelFormat() != TPixelFormat::pf24bit) rows.SetPixelFormat(TPixelFormat::pf24bit);
        c.input_components = 3;
        c.in_color_space = JCS_EXT_BGR;
    }
    SetUpEncoder(context);

    const TBitmap& source = rows;
    const uint8_t* const firstRow = source.GetScanline(0);
    const ptrdiff_t rowStep = height > 1 ? source.GetScanline(1) - firstRow : source.GetStride();

    Progress(TProgressStage::psStarting, 0, false, TRect{}, std::string());
    context.AfterProgress = [&] {
        if (data_ != data) throw EAbort("Operation aborted");
    };
    const RunOutcome outcome = RunAndClose(context, "encoding", width, height, [&] {
        StartEncoder(context);
        context.Run([&] {
            while (c.next_scanline < c.image_height) {
                JSAMPROW batch[kRowBatch];
                const JDIMENSION row = c.next_scanline;
                const JDIMENSION count = std::min<JDIMENSION>(kRowBatch, c.image_height - row);
                for (JDIMENSION i = 0; i < count; ++i)
                    // libjpeg only reads input rows; its API merely lacks const.
                    batch[i] = const_cast<JSAMPROW>(firstRow + static_cast<ptrdiff_t>(row + i) * rowStep);
                if (jpeg_write_scanlines(&c, batch, count) == 0) break;
            }
            jpeg_finish_compress(&c);
        });
    });
    const bool replaced = data_ != data;
    // Half-written bytes must never be saved later.
    if (!outcome.Done() && !replaced) ReplaceData();
    ReportEnd(outcome.Done(), false);
    outcome.RethrowFailure();
    // Replaced from a progress handler: the picture it holds now is what gets saved.
    if (replaced) {
        EnsureCompressed();
        return data_->JpegBytes != nullptr;
    }
    return !outcome.cancelled;
}

void TJPEGImage::SetUpEncoder(CodecContext& context) {
    jpeg_compress_struct& c = context.C();
    const int quality = options_.SaveQuality;
    const bool gray = options_.GrayOnly;
    const bool progressive = multiScan_;
    context.Run([&] {
        jpeg_set_defaults(&c);
        jpeg_set_quality(&c, quality, TRUE);
        if (gray) jpeg_set_colorspace(&c, JCS_GRAYSCALE);
        if (progressive) jpeg_simple_progression(&c);
    });
    if (gray) data_->IsGray = true;
}

void TJPEGImage::StartEncoder(CodecContext& context) const {
    jpeg_compress_struct& c = context.C();
    const TJPEGMarker* const markers = markers_.data();
    const size_t markerCount = markers_.size();
    context.Run([&] {
        jpeg_start_compress(&c, TRUE);
        for (size_t i = 0; i < markerCount; ++i)
            jpeg_write_marker(&c, markers[i].Code, markers[i].Data.data(),
                              static_cast<unsigned>(markers[i].Data.size()));
    });
}

// --- decoding and encoding a band at a time ------------------------------------

bool TJPEGImage::TranscodeInBands(TJPEGImage& source, TStream& out, const TBandEditor& edit) {
    const std::shared_ptr<TJPEGData> data = source.data_;
    // Turning a picture upright needs all of it; a decoded picture is encoded as it is.
    if (!data->JpegBytes || data->JpegBytes->GetSize() == 0 || data->Orientation != TOrientation::Normal ||
        source.options_.ShowPasses || source.decoded_)
        return false;
    bool whole = false;
    std::exception_ptr encodeFailure;
    CodecContext reading;
    const RunOutcome decoding = RunAndClose(reading, "decoding", data->ImageWidth, data->ImageHeight, [&] {
        source.OpenDecoder(reading);
        jpeg_decompress_struct& d = reading.D();
        if (d.out_color_space != JCS_EXT_BGR || d.quantize_colors || d.buffered_image) {
            whole = true;
            return;
        }
        reading.Run([&] { jpeg_start_decompress(&d); });
        // As a whole decode insists: three bytes a pixel, as a bitmap row holds them.
        if (d.output_components != 3) throw EJPEG("JPEG error #" + std::to_string(JERR_CONVERSION_NOTIMPL));
        std::exception_ptr readFailure;
        try {
            EncodeBands(reading, out, edit, readFailure);
        } catch (...) {
            encodeFailure = std::current_exception();
        }
        if (readFailure) std::rethrow_exception(readFailure);
        if (!encodeFailure) reading.Run([&] { jpeg_finish_decompress(&d); });
    });
    if (whole) return false;
    decoding.RethrowFailure();
    if (encodeFailure) std::rethrow_exception(encodeFailure);
    // Bytes cut short by a cancel must never pass for a result.
    if (decoding.cancelled) throw EAbort("Operation aborted");
    return true;
}

void TJPEGImage::EncodeBands(CodecContext& reading, TStream& out, const TBandEditor& edit,
                             std::exception_ptr& readFailure) {
    jpeg_decompress_struct& d = reading.D();
    const int width = static_cast<int>(d.output_width);
    const int height = static_cast<int>(d.output_height);
    CodecContext writing;
    writing.CreateCompress();
    const RunOutcome encoding = RunAndClose(writing, "encoding", width, height, [&] {
        jpeg_compress_struct& c = writing.C();
        writing.Run([&] { writing.InstallDestination(out); });
        c.image_width = d.output_width;
        c.image_height = d.output_height;
        c.input_components = 3;
        c.in_color_space = JCS_EXT_BGR;
        SetUpEncoder(writing);
        StartEncoder(writing);
        TBitmap band;
        band.SetPixelFormat(TPixelFormat::pf24bit);
        JSAMPROW rows[kRowBatch];
        while (d.output_scanline < d.output_height) {
            const int top = static_cast<int>(d.output_scanline);
            const int count = std::min(kRowBatch, height - top);
            if (band.Width() != width || band.Height() != count) band.SetSize(width, count);
            const auto pointRows = [&] {
                for (int i = 0; i < count; ++i) rows[i] = band.GetScanline(i);
            };
            pointRows();
            try {
                for (int got = 0; got < count;) {
                    JDIMENSION n = 0;
                    reading.Run([&] {
                        n = jpeg_read_scanlines(&d, rows + got, static_cast<JDIMENSION>(count - got));
                        // Cannot happen with a source that never suspends; the codec
                        // then reports the rows missing, as a whole decode would.
                        if (n == 0) jpeg_finish_decompress(&d);
                    });
                    got += static_cast<int>(n);
                }
            } catch (...) {
                readFailure = std::current_exception();
                return;
            }
            edit(band, top);
            pointRows();  // an edit may have given the band a raster of its own
            writing.Run([&] { jpeg_write_scanlines(&c, rows, static_cast<JDIMENSION>(count)); });
        }
        writing.Run([&] { jpeg_finish_compress(&c); });
    });
    encoding.RethrowFailure();
    if (encoding.cancelled) throw EAbort("Operation aborted");
}

void TJPEGImage::ReportEnd(bool done, bool redrawNow) {
    Progress(TProgressStage::psEnding, done ? 100 : 0, redrawNow, TRect{}, std::string());
}

// --- saving, copying -------------------------------------------------------------

void TJPEGImage::SaveToStream(TStream& stream) {
    EnsureCompressed();
    // A cancelled encode leaves no bytes; writing nothing would pass for success.
    if (!data_->JpegBytes) throw EAbort("Operation aborted");
    TMemoryStream& bytes = *data_->JpegBytes;
    // A short write (a full disk) must fail, not leave a cut file behind.
    stream.WriteBuffer(bytes.Memory(), bytes.GetSize());
}

void TJPEGImage::WriteData(TStream& stream) {
    const int64_t size = data_->JpegBytes ? data_->JpegBytes->GetSize() : 0;
    if (size > INT32_MAX) throw EInvalidGraphic("JPEG data too large to store");
    const auto length = static_cast<uint32_t>(size);
    const uint8_t bytes[4] = {static_cast<uint8_t>(length), static_cast<uint8_t>(length >> 8),
                              static_cast<uint8_t>(length >> 16), static_cast<uint8_t>(length >> 24)};
    stream.WriteBuffer(bytes, 4);
    if (size > 0) stream.WriteBuffer(data_->JpegBytes->Memory(), size);
}

void TJPEGImage::Draw(TCanvas& canvas, const TRect& rect) { canvas.StretchDraw(rect, ToBitmap()); }

void TJPEGImage::Assign(TGraphic& source) {
    if (auto* jpeg = dynamic_cast<TJPEGImage*>(&source)) {
        if (jpeg == this) return;
        data_ = jpeg->data_;
        markers_ = jpeg->markers_;
        sizeStale_ = true;
        if (jpeg->decoded_) {
            ReplaceBitmap();
            decoded_->Assign(*jpeg->decoded_);
        } else {
            DropBitmap();
        }
    } else if (auto* bitmap = dynamic_cast<TBitmap*>(&source)) {
        ReplaceData();
        ReplaceBitmap();
        markers_.clear();
        decoded_->Assign(*bitmap);
    } else {
        TGraphic::Assign(source);
    }
}

void TJPEGImage::AssignTo(TGraphic& destination) {
    if (auto* bitmap = dynamic_cast<TBitmap*>(&destination))
        bitmap->Assign(ToBitmap());
    else
        TGraphic::AssignTo(destination);
}

bool TJPEGImage::Equals(TGraphic& other) {
    auto* jpeg = dynamic_cast<TJPEGImage*>(&other);
    if (jpeg == nullptr) return false;
    if (data_->JpegBytes && jpeg->data_->JpegBytes) return TGraphic::Equals(other);
    return data_ == jpeg->data_;
}

}  // namespace vmk
