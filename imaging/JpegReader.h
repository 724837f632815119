#pragma once

// The one way a JPEG file's pixels are read: rows in order, as our bitmaps hold
// them. Decoding a whole picture and re-encoding one a band at a time both read
// through TJpegRowReader, which owns the codec and every limit a file meets
// (its size, the memory the codec would keep, its number of scans) and looks at
// the thread's stop flag between row batches. The limits hold whether or not
// anyone listens to progress, so both paths get the same rows from the same
// bytes and fail on the same files with the same messages.

#include <cstdint>
#include <functional>

#include "imaging/Graphics.h"
#include "imaging/JpegCodec.h"

namespace vmk {

enum class TJPEGOutputDepth : uint8_t { Depth24 = 0, Depth8 = 1 };
enum class TJPEGDecodeSpeed : uint8_t { FavourQuality = 0, FavourSpeed = 1 };
enum class TJPEGReduceBy : uint8_t { ReduceNone = 0, ReduceHalf = 1, ReduceQuarter = 2, ReduceEighth = 3 };

struct TJPEGOptions {
    uint8_t SaveQuality = 90;  // 1..100; the codec takes 0 as 1 and above 100 as 100
    bool GrayOnly = false;
    TJPEGDecodeSpeed DecodeSpeed = TJPEGDecodeSpeed::FavourQuality;
    TJPEGOutputDepth OutputDepth = TJPEGOutputDepth::Depth24;
    bool ShowPasses = false;
    bool MultiScan = false;
    TJPEGReduceBy ReduceBy = TJPEGReduceBy::ReduceNone;
    bool BlockSmoothing = true;
};

// In order: Open, then Start, the passes shown if any, ReadRows to the end of
// the (final) pass, Finish. A codec failure or a limit is thrown as EJPEG (or
// EOutOfMemory), a stop as EAbort.
class TJpegRowReader {
public:
    // Rows handed to libjpeg per call at most; it returns at most its own row group anyway.
    static constexpr int kRowBatch = 16;

    // bytes: the whole file, read from its start. progressOwner receives the
    // running progress reports; null for none (the limits hold all the same).
    TJpegRowReader(TMemoryStream& bytes, const TJPEGOptions& options, TGraphic* progressOwner = nullptr);
    TJpegRowReader(const TJpegRowReader&) = delete;
    TJpegRowReader& operator=(const TJpegRowReader&) = delete;

    // Reads the header and applies the options (scale, colours, speed, passes
    // shown), refusing a picture whose rows or codec memory we would not hold.
    void Open();
    // True when the rows come in one pass as a 24-bit bitmap holds them (blue,
    // green, red), so a band of them can be edited and encoded as it comes.
    bool PlainColourRows() const;
    // The colours to map to instead of the codec's own choice; only for 8-bit
    // colour output, between Open and Start.
    void UseColorMap(const TLogPalette& palette);
    // Starts the decompression; a multi-scan file is read in here, one scan at
    // a time, and refused once it has too many.
    void Start();

    // With passes shown: starts the output of the next scan once it is in; false
    // when the input is complete (or enough passes were shown), and the final
    // pass is then to be started with StartFinalPass.
    bool StartShownPass();
    void FinishShownPass();
    // The final pass with the options asked; keepColorMap: a given palette stays
    // the colour map of the final pass too.
    void StartFinalPass(bool keepColorMap);

    // Reads the pass's next rows, at most maxRows (and kRowBatch), into target's
    // rows from Row() - top on; what it read. Four-component rows are turned into
    // colour (or gray, for GrayOnly) as they come.
    int ReadRows(TBitmap& target, int top, int maxRows = kRowBatch);
    // Ends the decompression: what a file missing rows fails with, it fails with here.
    void Finish();

    int Width() const { return static_cast<int>(d().output_width); }
    int Height() const { return static_cast<int>(d().output_height); }
    // The next row a pass gives.
    int Row() const { return static_cast<int>(d().output_scanline); }
    bool PassDone() const { return d().output_scanline >= d().output_height; }
    bool FourComponents() const { return fourComponents_; }
    bool ShowsPasses() const { return d().buffered_image != FALSE; }
    int CompletedPasses() const { return context_.ProgressRecord().pub.completed_passes; }

    CodecContext& Context() { return context_; }
    jpeg_decompress_struct& D() { return context_.D(); }

    // Runs after every running progress report, inside the codec call, before
    // the rows being read are pointed afresh (the handler may have copied the
    // bitmap they belong to). What it throws ends the read.
    std::function<void()> AfterProgress;

private:
    const jpeg_decompress_struct& d() const { return context_.D(); }
    void PointRows();
    // One step of jpeg_consume_input, the limits checked first.
    int ConsumeInput();

    CodecContext context_;
    TMemoryStream& bytes_;
    const TJPEGOptions options_;
    bool fourComponents_ = false;
    bool invertedInks_ = false;
    JSAMPARRAY inkRow_ = nullptr;
    int shownPasses_ = 0;
    // The batch being read: where its rows go.
    TBitmap* target_ = nullptr;
    int targetRow_ = 0;
    int batchCount_ = 0;
    JSAMPROW rows_[kRowBatch] = {};
};

}  // namespace vmk
