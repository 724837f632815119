#pragma once

// Glue between libjpeg and our pictures and streams: one context per codec
// operation, an error manager that turns codec errors into EJPEG, a progress
// monitor, and a source and destination over TStream.
//
// libjpeg is C: nothing may unwind through its frames. Every libjpeg call runs
// inside CodecContext::Run, whose setjmp frame holds no object with a
// destructor; the error exit longjmps back there, and an exception raised by one
// of our callbacks (a stream, a progress handler) is parked in the context and
// rethrown once we are back in our own frame.

#include <csetjmp>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <functional>
#include <string>

#include <jpeglib.h>

#include "imaging/Graphics.h"

namespace vmk {

// Every codec failure: "JPEG error #N: <sentence>" with the linked libjpeg's
// message code and its own sentence for it.
class EJPEG : public EInvalidGraphic {
public:
    using EInvalidGraphic::EInvalidGraphic;
};

// The text of a codec failure: the code, then libjpeg's sentence for it from
// its message table, filled in with the failure's parameters when given
// (e.g. "JPEG error #53: Not a JPEG file: starts with 0x89 0x50").
std::string JpegErrorText(int code, const jpeg_error_mgr* failure = nullptr);

class CodecContext;

// Millisecond tick count the progress monitor works with (a steady clock).
// Tests may replace it; null restores the steady clock.
using CodecTickSource = uint64_t (*)();
void SetCodecTickSource(CodecTickSource source);
uint64_t CodecTickCount();

// How many times this thread's decoders found their data ended early (libjpeg's
// "premature end" warnings): the picture is still decoded as far as it goes,
// and a caller that wants to say so compares the count before and after.
uint64_t JpegCutShortCount();

struct CodecErrorManager {
    jpeg_error_mgr pub;  // must stay first: libjpeg sees only this part
    std::jmp_buf jump;
    CodecContext* context;
};

struct CodecProgress {
    jpeg_progress_mgr pub;  // must stay first
    TGraphic* owner;
    int lastPercent;
    uint64_t lastTime;  // 0 = no report yet
    JDIMENSION lastRow;
};

// The most scans a file may have. Real files have a dozen or so, while a few
// hundred bytes can declare thousands, each a pass over the whole picture.
constexpr int kMaxScans = 1000;

// Refuses a file read past kMaxScans scans.
void CheckScanCount(const jpeg_decompress_struct& d);

// The monitor libjpeg calls, installed on every codec: refuses a file of too many
// scans, leaves with EAbort when the thread is asked to stop, and forwards to the
// owner's OnProgress (when there is one) at most every 500 ms and only when the
// whole percent changes.
void ReportCodecProgress(j_common_ptr codec);

// The most memory one picture may cost: its decoded raster plus what libjpeg
// keeps of the whole image. A baseline picture of kMaxPixels fits; a progressive
// one of that size, whose coefficients alone take more, does not. It is also the
// codec's own memory ceiling.
constexpr int64_t kMaxPictureBytes = int64_t{1} << 30;

// Refuses a picture whose size we would not hold, before anything is allocated:
// its pixels against kMaxPixels, and its raster (bytesPerPixel a pixel) plus
// codecBytes against kMaxPictureBytes.
void CheckJpegSize(int64_t width, int64_t height, int bytesPerPixel = 3, int64_t codecBytes = 0);

// What libjpeg allocates for the whole image once the header is read: the
// coefficients of every component when the file has several scans (progressive
// files, or passes shown) and, with two-pass colour reduction, a second copy of
// the output. Rows and tables are small and left out.
int64_t CodecWholeImageBytes(jpeg_decompress_struct& d, bool twoPassOutput);

class CodecContext {
public:
    // owner receives running progress reports; null for none. The progress
    // monitor is installed either way: it keeps the scan limit and the stop flag.
    explicit CodecContext(TGraphic* progressOwner = nullptr);
    ~CodecContext();
    CodecContext(const CodecContext&) = delete;
    CodecContext& operator=(const CodecContext&) = delete;

    void CreateDecompress();
    void CreateCompress();
    // Destroys the codec object; harmless when called twice.
    void Close() noexcept;

    // Runs a sequence of libjpeg calls. step must hold only trivially
    // destructible locals and must not throw; a codec error or a parked
    // callback exception is thrown from here, in our own frame.
    template <class Step>
    void Run(Step&& step) {
        if (!Guard(errors_, step)) Fail();
    }

    // Installs the stream source (decompression) or destination (compression);
    // call inside Run.
    void InstallSource(TStream& stream);
    void InstallDestination(TStream& stream);

    jpeg_decompress_struct& D() { return d_; }
    const jpeg_decompress_struct& D() const { return d_; }
    jpeg_compress_struct& C() { return c_; }
    CodecProgress& ProgressRecord() { return progress_; }
    const CodecProgress& ProgressRecord() const { return progress_; }

    // Final-pass settings kept by the decoder while passes are shown.
    J_DCT_METHOD finalDctMethod = JDCT_ISLOW;
    boolean finalTwoPassQuantize = FALSE;
    J_DITHER_MODE finalDitherMode = JDITHER_FS;

    // Runs after every running progress report, inside the codec call: the
    // handler may have copied, resized or replaced what the codec works on.
    // What it throws ends the operation like the handler's own exception.
    std::function<void()> AfterProgress;

    // For callbacks: Park keeps what our code threw; LeaveCodec then jumps back
    // to Run from a frame that holds nothing with a destructor.
    void Park(std::exception_ptr pending) noexcept;
    [[noreturn]] void LeaveCodec() noexcept;

private:
    template <class Step>
    static bool Guard(CodecErrorManager& errors, Step& step) {
        if (setjmp(errors.jump) != 0) return false;
        step();
        return true;
    }
    [[noreturn]] void Fail();

    CodecErrorManager errors_{};
    CodecProgress progress_{};
    jpeg_decompress_struct d_{};
    jpeg_compress_struct c_{};
    bool isDecompress_ = false;
    bool created_ = false;
    std::exception_ptr pending_;
};

// One decoded CMYK or YCCK-as-CMYK row (4 bytes a pixel) into blue, green, red
// bytes, or into one gray byte a pixel. Adobe files store the inks inverted.
void ConvertCmykRow(const JSAMPLE* source, uint8_t* target, JDIMENSION width, bool inverted, bool toGray) noexcept;

}  // namespace vmk
