#include "imaging/Jpeg.h"

#include <algorithm>
#include <exception>
#include <new>
#include <string>

#include <jerror.h>

#include "core/Stop.h"

namespace vmk {

TJPEGOptions StartupOptions;

namespace {

int screenBitsPerPixel = 24;

constexpr int kRowBatch = TJpegRowReader::kRowBatch;

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

void TJPEGImage::ReduceToFill(int boxWidth, int boxHeight) {
    if (decoded_) return;
    SetReduceBy(TJPEGReduceBy::ReduceNone);
    SetReduceBy(ReductionToFill(GetWidth(), GetHeight(), boxWidth, boxHeight));
}

TJPEGReduceBy ReductionToFill(int width, int height, int boxWidth, int boxHeight) {
    if (width <= 0 || height <= 0 || boxWidth <= 0 || boxHeight <= 0) return TJPEGReduceBy::ReduceNone;
    if (width <= boxWidth && height <= boxHeight) return TJPEGReduceBy::ReduceNone;
    // The shown size, as a fitted view rounds it: the tighter side fills the box.
    int64_t shownW = boxWidth, shownH = boxHeight;
    if (int64_t{boxWidth} * height <= int64_t{boxHeight} * width)
        shownH = std::max<int64_t>(int64_t{height} * boxWidth / width, 1);
    else
        shownW = std::max<int64_t>(int64_t{width} * boxHeight / height, 1);
    // libjpeg rounds a scaled side up.
    for (const TJPEGReduceBy reduce :
         {TJPEGReduceBy::ReduceEighth, TJPEGReduceBy::ReduceQuarter, TJPEGReduceBy::ReduceHalf}) {
        const int64_t d = int64_t{1} << static_cast<unsigned>(reduce);
        if ((width + d - 1) / d >= shownW && (height + d - 1) / d >= shownH) return reduce;
    }
    return TJPEGReduceBy::ReduceNone;
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
    TJpegRowReader reader(*data_->JpegBytes, options_);
    reader.Open();
    reducedWidth_ = reader.Width();
    reducedHeight_ = reader.Height();
    boolean multiScan = FALSE;
    reader.Context().Run([&] { multiScan = jpeg_has_multiple_scans(&reader.D()); });
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
    TJpegRowReader reader(*data->JpegBytes, options_, this);
    const RunOutcome outcome = RunAndClose(reader.Context(), "decoding", data->ImageWidth, data->ImageHeight,
                                           [&] { Decode(reader, data, target); });
    // Rows kept from a failed or cancelled decode are turned too, so what is
    // shown never changes its shape later.
    OrientUpright(bitmap, data_->Orientation);
    ReportEnd(outcome.Done(), GetPaletteModified());
    if (GetPaletteModified()) Changed();
    // Stopped from outside rather than by a progress handler: the work is to
    // end, and rows cut short must not be taken for the picture later.
    if (outcome.cancelled && StopRequested()) {
        if (decoded_ == target) DropBitmap();
        throw EAbort("Operation aborted");
    }
    outcome.RethrowFailure();
    // Replaced from a progress handler: what the picture holds now is what counts.
    if (data_ != data || decoded_ != target) return ToBitmap();
    return bitmap;
}

// What the stages of one decode share: the reader and the bitmap it fills.
struct TJPEGImage::DecodeState {
    DecodeState(TJpegRowReader& rowReader, TBitmap& target, const TJPEGOptions& options)
        : reader(rowReader),
          d(rowReader.D()),
          bitmap(target),
          fourComponents(rowReader.FourComponents()),
          toGray(fourComponents && options.GrayOnly),
          eightBit((!fourComponents &&
                    (options.OutputDepth == TJPEGOutputDepth::Depth8 || d.out_color_space == JCS_GRAYSCALE)) ||
                   toGray) {}

    // Stores rows from the reader's current row until the pass ends.
    void StoreRows() {
        while (!reader.PassDone()) reader.ReadRows(bitmap, 0);
    }

    TJpegRowReader& reader;
    jpeg_decompress_struct& d;
    TBitmap& bitmap;
    const bool fourComponents;
    const bool toGray;
    const bool eightBit;
    bool paletteWanted = true;
    TPixelFormat format = TPixelFormat::pfDevice;
};

void TJPEGImage::Decode(TJpegRowReader& reader, const std::shared_ptr<TJPEGData>& data,
                        const std::shared_ptr<TBitmap>& target) {
    reader.Open();
    DecodeState state(reader, *target, options_);
    StartDecode(state);
    // A progress handler runs inside the codec, after the rows were handed over:
    // stop when the picture is not ours to write any more (the reader then
    // points the rows afresh).
    reader.AfterProgress = [&] {
        const jpeg_decompress_struct& d = state.d;
        const TBitmap& bitmap = state.bitmap;
        if (data_ != data || decoded_ != target || bitmap.Width() != static_cast<int>(d.output_width) ||
            bitmap.Height() != static_cast<int>(d.output_height) || bitmap.GetPixelFormat() != state.format)
            throw EAbort("Operation aborted");
    };
    if (reader.ShowsPasses()) ShowDecodePasses(state);
    FinishDecode(state);
}

void TJPEGImage::StartDecode(DecodeState& state) {
    TJpegRowReader& reader = state.reader;
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
            if (!palette->Entries.empty()) {
                reader.UseColorMap(*palette);
                bitmap.SetPalette(palette);
                state.paletteWanted = false;
            }
        } else if (options_.OutputDepth == TJPEGOutputDepth::Depth24) {
            pendingPalette_.reset();
        }
    }

    reader.Start();

    bitmap.FreeImage();
    bitmap.SetSize(reader.Width(), reader.Height());
    if (state.toGray) bitmap.SetPalette(GrayPalette());
    state.format = bitmap.GetPixelFormat();
}

void TJPEGImage::TakeColorMap(DecodeState& state) {
    if (state.d.colormap != nullptr && state.eightBit && state.paletteWanted) {
        state.bitmap.SetPalette(PaletteFromColorMap(state.d));
        SetPaletteModified(true);
    }
}

void TJPEGImage::ShowDecodePasses(DecodeState& state) {
    TJpegRowReader& reader = state.reader;
    while (reader.StartShownPass()) {
        if (reader.CompletedPasses() == 0) TakeColorMap(state);
        state.StoreRows();
        reader.FinishShownPass();
    }
    reader.StartFinalPass(state.paletteWanted);
}

void TJPEGImage::FinishDecode(DecodeState& state) {
    TJpegRowReader& reader = state.reader;
    jpeg_decompress_struct& d = state.d;
    if (!d.buffered_image || reader.Context().finalTwoPassQuantize) TakeColorMap(state);
    state.StoreRows();
    reader.Finish();

    if (state.fourComponents && !state.toGray && options_.OutputDepth == TJPEGOutputDepth::Depth8)
        state.bitmap.SetPixelFormat(TPixelFormat::pf8bit);
}

// --- encoding --------------------------------------------------------------------

void TJPEGImage::EnsureCompressed() {
    if (!data_->JpegBytes) EncodeBitmap();
}

void TJPEGImage::CheckEncodable() const {
    const int width = decoded_ ? decoded_->Width() : 0;
    const int height = decoded_ ? decoded_->Height() : 0;
    if (width == 0 || height == 0)
        throw EJPEG("JPEG image cannot be empty: " + std::to_string(width) + " x " + std::to_string(height) +
                    " pixels");
}

bool TJPEGImage::EncodeBitmap() {
    CheckEncodable();
    CheckStop();
    CodecContext context(this);
    context.CreateCompress();
    if (data_->JpegBytes) ReplaceData();
    data_->JpegBytes = std::make_unique<TMemoryStream>();
    // Kept alive while the codec writes, even if a progress handler gives the
    // picture new contents; the encode then stops.
    const std::shared_ptr<TJPEGData> data = data_;
    TMemoryStream& target = *data->JpegBytes;
    context.Run([&] { context.InstallDestination(target); });

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
        while (c.next_scanline < c.image_height) {
            // Between codec calls, in our own frame: the place to answer a stop.
            CheckStop();
            JDIMENSION written = 0;
            context.Run([&] {
                JSAMPROW batch[kRowBatch];
                const JDIMENSION row = c.next_scanline;
                const JDIMENSION count = std::min<JDIMENSION>(kRowBatch, c.image_height - row);
                for (JDIMENSION i = 0; i < count; ++i)
                    // libjpeg only reads input rows; its API merely lacks const.
                    batch[i] = const_cast<JSAMPROW>(firstRow + static_cast<ptrdiff_t>(row + i) * rowStep);
                written = jpeg_write_scanlines(&c, batch, count);
            });
            if (written == 0) break;
        }
        context.Run([&] { jpeg_finish_compress(&c); });
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
    // The reader a whole decode of source uses, its limits included; only the
    // progress reports are left out.
    TJpegRowReader reader(*data->JpegBytes, source.options_);
    const RunOutcome decoding = RunAndClose(reader.Context(), "decoding", data->ImageWidth, data->ImageHeight, [&] {
        reader.Open();
        if (!reader.PlainColourRows()) {
            whole = true;
            return;
        }
        reader.Start();
        std::exception_ptr readFailure;
        try {
            EncodeBands(reader, out, edit, readFailure);
        } catch (...) {
            encodeFailure = std::current_exception();
        }
        if (readFailure) std::rethrow_exception(readFailure);
        if (!encodeFailure) reader.Finish();
    });
    if (whole) return false;
    decoding.RethrowFailure();
    if (encodeFailure) std::rethrow_exception(encodeFailure);
    // Bytes cut short by a cancel must never pass for a result.
    if (decoding.cancelled) throw EAbort("Operation aborted");
    return true;
}

void TJPEGImage::EncodeBands(TJpegRowReader& reader, TStream& out, const TBandEditor& edit,
                             std::exception_ptr& readFailure) {
    const int width = reader.Width();
    const int height = reader.Height();
    CodecContext writing;
    writing.CreateCompress();
    const RunOutcome encoding = RunAndClose(writing, "encoding", width, height, [&] {
        jpeg_compress_struct& c = writing.C();
        writing.Run([&] { writing.InstallDestination(out); });
        c.image_width = static_cast<JDIMENSION>(width);
        c.image_height = static_cast<JDIMENSION>(height);
        c.input_components = 3;
        c.in_color_space = JCS_EXT_BGR;
        SetUpEncoder(writing);
        StartEncoder(writing);
        TBitmap band;
        band.SetPixelFormat(TPixelFormat::pf24bit);
        JSAMPROW rows[kRowBatch];
        while (!reader.PassDone()) {
            const int top = reader.Row();
            const int count = std::min(kRowBatch, height - top);
            if (band.Width() != width || band.Height() != count) band.SetSize(width, count);
            try {
                for (int got = 0; got < count;) got += reader.ReadRows(band, top, count - got);
            } catch (...) {
                readFailure = std::current_exception();
                return;
            }
            edit(band, top);
            // An edit may have given the band a raster of its own.
            for (int i = 0; i < count; ++i) rows[i] = band.GetScanline(i);
            CheckStop();
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
