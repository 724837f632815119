#pragma once

// The batch run's workers and writer. Pictures are loaded, stamped and
// compressed on worker threads; the thread that calls Commit decides, in list
// order, what is written and which messages come, exactly as a run of one
// thread does it; a writer thread writes the files in that order, so that
// neither writing nor flushing holds up the window. No widgets here: the run's handler drives it
// through the event loop, the benchmark and the tests drive it directly.

#include <atomic>
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
#include "compose/RunRules.h"

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
    // Its result exists already and is to be left as it is (TExisting::Skip).
    bool Skipped = false;
};

// The entries for the sources, in list order.
// With TExisting::Skip, an entry whose result exists (any entry of that name,
// a link too) is marked Skipped and costs no work.
std::vector<TBatchEntry> PlanBatch(const std::vector<std::string>& sources, const TOutputSettings& output,
                                   const std::string& appFolder, TExisting existing = TExisting::Overwrite);
// Keeping subfolders: roots holds, for each source, the folder it was added
// from ("" for one added on its own). With an output folder set, a result goes
// into the source's subfolder below its root, under the output folder.
std::vector<TBatchEntry> PlanBatch(const std::vector<std::string>& sources, const std::vector<std::string>& roots,
                                   const TOutputSettings& output, const std::string& appFolder,
                                   TExisting existing = TExisting::Overwrite);

// The number of workers for a batch: the machine's cores when asked for 0, never
// more than the pictures, at least one.
int BatchWorkerCount(int asked, int pictures);

// Sets the allocator up for batches, once at a program's start: a batch frees
// and takes again buffers of the same sizes for every picture. With glibc's
// starting limits each block above 128 KiB went back to the system when freed
// and came back zeroed and faulted in for the next picture; these are the
// limits it reaches by itself after a long-lived program's first large free.
void KeepBatchBuffers();

class TBatchRun {
public:
    // Starts the workers and the writer. The cover is prepared already; the
    // workers share it, and each scaled copy of it, through one cache. wake runs on a
    // worker or the writer each time an entry becomes ready to commit or a write
    // ends (it must be safe to call from any thread). The rules say what a
    // taken name and a failure do (see Commit).
    TBatchRun(std::vector<TBatchEntry> entries, TBitmap& cover, const TCoverSettings& coverSettings, int quality,
              int workers, std::function<void()> wake = {}, TRunRules rules = {});
    // Stops, drops what is not written and joins every thread.
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
    // True when entry index speaks or ends the run once committed (a refused
    // name, a source that failed): every earlier result must be on disk first,
    // so wait for WritesDone() before committing it.
    bool NeedsWritesFirst(int index) const;
    // Entries must be committed in list order, each once it is ready. A refused
    // entry only moves the run on. A failed one makes its output folder and
    // throws its failure. Otherwise the result goes to the writer, which makes
    // the folder and writes the file (whole or not at all) on its own thread.
    // With TOnFailure::GoOn a failure (still thrown here) stops nothing: the
    // workers go on, and a write that fails only fails its own entry. Without
    // TExisting::Overwrite a result never replaces anything: its name is taken
    // in one step, or the entry is skipped (Skip) or the next free numbered name
    // is tried (KeepBoth).
    void Commit(int index);
    // True when nothing handed to the writer is left to write, or a write failed.
    bool WritesDone() const;
    // Throws the first write failure, naming its file.
    void CheckWrites() const;
    // The entry whose write failed (-1 for none) and its failure as it came.
    int WriteFailedAt() const;
    std::exception_ptr WriteFailure() const;
    // Results on disk so far, and whether entry index's is one of them.
    int Saved() const;
    bool IsWritten(int index) const;
    // What became of entry index so far: written (where to), skipped, refused,
    // failed (why) or still pending; with what was noticed on the way.
    TEntryReport Report(int index) const;
    // No more commits: the writer writes what it holds, then flushes every file
    // system it wrote to, so that what was written survives a power cut; Finished()
    // then holds. Also after a Cancel, for what was written before it.
    void Finish();
    bool Finished() const;
    // Asks every thread to stop at once: workers leave their pictures within a
    // band of rows, and the writer writes nothing more. Does not wait.
    void Cancel();
    // Cancel, then joins every thread; a writer not yet finished still flushes.
    void Stop();

    // For tests: runs on a worker as it starts on each accepted picture, where
    // a long decode would be; it may look at the thread's stop flag.
    static void SetWorkHook(std::function<void(int index)> hook);

private:
    struct Slot;
    void Work();
    void Write();
    // Writes one committed result (the lock not held): where it went, or
    // skipped when its name is taken and the rules leave it.
    void WriteOne(int index, Slot& slot, std::string& writtenTo, bool& skipped);
    // Whether a worker may start on entry index now (the lock held).
    bool MayTake(int index) const;

    std::vector<TBatchEntry> entries_;
    TCoverSettings coverSettings_;
    int quality_;
    std::function<void()> wake_;
    TRunRules rules_;

    mutable std::mutex lock_;
    std::condition_variable changed_;
    std::vector<std::unique_ptr<Slot>> slots_;
    std::atomic<bool> stop_{false};  // every thread's stop flag
    int next_ = 0;                   // the next entry a worker takes
    int committed_ = 0;              // entries committed so far, all in order
    int written_ = 0;                // entries before this one are written, or never will be
    int failedAt_ = -1;              // the first entry known to have failed
    bool stopping_ = false;
    bool finishing_ = false;
    bool finished_ = false;
    int saved_ = 0;
    std::exception_ptr writeFailure_;
    int writeFailedAt_ = -1;
    std::vector<std::string> writtenFolders_;  // one per file system, for the flush
    int window_ = 1;                           // how far ahead of the commits the workers may go
    std::unique_ptr<TCoverCache> cover_;
    std::vector<std::thread> threads_;
    std::thread writer_;
};

}  // namespace vmk
