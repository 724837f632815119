#pragma once

// The batch run's workers. Pictures are loaded, stamped and compressed on
// worker threads; everything the user can see - folders made, files written,
// messages - happens in list order on the thread that calls Commit, exactly as
// a run of one thread does it. No widgets here: the run's handler drives it
// through the event loop, the benchmark and the tests drive it directly.

#include <condition_variable>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "compose/Compose.h"
#include "compose/CoverStamp.h"

namespace vmk {

// One entry of the list, with everything the output rules make of it.
struct TBatchEntry {
    std::string Source;
    bool Accepted = false;  // passes the extension test
    std::string Folder;     // output folder, made when the entry is committed
    std::string Target;     // output path
    TWriteFormat Format = TWriteFormat::Bmp;
    // The last earlier entry whose result lands on this source, or -1: this
    // source is read only after that result is written.
    int ReadAfter = -1;
};

// The entries for the sources, in list order.
std::vector<TBatchEntry> PlanBatch(const std::vector<std::string>& sources, const TOutputSettings& output,
                                   const std::string& appFolder);

// The number of workers for a batch: the machine's cores when asked for 0, never
// more than the pictures, at least one.
int BatchWorkerCount(int asked, int pictures);

class TBatchRun {
public:
    // Starts the workers. The cover is prepared already; the workers share it,
    // and each scaled copy of it, through one cache. wake runs on a worker each time an
    // entry becomes ready to commit (it must be safe to call from any thread).
    TBatchRun(std::vector<TBatchEntry> entries, TBitmap& cover, const TCoverSettings& coverSettings, int quality,
              int workers, std::function<void()> wake = {});
    // Stops and joins the workers; pictures in hand are dropped.
    ~TBatchRun();
    TBatchRun(const TBatchRun&) = delete;
    TBatchRun& operator=(const TBatchRun&) = delete;

    int Count() const { return static_cast<int>(entries_.size()); }
    int Workers() const { return static_cast<int>(threads_.size()); }
    const TBatchEntry& Entry(int index) const { return entries_.at(static_cast<size_t>(index)); }

    // True when entry index can be committed without waiting. Any thread.
    bool IsReady(int index) const;
    // Waits, without handling events, until entry index is ready.
    void WaitReady(int index);
    // Entries must be committed in list order, each once it is ready. A refused
    // entry only moves the run on. Otherwise the output folder is made, then the
    // entry's failure is thrown, or its result is written (whole or not at all).
    void Commit(int index);
    // Takes no more pictures and drops those in hand; joins the workers.
    void Stop();

private:
    struct Slot;
    void Work();
    // Whether a worker may start on entry index now (the lock held).
    bool MayTake(int index) const;

    std::vector<TBatchEntry> entries_;
    TCoverSettings coverSettings_;
    int quality_;
    std::function<void()> wake_;

    mutable std::mutex lock_;
    std::condition_variable changed_;
    std::vector<std::unique_ptr<Slot>> slots_;
    int next_ = 0;       // the next entry a worker takes
    int committed_ = 0;  // entries committed so far, all in order
    int failedAt_ = -1;  // the first entry known to have failed
    bool stopping_ = false;
    int window_ = 1;  // how far ahead of the commits the workers may go
    std::unique_ptr<TCoverCache> cover_;
    std::vector<std::thread> threads_;
};

}  // namespace vmk
