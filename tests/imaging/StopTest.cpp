// A worker asked to stop leaves its picture within a band of rows, with EAbort,
// whether it is decoding, drawing or encoding; what it was writing gets nothing
// when the stop came first.

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/Stop.h"
#include "imaging/Jpeg.h"
#include "imaging/JpegTestFiles.h"

using namespace vmk;
using namespace vmk::testing;

namespace {

// Runs work on a thread of its own with a stop flag, as the batch run's workers do.
template <class Work>
std::string OnWorker(const std::atomic<bool>& flag, Work&& work) {
    std::string outcome;
    std::thread worker([&] {
        TThreadStopScope scope(&flag);
        try {
            work();
            outcome = "done";
        } catch (const EAbort&) {
            outcome = "aborted";
        } catch (const std::exception& e) {
            outcome = std::string("failed: ") + e.what();
        }
    });
    worker.join();
    return outcome;
}

std::unique_ptr<TJPEGImage> LoadedJpeg(const std::vector<uint8_t>& bytes) {
    auto jpeg = std::make_unique<TJPEGImage>();
    TMemoryStream stream;
    FillStream(stream, bytes);
    jpeg->LoadFromStream(stream);
    return jpeg;
}

void WriteBmpBytes(TMemoryStream& bytes, int width, int height) {
    TBitmap bitmap;
    MakePatternBitmap(bitmap, width, height);
    bitmap.SaveToStream(bytes);
    bytes.SetPosition(0);
}

// Counts the calls made to it once the flag is set, and sets it at a chosen call.
class CountingStream : public TMemoryStream {
public:
    CountingStream(std::atomic<bool>& flag, int setAt) : flag_(flag), setAt_(setAt) {}
    int64_t Read(void* buffer, int64_t count) override {
        Count();
        return TMemoryStream::Read(buffer, count);
    }
    int64_t Write(const void* buffer, int64_t count) override {
        Count();
        return TMemoryStream::Write(buffer, count);
    }
    void SetAt(int call) {
        setAt_ = call;
        calls_ = 0;
    }
    int callsAfterStop = 0;

private:
    void Count() {
        if (flag_.load()) ++callsAfterStop;
        if (++calls_ == setAt_) flag_ = true;
    }
    std::atomic<bool>& flag_;
    int setAt_;
    int calls_ = 0;
};

}  // namespace

TEST(Stop, WorkAskedToStopFirstWritesNothing) {
    std::atomic<bool> flag{true};
    const std::vector<uint8_t> jpegBytes = MakeJpeg({.width = 40, .height = 50});

    auto decoding = LoadedJpeg(jpegBytes);
    EXPECT_EQ(OnWorker(flag, [&] { decoding->ToBitmap(); }), "aborted");
    // No rows cut short are kept for the picture: without a stop it decodes whole.
    EXPECT_EQ(decoding->GetDecodedBitmap(), nullptr);
    EXPECT_EQ(decoding->ToBitmap().Height(), 50);

    TBitmap picture;
    MakePatternBitmap(picture, 40, 50);
    TJPEGImage encoding;
    encoding.Assign(picture);
    TMemoryStream jpegOut;
    EXPECT_EQ(OnWorker(flag, [&] { encoding.SaveToStream(jpegOut); }), "aborted");
    EXPECT_EQ(jpegOut.GetSize(), 0);

    auto source = LoadedJpeg(jpegBytes);
    TJPEGImage writer;
    TMemoryStream bandOut;
    bool edited = false;
    EXPECT_EQ(OnWorker(flag, [&] { writer.TranscodeInBands(*source, bandOut, [&](TBitmap&, int) { edited = true; }); }),
              "aborted");
    EXPECT_FALSE(edited);
    EXPECT_EQ(bandOut.GetSize(), 0);

    TMemoryStream bmpOut;
    EXPECT_EQ(OnWorker(flag, [&] { picture.SaveToStream(bmpOut); }), "aborted");
    EXPECT_EQ(bmpOut.GetSize(), 0);

    TMemoryStream bmpIn;
    WriteBmpBytes(bmpIn, 40, 50);
    TBitmap read;
    EXPECT_EQ(OnWorker(flag, [&] { read.LoadFromStream(bmpIn); }), "aborted");
    EXPECT_TRUE(read.GetEmpty());

    TBitmap cover;
    MakePatternBitmap(cover, 10, 10);
    TBitmap canvas;
    canvas.SetPixelFormat(TPixelFormat::pf24bit);
    canvas.SetSize(20, 20);
    canvas.GetCanvas().SetPixel(0, 0, RGBColor(1, 2, 3));
    EXPECT_EQ(OnWorker(flag, [&] { canvas.GetCanvas().Draw(0, 0, cover); }), "aborted");
    EXPECT_EQ(canvas.GetPixelColor(0, 0), RGBColor(1, 2, 3));

    // A thread without a flag, or with one not set, is not stopped.
    std::atomic<bool> clear{false};
    EXPECT_EQ(OnWorker(clear, [&] { LoadedJpeg(jpegBytes)->ToBitmap(); }), "done");
    EXPECT_NO_THROW(picture.SaveToStream(bmpOut));
}

// Set from the window's thread while the worker is inside the picture: the band
// path leaves at its next band, with no edit of it.
TEST(Stop, ABandTranscodeLeavesAtTheNextBand) {
    std::atomic<bool> flag{false};
    std::mutex mutex;
    std::condition_variable changed;
    bool inside = false;
    auto source = LoadedJpeg(MakeJpeg({.width = 64, .height = 128}));
    TJPEGImage writer;
    TMemoryStream out;
    std::vector<int> tops;
    std::string outcome;
    std::thread worker([&] {
        outcome = OnWorker(flag, [&] {
            writer.TranscodeInBands(*source, out, [&](TBitmap&, int top) {
                tops.push_back(top);
                if (top != 0) return;
                std::unique_lock lock(mutex);
                inside = true;
                changed.notify_all();
                changed.wait(lock, [&] { return flag.load(); });
            });
        });
    });
    {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return inside; });
        flag = true;
        changed.notify_all();
    }
    worker.join();
    EXPECT_EQ(outcome, "aborted");
    EXPECT_EQ(tops, std::vector<int>{0});
}

// Stopped in the middle of a picture: the whole decode and the encode leave
// with EAbort (the encode leaves no bytes to save), and the BMP reader and writer
// within a band of rows.
TEST(Stop, WholePicturesLeaveWithinABand) {
    std::atomic<bool> flag{false};
    int ticks = 0;
    // The progress clock is read at every codec step of a picture with a
    // listener: it sets the flag at the third.
    struct Restore {
        ~Restore() { SetCodecTickSource(nullptr); }
    } restore;
    static std::atomic<bool>* stopAtThird = nullptr;
    static int* counter = nullptr;
    stopAtThird = &flag;
    counter = &ticks;
    SetCodecTickSource([] {
        if (++*counter == 3) *stopAtThird = true;
        return uint64_t{1};
    });

    auto decoding = LoadedJpeg(MakeJpeg({.width = 64, .height = 256}));
    EXPECT_EQ(OnWorker(flag, [&] { decoding->ToBitmap(); }), "aborted");
    EXPECT_EQ(decoding->GetDecodedBitmap(), nullptr);

    flag = false;
    ticks = 0;
    TBitmap picture;
    MakePatternBitmap(picture, 64, 256);
    TJPEGImage encoding;
    encoding.Assign(picture);
    TMemoryStream jpegOut;
    EXPECT_EQ(OnWorker(flag, [&] { encoding.SaveToStream(jpegOut); }), "aborted");
    EXPECT_EQ(jpegOut.GetSize(), 0);

    // The BMP reader reads a row a call; the writer writes one.
    flag = false;
    TMemoryStream bmp;
    WriteBmpBytes(bmp, 8, 200);
    CountingStream in(flag, 0);
    in.WriteBuffer(bmp.Memory(), bmp.GetSize());
    in.SetPosition(0);
    in.SetAt(40);
    TBitmap read;
    EXPECT_EQ(OnWorker(flag, [&] { read.LoadFromStream(in); }), "aborted");
    EXPECT_GE(in.callsAfterStop, 1);
    EXPECT_LE(in.callsAfterStop, 16);

    flag = false;
    CountingStream out(flag, 1);
    EXPECT_EQ(OnWorker(flag, [&] { picture.SaveToStream(out); }), "aborted");
    EXPECT_GE(out.callsAfterStop, 1);
    EXPECT_LE(out.callsAfterStop, 16);
}
