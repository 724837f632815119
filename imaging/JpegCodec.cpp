#include "imaging/JpegCodec.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>

#include <jerror.h>

#include "core/Stop.h"

namespace vmk {

namespace {

constexpr size_t kStreamBufferSize = 4096;
constexpr const char* kTooManyScans = "JPEG image has too many scans";

uint64_t SteadyTicks() {
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    // +1 keeps 0 free to mean "no report yet" even right after boot.
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count()) + 1;
}

CodecTickSource tickSource = &SteadyTicks;

thread_local uint64_t cutShort = 0;

}  // namespace

uint64_t JpegCutShortCount() { return cutShort; }

namespace {

CodecContext& ContextOf(j_common_ptr codec) { return *reinterpret_cast<CodecErrorManager*>(codec->err)->context; }

// --- error manager -------------------------------------------------------

void CodecErrorExit(j_common_ptr codec) {
    auto* errors = reinterpret_cast<CodecErrorManager*>(codec->err);
    std::longjmp(errors->jump, 1);
}

// Warnings and traces are not shown: a damaged file decodes as far as it goes.
// A source that ends early is counted, so that a run can name it.
void CodecEmitMessage(j_common_ptr codec, int level) {
    if (level < 0 && (codec->err->msg_code == JWRN_JPEG_EOF || codec->err->msg_code == JWRN_HIT_MARKER)) ++cutShort;
}
void CodecOutputMessage(j_common_ptr) {}
void CodecFormatMessage(j_common_ptr, char* buffer) { buffer[0] = '\0'; }
void CodecResetErrors(j_common_ptr codec) {
    codec->err->num_warnings = 0;
    codec->err->msg_code = 0;
}

// --- progress ------------------------------------------------------------

// Runs our code for a libjpeg callback. What it throws is parked in the context
// and false comes back; the caller, whose frame holds nothing with a destructor,
// then leaves libjpeg with it.
template <class Work>
bool ParkFailure(CodecContext& context, Work&& work) noexcept {
    try {
        work();
        return true;
    } catch (...) {
        context.Park(std::current_exception());
        return false;
    }
}

bool DeliverProgress(TGraphic& owner, uint8_t percent, bool redrawNow, const TRect& rect,
                     CodecContext& context) noexcept {
    return ParkFailure(context, [&] {
        if (owner.OnProgress)
            owner.OnProgress(owner, TProgressStage::psRunning, percent, redrawNow, rect, std::string());
        if (context.AfterProgress) context.AfterProgress();
    });
}

// --- source ----------------------------------------------------------------

struct StreamSource {
    jpeg_source_mgr pub;  // must stay first
    TStream* stream;
    JOCTET* buffer;
    boolean startOfFile;
};

bool ReadStream(TStream& stream, JOCTET* buffer, int64_t& count, CodecContext& context) noexcept {
    return ParkFailure(context, [&] { count = stream.Read(buffer, static_cast<int64_t>(kStreamBufferSize)); });
}

void SourceInit(j_decompress_ptr codec) { reinterpret_cast<StreamSource*>(codec->src)->startOfFile = TRUE; }

boolean SourceFill(j_decompress_ptr codec) {
    auto* source = reinterpret_cast<StreamSource*>(codec->src);
    int64_t count = 0;
    CodecContext& context = ContextOf(reinterpret_cast<j_common_ptr>(codec));
    if (!ReadStream(*source->stream, source->buffer, count, context)) context.LeaveCodec();
    if (count <= 0) {
        if (source->startOfFile) ERREXIT(codec, JERR_INPUT_EMPTY);
        WARNMS(codec, JWRN_JPEG_EOF);
        // An end-of-image marker in place of the missing data.
        source->buffer[0] = 0xFF;
        source->buffer[1] = JPEG_EOI;
        count = 2;
    }
    source->pub.next_input_byte = source->buffer;
    source->pub.bytes_in_buffer = static_cast<size_t>(count);
    source->startOfFile = FALSE;
    return TRUE;
}

void SourceSkip(j_decompress_ptr codec, long count) {
    if (count <= 0) return;
    auto* source = reinterpret_cast<StreamSource*>(codec->src);
    auto remaining = static_cast<size_t>(count);
    while (remaining > source->pub.bytes_in_buffer) {
        remaining -= source->pub.bytes_in_buffer;
        SourceFill(codec);
    }
    source->pub.next_input_byte += remaining;
    source->pub.bytes_in_buffer -= remaining;
}

void SourceTerm(j_decompress_ptr) {}

// --- destination -------------------------------------------------------------

struct StreamDestination {
    jpeg_destination_mgr pub;  // must stay first
    TStream* stream;
    JOCTET* buffer;
};

bool WriteStream(TStream& stream, const JOCTET* buffer, size_t count, int64_t& written,
                 CodecContext& context) noexcept {
    return ParkFailure(context, [&] { written = stream.Write(buffer, static_cast<int64_t>(count)); });
}

void DestinationInit(j_compress_ptr codec) {
    auto* destination = reinterpret_cast<StreamDestination*>(codec->dest);
    destination->buffer = static_cast<JOCTET*>(
        (*codec->mem->alloc_small)(reinterpret_cast<j_common_ptr>(codec), JPOOL_IMAGE, kStreamBufferSize));
    destination->pub.next_output_byte = destination->buffer;
    destination->pub.free_in_buffer = kStreamBufferSize;
}

void FlushDestination(j_compress_ptr codec, size_t count) {
    auto* destination = reinterpret_cast<StreamDestination*>(codec->dest);
    int64_t written = 0;
    CodecContext& context = ContextOf(reinterpret_cast<j_common_ptr>(codec));
    if (!WriteStream(*destination->stream, destination->buffer, count, written, context)) context.LeaveCodec();
    if (written != static_cast<int64_t>(count)) ERREXIT(codec, JERR_FILE_WRITE);
}

boolean DestinationEmpty(j_compress_ptr codec) {
    auto* destination = reinterpret_cast<StreamDestination*>(codec->dest);
    FlushDestination(codec, kStreamBufferSize);
    destination->pub.next_output_byte = destination->buffer;
    destination->pub.free_in_buffer = kStreamBufferSize;
    return TRUE;
}

void DestinationTerm(j_compress_ptr codec) {
    auto* destination = reinterpret_cast<StreamDestination*>(codec->dest);
    const size_t count = kStreamBufferSize - destination->pub.free_in_buffer;
    if (count > 0) FlushDestination(codec, count);
}

}  // namespace

void SetCodecTickSource(CodecTickSource source) { tickSource = source ? source : &SteadyTicks; }
uint64_t CodecTickCount() { return tickSource(); }

void ReportCodecProgress(j_common_ptr codec) {
    auto* progress = reinterpret_cast<CodecProgress*>(codec->progress);
    if (progress == nullptr) return;
    // The limits first: they hold whether or not anyone listens.
    if (codec->is_decompressor && reinterpret_cast<j_decompress_ptr>(codec)->input_scan_number > kMaxScans) {
        CodecContext& context = ContextOf(codec);
        context.Park(std::make_exception_ptr(EJPEG(kTooManyScans)));
        context.LeaveCodec();
    }
    // Reading a multi-scan file in, or writing one out, may take long inside a
    // single codec call: a stop is answered from here too.
    if (StopRequested()) {
        CodecContext& context = ContextOf(codec);
        context.Park(std::make_exception_ptr(EAbort("Operation aborted")));
        context.LeaveCodec();
    }
    if (progress->owner == nullptr) return;
    const uint64_t now = CodecTickCount();
    if (now - progress->lastTime < 500) return;
    const uint64_t previous = progress->lastTime;
    progress->lastTime = now;
    if (previous == 0) return;  // the first call only starts the clock

    TRect rect;
    j_decompress_ptr decoder = nullptr;
    if (codec->is_decompressor) {
        decoder = reinterpret_cast<j_decompress_ptr>(codec);
        rect.Top = static_cast<int>(progress->lastRow);
        rect.Right = static_cast<int>(decoder->output_width);
        rect.Bottom = static_cast<int>(decoder->output_scanline);
        if (rect.Bottom < rect.Top) rect.Bottom = static_cast<int>(decoder->output_height);
    }
    const jpeg_progress_mgr& pub = progress->pub;
    double done = pub.completed_passes;
    if (pub.pass_limit > 0) done += static_cast<double>(pub.pass_counter) / static_cast<double>(pub.pass_limit);
    double fraction = pub.total_passes > 0 ? done / pub.total_passes : 0.0;
    if (fraction < 0.0) fraction = 0.0;
    if (fraction > 1.0) fraction = 1.0;
    const int percent = static_cast<int>(100.0 * fraction);
    if (percent == progress->lastPercent) return;
    progress->lastPercent = percent;
    if (decoder != nullptr) progress->lastRow = decoder->output_scanline;

    CodecContext& context = ContextOf(codec);
    if (!DeliverProgress(*progress->owner, static_cast<uint8_t>(percent), rect.Bottom - rect.Top >= 4, rect, context))
        context.LeaveCodec();
}

namespace {

[[noreturn]] void RefuseSize(int64_t width, int64_t height) {
    throw EJPEG("JPEG image too large to load: " + std::to_string(width) + " x " + std::to_string(height) + " pixels");
}

}  // namespace

void CheckScanCount(const jpeg_decompress_struct& d) {
    if (d.input_scan_number > kMaxScans) throw EJPEG(kTooManyScans);
}

void CheckJpegSize(int64_t width, int64_t height, int bytesPerPixel, int64_t codecBytes) {
    if (width <= 0 || height <= 0 || width > JPEG_MAX_DIMENSION || height > JPEG_MAX_DIMENSION ||
        width * height > kMaxPixels)
        RefuseSize(width, height);
    // Both terms are below 2^40 here: no overflow.
    if (width * height * bytesPerPixel + codecBytes > kMaxPictureBytes) RefuseSize(width, height);
}

int64_t CodecWholeImageBytes(jpeg_decompress_struct& d, bool twoPassOutput) {
    int64_t total = 0;
    if (d.buffered_image || jpeg_has_multiple_scans(&d)) {
        // As libjpeg sizes them: blocks rounded up to whole sampling groups.
        const int components = std::clamp(d.num_components, 0, MAX_COMPONENTS);
        for (int i = 0; i < components && d.comp_info != nullptr; ++i) {
            const jpeg_component_info& c = d.comp_info[i];
            const int64_t h = std::max(c.h_samp_factor, 1), v = std::max(c.v_samp_factor, 1);
            const int64_t across = (static_cast<int64_t>(c.width_in_blocks) + h - 1) / h * h;
            const int64_t down = (static_cast<int64_t>(c.height_in_blocks) + v - 1) / v * v;
            total += across * down * static_cast<int64_t>(sizeof(JBLOCK));
        }
    }
    if (twoPassOutput)
        total += static_cast<int64_t>(d.output_width) * d.output_height * std::max(d.out_color_components, 1);
    return total;
}

std::string JpegErrorText(int code, const jpeg_error_mgr* failure) {
    std::string text = "JPEG error #" + std::to_string(code);
    // The library's own error manager formats the sentence: ours says nothing.
    jpeg_error_mgr standard{};
    jpeg_std_error(&standard);
    if (code <= 0 || code > standard.last_jpeg_message) return text;
    standard.msg_code = code;
    if (failure != nullptr) std::memcpy(&standard.msg_parm, &failure->msg_parm, sizeof standard.msg_parm);
    jpeg_common_struct common{};
    common.err = &standard;
    char sentence[JMSG_LENGTH_MAX] = "";
    standard.format_message(&common, sentence);
    sentence[JMSG_LENGTH_MAX - 1] = '\0';
    if (sentence[0] != '\0') text += std::string(": ") + sentence;
    return text;
}

CodecContext::CodecContext(TGraphic* progressOwner) {
    errors_.pub.error_exit = &CodecErrorExit;
    errors_.pub.emit_message = &CodecEmitMessage;
    errors_.pub.output_message = &CodecOutputMessage;
    errors_.pub.format_message = &CodecFormatMessage;
    errors_.pub.reset_error_mgr = &CodecResetErrors;
    errors_.context = this;
    progress_.pub.progress_monitor = &ReportCodecProgress;
    progress_.owner = progressOwner;
    // As though 0 had been reported: the start report already said so.
    progress_.lastPercent = 0;
}

CodecContext::~CodecContext() { Close(); }

void CodecContext::CreateDecompress() {
    isDecompress_ = true;
    d_.err = &errors_.pub;
    created_ = true;  // jpeg_destroy copes with a half-made object
    Run([this] { jpeg_CreateDecompress(&d_, JPEG_LIB_VERSION, sizeof(d_)); });
    d_.client_data = this;
    // Our own ceiling, whatever JPEGMEM says. Pictures are checked against it
    // before decoding; should libjpeg still reach it, it asks for the backing
    // store it does not have, and that reads as "too large" (see Fail).
    d_.mem->max_memory_to_use = static_cast<long>(kMaxPictureBytes);
    // Always on: the monitor also keeps the limits and answers a stop.
    d_.progress = &progress_.pub;
}

void CodecContext::CreateCompress() {
    isDecompress_ = false;
    c_.err = &errors_.pub;
    created_ = true;
    Run([this] { jpeg_CreateCompress(&c_, JPEG_LIB_VERSION, sizeof(c_)); });
    c_.client_data = this;
    c_.mem->max_memory_to_use = static_cast<long>(kMaxPictureBytes);
    c_.progress = &progress_.pub;
}

void CodecContext::Close() noexcept {
    if (!created_) return;
    created_ = false;
    if (isDecompress_)
        jpeg_destroy(reinterpret_cast<j_common_ptr>(&d_));
    else
        jpeg_destroy(reinterpret_cast<j_common_ptr>(&c_));
}

void CodecContext::Park(std::exception_ptr pending) noexcept { pending_ = std::move(pending); }

void CodecContext::LeaveCodec() noexcept { std::longjmp(errors_.jump, 1); }

void CodecContext::Fail() {
    if (pending_) {
        std::exception_ptr pending = std::move(pending_);
        pending_ = nullptr;
        std::rethrow_exception(pending);
    }
    const int code = errors_.pub.msg_code;
    if (code == JERR_OUT_OF_MEMORY) throw EOutOfMemory("Out of memory");
    if (code == JERR_NO_BACKING_STORE) {
        if (isDecompress_) RefuseSize(d_.image_width, d_.image_height);
        RefuseSize(c_.image_width, c_.image_height);
    }
    throw EJPEG(JpegErrorText(code, &errors_.pub));
}

void CodecContext::InstallSource(TStream& stream) {
    if (d_.src == nullptr) {
        auto* source = static_cast<StreamSource*>(
            (*d_.mem->alloc_small)(reinterpret_cast<j_common_ptr>(&d_), JPOOL_PERMANENT, sizeof(StreamSource)));
        source->buffer = static_cast<JOCTET*>(
            (*d_.mem->alloc_small)(reinterpret_cast<j_common_ptr>(&d_), JPOOL_PERMANENT, kStreamBufferSize));
        d_.src = &source->pub;
    }
    auto* source = reinterpret_cast<StreamSource*>(d_.src);
    source->pub.init_source = &SourceInit;
    source->pub.fill_input_buffer = &SourceFill;
    source->pub.skip_input_data = &SourceSkip;
    source->pub.resync_to_restart = &jpeg_resync_to_restart;
    source->pub.term_source = &SourceTerm;
    source->stream = &stream;
    source->pub.bytes_in_buffer = 0;
    source->pub.next_input_byte = nullptr;
}

void CodecContext::InstallDestination(TStream& stream) {
    if (c_.dest == nullptr) {
        auto* destination = static_cast<StreamDestination*>(
            (*c_.mem->alloc_small)(reinterpret_cast<j_common_ptr>(&c_), JPOOL_PERMANENT, sizeof(StreamDestination)));
        destination->buffer = nullptr;
        c_.dest = &destination->pub;
    }
    auto* destination = reinterpret_cast<StreamDestination*>(c_.dest);
    destination->pub.init_destination = &DestinationInit;
    destination->pub.empty_output_buffer = &DestinationEmpty;
    destination->pub.term_destination = &DestinationTerm;
    destination->stream = &stream;
}

void ConvertCmykRow(const JSAMPLE* source, uint8_t* target, JDIMENSION width, bool inverted, bool toGray) noexcept {
    for (JDIMENSION x = 0; x < width; ++x, source += 4) {
        unsigned c = source[0], m = source[1], y = source[2], k = source[3];
        if (!inverted) {
            c = 255 - c;
            m = 255 - m;
            y = 255 - y;
            k = 255 - k;
        }
        // Now 255 means "no ink".
        const auto r = static_cast<uint8_t>((c * k + 127) / 255);
        const auto g = static_cast<uint8_t>((m * k + 127) / 255);
        const auto b = static_cast<uint8_t>((y * k + 127) / 255);
        if (toGray) {
            *target++ = static_cast<uint8_t>((r * 77u + g * 150u + b * 29u + 128u) >> 8);
        } else {
            *target++ = b;
            *target++ = g;
            *target++ = r;
        }
    }
}

}  // namespace vmk
