#include "compose/BatchRun.h"

#include <malloc.h>
#include <sys/stat.h>
#include <algorithm>
#include <filesystem>
#include <unordered_map>

#include "core/FileUtils.h"
#include "core/FolderWalk.h"
#include "core/Stop.h"
#include "core/Streams.h"
#include "imaging/JpegCodec.h"

namespace vmk {

struct TBatchRun::Slot {
    bool ready = false;
    bool written = false;  // its result is on disk
    std::exception_ptr failure;
    // A JPEG result, compressed; a BMP result stays in the worker's own bitmap,
    // lent until it is written, since its file is as big as the picture.
    std::unique_ptr<TMemoryStream> encoded;
    TBitmap* lent = nullptr;
    // How its write ended: where the result went, or skipped, or why it failed
    // (only when the run goes on after a failure; otherwise the run's failure).
    std::string writtenTo;
    bool skipped = false;
    std::exception_ptr writeFailure;
    bool coverOutside = false;
    bool cutShort = false;
};

namespace {

// A key under which two spellings of one file meet: symbolic links and "..",
// resolved as far as the path exists, and letter case ignored, since a
// folder may lie on a file system that ignores it. Two different files that
// happen to share a key only cost a little parallel work.
std::string PathKey(const std::string& path) {
    std::error_code error;
    std::filesystem::path p = std::filesystem::weakly_canonical(std::filesystem::path(path), error);
    if (error) p = std::filesystem::path(path).lexically_normal();
    return LowerCase(p.string());
}

// The keys of a file that exists: its path key, and its device and inode, under
// which a hard link or any other name of it meets it too. A result yet to be
// made has only its path key.
std::vector<std::string> FileKeys(const std::string& path) {
    std::vector<std::string> keys{PathKey(path)};
    struct stat info {};
    if (!HasNulCharacter(path) && stat(path.c_str(), &info) == 0)
        keys.push_back("\n" + std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino));
    return keys;
}

}  // namespace

std::vector<TBatchEntry> PlanBatch(const std::vector<std::string>& sources, const TOutputSettings& output,
                                   const std::string& appFolder, TExisting existing) {
    return PlanBatch(sources, {}, output, appFolder, existing);
}

std::vector<TBatchEntry> PlanBatch(const std::vector<std::string>& sources, const std::vector<std::string>& roots,
                                   const TOutputSettings& output, const std::string& appFolder, TExisting existing) {
    CheckFileFix(output.FileFix);  // before anything is made or written
    std::vector<TBatchEntry> entries;
    entries.reserve(sources.size());
    std::unordered_map<std::string, int> lastWriter;  // file key -> last entry writing it
    for (const std::string& source : sources) {
        TBatchEntry e;
        e.Source = source;
        e.Accepted = IsPicturePath(source);
        if (e.Accepted) {
            for (const std::string& key : FileKeys(source))
                if (const auto writer = lastWriter.find(key); writer != lastWriter.end())
                    e.ReadAfter = std::max(e.ReadAfter, writer->second);
            e.Folder = OutputFolder(output.Path, source, appFolder);
            if (!output.Path.empty() && entries.size() < roots.size())
                e.Folder += RelativeFolder(roots[entries.size()], source);
            e.Target = e.Folder + OutputFileName(source, output);
            e.Format = WriteFormatFor(output.SaveAs, source);
            e.Skipped = existing == TExisting::Skip && EntryExists(e.Target);
            if (e.Skipped) {
                entries.push_back(std::move(e));
                continue;
            }
            for (const std::string& key : FileKeys(e.Target)) lastWriter[key] = static_cast<int>(entries.size());
        }
        entries.push_back(std::move(e));
    }
    return entries;
}

int BatchWorkerCount(int asked, int pictures) {
    int n = asked;
    if (n <= 0) n = static_cast<int>(std::thread::hardware_concurrency());
    return std::max(1, std::min(n, pictures));
}

void KeepBatchBuffers() {
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 64 << 20);
}

namespace {
std::function<void(int)>& WorkHook() {
    static std::function<void(int)> hook;
    return hook;
}
}  // namespace

void TBatchRun::SetWorkHook(std::function<void(int index)> hook) { WorkHook() = std::move(hook); }

TBatchRun::TBatchRun(std::vector<TBatchEntry> entries, TBitmap& cover, const TCoverSettings& coverSettings, int quality,
                     int workers, std::function<void()> wake, TRunRules rules)
    : entries_(std::move(entries)),
      coverSettings_(coverSettings),
      quality_(quality),
      wake_(std::move(wake)),
      rules_(rules) {
    slots_.reserve(entries_.size());
    for (size_t i = 0; i < entries_.size(); ++i) slots_.push_back(std::make_unique<Slot>());
    const int count = entries_.empty() ? 0 : BatchWorkerCount(workers, Count());
    // Compressed results may wait a little for their turn; they are small.
    window_ = 2 * std::max(count, 1);
    cover_ = std::make_unique<TCoverCache>(cover, coverSettings_);
    try {
        writer_ = std::thread([this] { Write(); });
        for (int w = 0; w < count; ++w) threads_.emplace_back([this] { Work(); });
    } catch (...) {
        Stop();
        throw;
    }
}

TBatchRun::~TBatchRun() { Stop(); }

void TBatchRun::Cancel() {
    stop_.store(true);
    {
        const std::lock_guard<std::mutex> hold(lock_);
        stopping_ = true;
        finishing_ = true;
    }
    changed_.notify_all();
}

void TBatchRun::Stop() {
    Cancel();
    for (std::thread& t : threads_)
        if (t.joinable()) t.join();
    if (writer_.joinable()) writer_.join();
}

void TBatchRun::Finish() {
    {
        const std::lock_guard<std::mutex> hold(lock_);
        finishing_ = true;
    }
    changed_.notify_all();
}

bool TBatchRun::Finished() const {
    const std::lock_guard<std::mutex> hold(lock_);
    return finished_;
}

bool TBatchRun::MayTake(int index) const {
    if (index >= Count()) return false;
    if (failedAt_ >= 0 && index > failedAt_) return false;  // never committed
    return index < committed_ + window_;
}

bool TBatchRun::IsReady(int index) const {
    const std::lock_guard<std::mutex> hold(lock_);
    return slots_.at(static_cast<size_t>(index))->ready;
}

void TBatchRun::WaitReady(int index) {
    std::unique_lock<std::mutex> hold(lock_);
    Slot& slot = *slots_.at(static_cast<size_t>(index));
    changed_.wait(hold, [&] { return slot.ready; });
}

bool TBatchRun::NeedsWritesFirst(int index) const {
    const std::lock_guard<std::mutex> hold(lock_);
    return !entries_.at(static_cast<size_t>(index)).Accepted || slots_.at(static_cast<size_t>(index))->failure;
}

bool TBatchRun::WritesDone() const {
    const std::lock_guard<std::mutex> hold(lock_);
    return writeFailure_ || written_ >= committed_;
}

void TBatchRun::CheckWrites() const {
    const std::exception_ptr failure = WriteFailure();
    if (!failure) return;
    const int at = WriteFailedAt();
    if (at < 0) std::rethrow_exception(failure);  // the last flush: its message names the folder
    NamingFile(Entry(at).Source, [&] { std::rethrow_exception(failure); });
}

int TBatchRun::WriteFailedAt() const {
    const std::lock_guard<std::mutex> hold(lock_);
    return writeFailedAt_;
}

std::exception_ptr TBatchRun::WriteFailure() const {
    const std::lock_guard<std::mutex> hold(lock_);
    return writeFailure_;
}

int TBatchRun::Saved() const {
    const std::lock_guard<std::mutex> hold(lock_);
    return saved_;
}

bool TBatchRun::IsWritten(int index) const {
    const std::lock_guard<std::mutex> hold(lock_);
    return slots_.at(static_cast<size_t>(index))->written;
}

TEntryReport TBatchRun::Report(int index) const {
    const TBatchEntry& entry = entries_.at(static_cast<size_t>(index));
    TEntryReport report;
    report.Source = entry.Source;
    const auto why = [&](const std::exception_ptr& failure) {
        try {
            std::rethrow_exception(failure);
        } catch (const std::exception& e) {
            return std::string(e.what());
        } catch (...) {
            return std::string("Unknown failure");
        }
    };
    const std::lock_guard<std::mutex> hold(lock_);
    const Slot& slot = *slots_.at(static_cast<size_t>(index));
    if (!entry.Accepted) {
        if (index < committed_) report.Outcome = TOutcome::Refused, report.Reason = "Invalid file extension";
    } else if (entry.Skipped || slot.skipped) {
        report.Outcome = TOutcome::Skipped;
    } else if (slot.written) {
        report.Outcome = TOutcome::Written;
        report.WrittenTo = slot.writtenTo;
        report.CoverOutside = slot.coverOutside;
        report.CutShort = slot.cutShort;
    } else if (index < committed_ && slot.failure) {
        report.Outcome = TOutcome::Failed, report.Reason = why(slot.failure);
    } else if (slot.writeFailure || (writeFailure_ && writeFailedAt_ == index)) {
        report.Outcome = TOutcome::Failed;
        report.Reason = why(slot.writeFailure ? slot.writeFailure : writeFailure_);
    }
    return report;
}

void TBatchRun::Work() {
    // A Cancel reaches the codecs and the drawing through this thread's flag.
    const TThreadStopScope stopScope(&stop_);
    TBitmap working;  // this worker's, reused for each of its pictures
    std::unique_lock<std::mutex> hold(lock_);
    for (;;) {
        const auto finished = [this] { return stopping_ || next_ >= Count() || (failedAt_ >= 0 && next_ > failedAt_); };
        changed_.wait(hold, [&] { return finished() || MayTake(next_); });
        if (finished()) return;
        const int index = next_++;
        Slot& slot = *slots_[static_cast<size_t>(index)];
        const TBatchEntry& entry = entries_[static_cast<size_t>(index)];
        if (entry.Accepted && !entry.Skipped) {
            // An earlier result that replaces this source is written first.
            changed_.wait(hold, [&] { return stopping_ || written_ > entry.ReadAfter; });
            if (stopping_) return;
            hold.unlock();
            std::exception_ptr failure;
            std::unique_ptr<TMemoryStream> encoded;
            const uint64_t cutBefore = JpegCutShortCount();
            static_cast<void>(TCoverCache::TakeMissedNote());
            try {
                if (WorkHook()) WorkHook()(index);
                if (entry.Format != TWriteFormat::Bmp) {
                    encoded = std::make_unique<TMemoryStream>();
                    ComposeResult(working, entry.Source, *cover_, entry.Format, quality_, *encoded);
                } else {
                    LoadSource(working, entry.Source);
                    DrawCover(working, *cover_);
                }
            } catch (...) {
                failure = std::current_exception();
                encoded.reset();
                working.FreeImage();
            }
            const bool cutShort = JpegCutShortCount() != cutBefore;
            const bool coverOutside = TCoverCache::TakeMissedNote();
            hold.lock();
            if (stop_.load()) return;  // a picture left half-made by a Cancel is no failure of its own
            slot.failure = failure;
            slot.cutShort = cutShort;
            slot.coverOutside = coverOutside;
            if (failure) {
                // Going on, the workers never stop at a failure.
                if (rules_.OnFailure == TOnFailure::Stop && (failedAt_ < 0 || index < failedAt_)) failedAt_ = index;
            } else if (encoded) {
                slot.encoded = std::move(encoded);
            } else {
                slot.lent = &working;
            }
        }
        slot.ready = true;
        hold.unlock();
        changed_.notify_all();
        if (wake_) wake_();
        hold.lock();
        // A lent picture is ours again once it is written (or the run ends).
        if (slot.lent) changed_.wait(hold, [&] { return stopping_ || written_ > index; });
    }
}

void TBatchRun::Commit(int index) {
    WaitReady(index);
    Slot& slot = *slots_.at(static_cast<size_t>(index));
    const TBatchEntry& entry = entries_[static_cast<size_t>(index)];
    {
        // Refused and failed entries have nothing to write: the writer passes them.
        const std::lock_guard<std::mutex> hold(lock_);
        committed_ = std::max(committed_, index + 1);
    }
    changed_.notify_all();
    if (!entry.Accepted || entry.Skipped || !slot.failure) return;
    // As the one-thread run did: the folder first, even for a source that failed.
    // A folder that cannot be made says nothing here: the failure is the source's.
    static_cast<void>(ForceDirectories(entry.Folder));
    std::rethrow_exception(slot.failure);
}

void TBatchRun::WriteOne(int index, Slot& slot, std::string& writtenTo, bool& skipped) {
    const TBatchEntry& entry = entries_[static_cast<size_t>(index)];
    // A folder that cannot be made says nothing itself: the file then cannot be written.
    static_cast<void>(ForceDirectories(entry.Folder));
    if (rules_.Existing != TExisting::Overwrite) {
        // Never over anything: the name is taken in one step, or given up.
        TNewFileStream file(entry.Folder, entry.Target);
        if (slot.lent)
            EncodeResult(*slot.lent, file, entry.Format, quality_);
        else
            file.WriteBuffer(slot.encoded->Memory(), slot.encoded->GetSize());
        CheckStop();
        for (int n = 1; n <= kMaxNumberedName; ++n) {
            const std::string name = n == 1 ? entry.Target : NumberedName(entry.Target, n);
            if (file.CommitAs(name)) {
                writtenTo = name;
                return;
            }
            if (rules_.Existing == TExisting::Skip) {
                skipped = true;
                return;
            }
        }
        throw EFCreateError("Cannot create file \"" + entry.Target + "\". Every numbered name up to " +
                            std::to_string(kMaxNumberedName) + " is taken.");
    }
    writtenTo = entry.Target;
    TSafeFileStream file(entry.Target);
    if (slot.lent)
        EncodeResult(*slot.lent, file, entry.Format, quality_);
    else
        file.WriteBuffer(slot.encoded->Memory(), slot.encoded->GetSize());
    // A Cancel while the bytes went out: the temporary file goes, the target stays.
    CheckStop();
    // A file that replaces another is flushed before it does; new ones are
    // flushed all at once when the run ends, one flush per file system.
    file.Commit(TSafeFileStream::TFlush::WhenReplacing);
}

void TBatchRun::Write() {
    const TThreadStopScope stopScope(&stop_);
    std::unique_lock<std::mutex> hold(lock_);
    for (;;) {
        // After a failed write nothing more is written: only the end is waited for.
        changed_.wait(hold, [&] { return stopping_ || finishing_ || (!writeFailure_ && written_ < committed_); });
        if (!stopping_ && !writeFailure_ && written_ < committed_) {
            const int index = written_;
            Slot& slot = *slots_[static_cast<size_t>(index)];
            if (!slot.lent && !slot.encoded) {  // refused, failed or skipped: nothing to write
                ++written_;
                hold.unlock();
                changed_.notify_all();
                // Someone may wait for the writes to be done (a failure's turn, going on).
                if (wake_) wake_();
                hold.lock();
                continue;
            }
            hold.unlock();
            std::exception_ptr failure;
            bool cancelled = false;
            std::string writtenTo;
            bool skipped = false;
            try {
                WriteOne(index, slot, writtenTo, skipped);
            } catch (const EAbort&) {
                cancelled = true;
            } catch (...) {
                failure = std::current_exception();
            }
            hold.lock();
            slot.skipped = skipped;
            if (!failure && !cancelled && !skipped) {
                slot.writtenTo = writtenTo;
                ++saved_;
                slot.written = true;
                const std::string& folder = entries_[static_cast<size_t>(index)].Folder;
                if (std::find(writtenFolders_.begin(), writtenFolders_.end(), folder) == writtenFolders_.end())
                    writtenFolders_.push_back(folder);
            }
            if (failure && rules_.OnFailure == TOnFailure::GoOn) {
                slot.writeFailure = failure;  // its own entry's failure alone
            } else if (failure) {
                writeFailure_ = failure;
                writeFailedAt_ = index;
            }
            slot.lent = nullptr;
            slot.encoded.reset();
            written_ = std::max(written_, index + 1);
            hold.unlock();
            changed_.notify_all();
            if (wake_) wake_();
            hold.lock();
            continue;
        }
        // Nothing left that will be written: flush what was, once, and end.
        if (finishing_ && (stopping_ || writeFailure_ || written_ >= committed_)) {
            const std::vector<std::string> folders = writtenFolders_;
            hold.unlock();
            std::exception_ptr failure;
            try {
                SyncFileSystems(folders);
            } catch (...) {
                failure = std::current_exception();
            }
            hold.lock();
            if (failure && !writeFailure_) writeFailure_ = failure;
            finished_ = true;
            hold.unlock();
            changed_.notify_all();
            if (wake_) wake_();
            return;
        }
    }
}

}  // namespace vmk
