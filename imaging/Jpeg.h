#pragma once

// The JPEG picture: the file's bytes and a decoded bitmap, each made from the
// other only when something needs it.

#include <cstdint>
#include <functional>
#include <memory>

#include "imaging/Exif.h"
#include "imaging/Graphics.h"
#include "imaging/JpegCodec.h"
#include "imaging/JpegReader.h"

namespace vmk {

// Options every new TJPEGImage starts with.
extern TJPEGOptions StartupOptions;

// Fixes the default output depth from the screen's bits per pixel (times its
// planes): 8 or fewer give Depth8. Runs once at start-up, before any picture.
void DisplayDefaults(int screenBitsPerPixel);

// Registers TJPEGImage for "jpeg" and "jpg" with the picture holder, after
// DisplayDefaults; UnregisterJpegFormat removes it again.
void RegisterJpegFormat(int screenBitsPerPixel = 24);
void UnregisterJpegFormat();

// The smallest decode scale (1/8, 1/4, 1/2 or whole) at which a picture of
// width x height, shrunk to fit a box of boxWidth x boxHeight with its sides in
// proportion, still has a pixel for every pixel shown: a fitted preview decodes
// little more than it shows. A picture that fits the box is decoded whole.
TJPEGReduceBy ReductionToFill(int width, int height, int boxWidth, int boxHeight);

// A fixed halftone palette of 236 colours (a 6x6x6 cube and 20 grays).
HPALETTE CreateHalftonePalette();

// The bytes of one JPEG file, shared by every picture made from them.
struct TJPEGData {
    std::unique_ptr<TMemoryStream> JpegBytes;  // none until loaded or encoded
    int ImageHeight = 0;
    int ImageWidth = 0;
    bool IsGray = false;
    TOrientation Orientation = TOrientation::Normal;  // of the bytes; decoding turns them upright
};

class TJPEGImage : public TGraphic {
public:
    TJPEGImage();
    ~TJPEGImage() override;

    std::unique_ptr<TGraphic> NewInstance() const override;
    const char* ClassName() const override { return "TJPEGImage"; }

    void Assign(TGraphic& source) override;
    void AssignTo(TGraphic& destination) override;
    bool Equals(TGraphic& other) override;

    bool GetEmpty() const override;
    int GetWidth() const override;
    int GetHeight() const override;
    // Always refused: a JPEG picture keeps its size.
    void SetWidth(int width) override;
    void SetHeight(int height) override;
    HPALETTE GetPalette() const override;
    void SetPalette(HPALETTE palette) override;

    void LoadFromStream(TStream& stream) override;
    void SaveToStream(TStream& stream) override;
    // Persisted form: a 4-byte little-endian length, then the JPEG file.
    void ReadData(TStream& stream) override;
    void WriteData(TStream& stream) override;

    void Draw(TCanvas& canvas, const TRect& rect) override;

    // The decoded picture, decoded on first use and kept.
    TBitmap& ToBitmap();
    // Encodes the bitmap into bytes when there are none yet.
    void EnsureCompressed();

    // Writes source's picture as this picture would save it once given the
    // decoded source (its quality, gray and scan choices, its markers), decoding
    // and encoding a band of rows at a time: edit(band, top) may change each band
    // (a 24-bit bitmap as wide as the picture; top: its first row in it) before
    // it is encoded. The bytes are those of decoding source whole, editing the
    // bitmap alike, assigning it to this picture and saving; only a band is held
    // instead of the picture. False, with nothing written, when the picture must
    // be whole for that: it is to be turned upright, its rows are not plain
    // colour (gray, CMYK or a palette), its passes are shown, or it is decoded
    // already. The rows come through the row reader a whole decode uses, with
    // the same limits: a file is refused here exactly as ToBitmap refuses it.
    // A failure or a stop may leave the bytes written so far in out.
    using TBandEditor = std::function<void(TBitmap& band, int top)>;
    bool TranscodeInBands(TJPEGImage& source, TStream& out, const TBandEditor& edit);

    // What the picture holds now, without making anything.
    const TBitmap* GetDecodedBitmap() const { return decoded_.get(); }
    const std::shared_ptr<TJPEGData>& GetSharedData() const { return data_; }

    // The metadata segments that go with the upright pixels: those of the file
    // loaded (EXIF with its orientation set to 1), or those set for the next
    // encode, which writes them after libjpeg's own header.
    const TJPEGMarkers& GetMarkers() const { return markers_; }
    void SetMarkers(TJPEGMarkers markers) { markers_ = std::move(markers); }

    uint8_t GetSaveQuality() const { return options_.SaveQuality; }
    void SetSaveQuality(uint8_t value) { options_.SaveQuality = value; }
    bool GetGrayOnly() const { return options_.GrayOnly; }
    void SetGrayOnly(bool value) { options_.GrayOnly = value; }
    TJPEGDecodeSpeed GetDecodeSpeed() const { return options_.DecodeSpeed; }
    void SetDecodeSpeed(TJPEGDecodeSpeed value) { options_.DecodeSpeed = value; }
    TJPEGOutputDepth GetOutputDepth() const { return options_.OutputDepth; }
    void SetOutputDepth(TJPEGOutputDepth value) { options_.OutputDepth = value; }
    bool GetShowPasses() const { return options_.ShowPasses; }
    void SetShowPasses(bool value) { options_.ShowPasses = value; }
    bool GetMultiScan() const { return multiScan_; }
    void SetMultiScan(bool value) { multiScan_ = value; }
    TJPEGReduceBy GetReduceBy() const { return options_.ReduceBy; }
    void SetReduceBy(TJPEGReduceBy value);
    // Sets the scale of the next decode for a preview in a box of that size
    // (see ReductionToFill); an already decoded picture stays as it is.
    void ReduceToFill(int boxWidth, int boxHeight);
    bool GetBlockSmoothing() const { return options_.BlockSmoothing; }
    void SetBlockSmoothing(bool value) { options_.BlockSmoothing = value; }

private:
    struct DecodeState;

    void LoadJpegBytes(int64_t size, TStream& stream);
    void TakeMarkers(const jpeg_decompress_struct& d);
    void Decode(TJpegRowReader& reader, const std::shared_ptr<TJPEGData>& data, const std::shared_ptr<TBitmap>& target);
    // The stages of Decode: bitmap and colour map set up and decompression
    // started; the passes shown while a multi-scan file arrives; the final pass.
    void StartDecode(DecodeState& state);
    void ShowDecodePasses(DecodeState& state);
    void FinishDecode(DecodeState& state);
    void TakeColorMap(DecodeState& state);
    // Nothing to encode (no picture, or one of no rows or columns) is refused:
    // zero bytes are no JPEG file.
    void CheckEncodable() const;
    bool EncodeBitmap();
    // The encoder as this picture saves: its quality, gray and scan choices; then
    // the start of the file with the kept markers after libjpeg's own header.
    void SetUpEncoder(CodecContext& context);
    void StartEncoder(CodecContext& context) const;
    // The band loop of TranscodeInBands, on a reader already started.
    void EncodeBands(TJpegRowReader& reader, TStream& out, const TBandEditor& edit, std::exception_ptr& readFailure);
    // The closing report of a decode or encode: 100 when it ran to the end, else 0.
    void ReportEnd(bool done, bool redrawNow);
    void ComputeReducedSize() const;
    void ReplaceData();
    void ReplaceBitmap();
    void DropBitmap();

    std::shared_ptr<TJPEGData> data_;
    // Shared so that a decode keeps its bitmap alive when a progress handler
    // gives the picture another one.
    std::shared_ptr<TBitmap> decoded_;
    // What the size queries learn from the file's header, read when first asked.
    mutable int reducedWidth_ = 0;
    mutable int reducedHeight_ = 0;
    mutable bool sizeStale_ = false;
    // Reading the header for the reduced size also tells whether the file has
    // several scans; options_.MultiScan only seeds this.
    mutable bool multiScan_ = false;
    // The palette given, or the halftone one the palette query makes on first use.
    mutable HPALETTE pendingPalette_;
    TJPEGMarkers markers_;
    TJPEGOptions options_;
};

}  // namespace vmk
