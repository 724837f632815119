// vellumark-batch: the window's run without a window, for scripts and for
// spreading one large job over many machines.

#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <iostream>
#include <mutex>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "cli/Inputs.h"
#include "cli/Options.h"
#include "cli/Report.h"
#include "compose/BatchRun.h"
#include "compose/Compose.h"
#include "compose/StoredSettings.h"
#include "core/FileUtils.h"
#include "core/Registry.h"
#include "imaging/Jpeg.h"
#include "imaging/PictureFormats.h"

#ifndef VMK_VERSION
#define VMK_VERSION "unknown"
#endif

namespace vmk::cli {

namespace {

volatile std::sig_atomic_t gSignal = 0;

extern "C" void OnSignal(int signal) { gSignal = signal; }

// Ctrl+C and a job runner's SIGTERM stop the run as Cancel does: between
// results, never inside a write.
void CatchStopSignals() {
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

// One entry of the list and what became of it.
struct TItem {
    std::string Source;
    std::string Result;
    std::string Status;  // "" while it is still to be done
    std::string Message;
    std::string Root;  // the folder argument it was found in, or ""
};

class TReporter {
public:
    TReporter(const TOptions& options, std::vector<TItem>& items) : options_(options), items_(items) {}

    // Prints the finished entries at the head of the list, in list order.
    void Flush() {
        for (; shown_ < items_.size() && !items_[shown_].Status.empty(); ++shown_) {
            const TItem& item = items_[shown_];
            if (options_.Json) {
                std::cout << "{\"source\":" << JsonString(item.Source) << ",\"result\":" << JsonString(item.Result)
                          << ",\"status\":" << JsonString(item.Status) << ",\"message\":" << JsonString(item.Message)
                          << "}\n";
            } else if (options_.Verbose || options_.DryRun) {
                if (item.Status == "written" || item.Status == "planned")
                    std::cout << item.Source << " -> " << item.Result << "\n";
                else if (item.Status == "skipped")
                    std::cout << item.Source << " -> " << item.Result << " (skipped: " << item.Message << ")\n";
            }
        }
        std::cout.flush();
    }

    // Ends every entry still to be done with the status.
    void Close(const std::string& status) {
        for (TItem& item : items_)
            if (item.Status.empty()) item.Status = status;
        Flush();
    }

private:
    const TOptions& options_;
    std::vector<TItem>& items_;
    size_t shown_ = 0;
};

void Say(const std::string& message) { std::cerr << "vellumark-batch: " << message << "\n"; }

TStoredSettings SettingsOf(const TOptions& options) {
    TStoredSettings settings;
    if (options.SettingsFile) {
        if (!FileExists(*options.SettingsFile)) throw EUsage("--settings: cannot read " + *options.SettingsFile);
        TRegistry reg(*options.SettingsFile);
        settings = ReadStoredSettings(reg);
    } else {
        TRegistry reg;
        settings = ReadStoredSettings(reg);
    }
    for (const auto& apply : options.Settings) apply(settings);
    const std::string& cover = settings.Cover.CoverFile;
    if (cover.empty()) throw EUsage("no cover: give --cover FILE (a .bmp or .png file) or choose one in the window");
    if (!IsCoverPath(cover) || !FileExists(cover))
        throw EUsage("--cover: '" + cover + "' is not an existing .bmp or .png file");
    // A stored margin is already within its range; only an option goes past 100 %.
    if (settings.Cover.MarginPercent)
        for (const auto& [option, margin] :
             {std::pair{"--margin-x", settings.Cover.MarginX}, std::pair{"--margin-y", settings.Cover.MarginY}})
            if (margin > kMaxMarginPercent)
                throw EUsage(std::string(option) + ": '" + std::to_string(margin) +
                             "' is not allowed with --margin-percent; give a whole number from 0 to 100");
    return settings;
}

// The entries this run takes. Sharded, every machine plans the whole sorted
// list the same way, so a result that a later entry replaces is left to that
// entry's machine: the shards' union is then the one-machine run's, whatever
// order they finish in.
std::vector<TItem> ItemsOf(const TOptions& options, const TOutputSettings& output, const std::string& appFolder) {
    std::vector<std::string> roots;
    std::vector<std::string> sources = GatherSources(options, &roots);
    std::vector<TItem> items;
    if (!options.Shard) {
        for (size_t i = 0; i < sources.size(); ++i) items.push_back({std::move(sources[i]), "", "", "", roots[i]});
        return items;
    }
    // The sorted list loses the order; each source keeps its root by name.
    std::unordered_map<std::string, std::string> rootOf;
    for (size_t i = 0; i < sources.size(); ++i)
        rootOf.emplace(std::filesystem::path(sources[i]).lexically_normal().string(), roots[i]);
    const std::vector<std::string> all = TakeShard(std::move(sources), TShard{});
    std::vector<std::string> allRoots;
    allRoots.reserve(all.size());
    for (const std::string& s : all) allRoots.push_back(options.KeepSubfolders ? rootOf[s] : std::string());
    const std::vector<TBatchEntry> plan = PlanBatch(all, allRoots, output, appFolder);
    std::unordered_map<std::string, size_t> lastWriter;
    for (size_t i = 0; i < plan.size(); ++i)
        if (plan[i].Accepted) lastWriter[plan[i].Target] = i;
    const auto k = static_cast<size_t>(options.Shard->K - 1), n = static_cast<size_t>(options.Shard->N);
    for (size_t i = k; i < plan.size(); i += n) {
        TItem item{plan[i].Source, plan[i].Target, "", "", allRoots[i]};
        const auto writer = lastWriter.find(plan[i].Target);
        if (plan[i].Accepted && writer->second != i) {
            item.Status = "skipped";
            item.Message = "its result is replaced by that of " + plan[writer->second].Source;
        }
        items.push_back(std::move(item));
    }
    return items;
}

// Every core this process may run on: a job runner (Slurm, taskset, a
// container's cpuset) gives it fewer than the machine has.
int UsableCores() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) != 0) return 0;  // the run's own rule: every core
    return CPU_COUNT(&set);
}

// The entries still to do (indexes into the items), planned as the window
// plans its list.
struct TPlan {
    std::vector<size_t> Todo;
    std::vector<TBatchEntry> Entries;
};

TPlan PlanRun(const TOptions& options, const TStoredSettings& settings, const std::string& appFolder,
              std::vector<TItem>& items) {
    const TOutputSettings& output = settings.Output;
    TPlan plan;
    std::vector<std::string> sources, roots;
    for (size_t i = 0; i < items.size(); ++i)
        if (items[i].Status.empty()) {
            plan.Todo.push_back(i);
            sources.push_back(items[i].Source);
            roots.push_back(options.KeepSubfolders ? items[i].Root : std::string());
        }
    plan.Entries = PlanBatch(sources, roots, output, appFolder, settings.Rules.Existing);
    const bool skipping = settings.Rules.Existing == TExisting::Skip;
    if (!skipping && !options.DryRun) return plan;
    std::vector<size_t> kept;
    std::vector<std::string> keptSources, keptRoots;
    for (size_t e = 0; e < plan.Entries.size(); ++e) {
        TItem& item = items[plan.Todo[e]];
        item.Result = plan.Entries[e].Target;
        if (!plan.Entries[e].Accepted) {
            item.Status = options.DryRun ? "refused" : "";
            item.Message = "Invalid file extension";
        } else if (plan.Entries[e].Skipped) {
            item.Status = "skipped";
            item.Message = "the result exists";
            continue;
        } else if (options.DryRun) {
            item.Status = "planned";
        }
        kept.push_back(plan.Todo[e]);
        keptSources.push_back(item.Source);
        keptRoots.push_back(roots[e]);
    }
    plan.Todo = std::move(kept);
    plan.Entries = PlanBatch(keptSources, keptRoots, output, appFolder, settings.Rules.Existing);
    return plan;
}

int Execute(const TOptions& options, const TStoredSettings& settings, const TPlan& plan, std::vector<TItem>& items,
            TReporter& reporter);

int Run(const TOptions& options) {
    if (options.Inputs.empty() && !options.FilesFrom)
        throw EUsage("no pictures given: name files or folders, or --files-from FILE");
    const TStoredSettings settings = SettingsOf(options);
    const std::string appFolder = RelativeOutputBase(ApplicationFolder());
    std::vector<TItem> items = ItemsOf(options, settings.Output, appFolder);
    const TPlan plan = PlanRun(options, settings, appFolder, items);
    TReporter reporter(options, items);
    if (options.DryRun) {
        for (const TItem& item : items)
            if (item.Status == "refused") Say("Error with file " + item.Source + ": " + item.Message);
        reporter.Flush();
        return 0;
    }
    return Execute(options, settings, plan, items, reporter);
}

// One execution of the plan: a batch run over the list, each entry's outcome
// told in list order as the writer makes it known; going on after a failure
// is the run's own rule.
class TExecution {
public:
    TExecution(const TOptions& options, const TPlan& plan, std::vector<TItem>& items, TReporter& reporter)
        : options_(options),
          todo_(plan.Todo),
          entries_(plan.Entries),
          items_(items),
          reporter_(reporter),
          progress_(static_cast<int>(plan.Entries.size())),
          sharedTerminal_((options.Verbose || options.Json) && ::isatty(STDOUT_FILENO) == 1) {}

    int Execute(const TStoredSettings& settings);

private:
    // A run over the entries from start on.
    void RunFrom(size_t start, TBitmap& cover, const TStoredSettings& settings, int jobs);
    void Fail(size_t at, const std::string& message);
    // Tells what became of the committed entries, as far as the writer has
    // gone; at the end (final) also of those never written.
    void Settle(TBatchRun& run, size_t start, int committed, bool final, int& told);
    // Waits until done; false when a stop signal came first.
    bool WaitUntil(const std::function<bool()>& done);
    // Writes what is committed, then flushes; a stop signal drops the rest.
    void EndRun(TBatchRun& run);
    int Report(int accepted);

    const TOptions& options_;
    const std::vector<size_t>& todo_;
    const std::vector<TBatchEntry>& entries_;
    std::vector<TItem>& items_;
    TReporter& reporter_;
    TProgress progress_;
    // Lines on a standard output that shares the terminal go below the progress line.
    const bool sharedTerminal_;
    std::mutex lock_;
    std::condition_variable woken_;
    std::vector<std::string> failures_;
    bool goOn_ = false;
    int saved_ = 0;
    bool stopped_ = false;
};

int TExecution::Execute(const TStoredSettings& settings) {
    CatchStopSignals();
    TBitmap cover;  // read once, drawn by every worker
    try {
        NamingFile(settings.Cover.CoverFile, [&] { PrepareCover(cover, settings.Cover); });
    } catch (const std::exception& e) {
        Say(e.what());
        reporter_.Close("not run");
        return 1;
    }
    const int jobs = options_.Jobs > 0 ? options_.Jobs : UsableCores();
    goOn_ = settings.Rules.OnFailure == TOnFailure::GoOn;
    int accepted = 0;
    for (const TBatchEntry& e : entries_) accepted += e.Accepted ? 1 : 0;
    RunFrom(0, cover, settings, jobs);
    return Report(accepted);
}

void TExecution::RunFrom(size_t start, TBitmap& cover, const TStoredSettings& settings, int jobs) {
    std::vector<TBatchEntry> rest(entries_.begin() + static_cast<std::ptrdiff_t>(start), entries_.end());
    for (TBatchEntry& e : rest)
        e.ReadAfter = e.ReadAfter >= static_cast<int>(start) ? e.ReadAfter - static_cast<int>(start) : -1;
    const auto wake = [this] {
        const std::lock_guard<std::mutex> hold(lock_);
        woken_.notify_all();
    };
    TBatchRun run(std::move(rest), cover, settings.Cover, settings.Output.Quality, jobs, wake, settings.Rules);
    int committed = 0, told = 0;
    for (int i = 0; i < run.Count(); ++i) {
        if (!WaitUntil([&] { return run.IsReady(i); })) break;
        // A refused name's line, or a failure, comes once every earlier result is on disk.
        if (run.NeedsWritesFirst(i) && !WaitUntil([&] { return run.WritesDone(); })) break;
        Settle(run, start, committed, false, told);
        if (run.WriteFailedAt() >= 0) break;
        const size_t at = start + static_cast<size_t>(i);
        TItem& item = items_[todo_[at]];
        item.Result = entries_[at].Target;
        try {
            ++committed;
            run.Commit(i);
            if (!entries_[at].Accepted) {
                item.Status = "refused";
                item.Message = "Invalid file extension";
                progress_.Clear();
                Say("Error with file " + item.Source + ": " + item.Message);
            }
        } catch (const std::exception& e) {
            Fail(at, e.what());
            if (!goOn_) break;
        }
        Settle(run, start, committed, false, told);
        progress_.Step(static_cast<int>(at + 1));
    }
    EndRun(run);
    Settle(run, start, committed, true, told);
    // Leaving here stops the workers: pictures in hand are dropped and nothing
    // of theirs has reached the disk.
}

void TExecution::Fail(size_t at, const std::string& message) {
    TItem& item = items_[todo_[at]];
    item.Status = "failed";
    item.Message = message;
    failures_.push_back("Error with file " + item.Source + ": " + message);
    progress_.Clear();
    Say(failures_.back());
    if (!goOn_) stopped_ = true;
}

void TExecution::Settle(TBatchRun& run, size_t start, int committed, bool final, int& told) {
    while (told < committed) {
        const size_t at = start + static_cast<size_t>(told);
        TItem& item = items_[todo_[at]];
        const TEntryReport report = run.Report(told);
        if (!item.Status.empty()) {  // refused or failed at its commit
        } else if (report.Outcome == TOutcome::Written) {
            item.Status = "written";
            item.Result = report.WrittenTo;
            ++saved_;
            // Written all the same, as the window writes it, with a word on stderr.
            item.Message = WrittenNote(report);
            if (!item.Message.empty()) Say("Note on file " + item.Source + ": " + item.Message);
        } else if (report.Outcome == TOutcome::Skipped) {
            item.Status = "skipped";
            item.Message = "the result exists";
        } else if (report.Outcome == TOutcome::Failed) {
            Fail(at, report.Reason);
        } else if (!final) {
            break;  // still to be written
        }
        ++told;
    }
    if (sharedTerminal_) progress_.Clear();
    reporter_.Flush();
}

bool TExecution::WaitUntil(const std::function<bool()>& done) {
    std::unique_lock<std::mutex> hold(lock_);
    while (gSignal == 0 && !done()) woken_.wait_for(hold, std::chrono::milliseconds(100));
    return gSignal == 0;
}

void TExecution::EndRun(TBatchRun& run) {
    if (gSignal != 0) run.Cancel();
    run.Finish();
    {
        std::unique_lock<std::mutex> hold(lock_);
        while (!run.Finished()) {
            if (gSignal != 0) run.Cancel();
            woken_.wait_for(hold, std::chrono::milliseconds(100));
        }
    }
    if (run.WriteFailedAt() < 0 && run.WriteFailure()) {  // the flush itself failed
        try {
            std::rethrow_exception(run.WriteFailure());
        } catch (const std::exception& e) {
            failures_.emplace_back(e.what());
            Say(e.what());
            stopped_ = true;
        }
    }
}

int TExecution::Report(int accepted) {
    progress_.Clear();
    const std::string tally = std::to_string(saved_) + " of " + std::to_string(accepted) + " files have been saved.";
    if (gSignal != 0) {
        reporter_.Close("cancelled");
        Say("Operation cancelled! " + tally);
        return 128 + gSignal;
    }
    reporter_.Close("not run");
    if (failures_.empty()) return 0;
    if (goOn_) {
        Say(std::to_string(failures_.size()) + " of " + std::to_string(accepted) + " files failed:");
        for (const std::string& f : failures_) std::cerr << "  " << f << "\n";
    } else {
        Say("Stopped at the first failure (--keep-going goes on): " + tally);
    }
    return 1;
}

int Execute(const TOptions& options, const TStoredSettings& settings, const TPlan& plan, std::vector<TItem>& items,
            TReporter& reporter) {
    TExecution execution(options, plan, items, reporter);
    return execution.Execute(settings);
}

}  // namespace

}  // namespace vmk::cli

int main(int argc, char** argv) {
    using namespace vmk::cli;
    vmk::KeepBatchBuffers();
    try {
        const TOptions options = ParseOptions(std::vector<std::string>(argv + 1, argv + argc));
        if (options.Help) {
            std::cout << HelpText();
            return 0;
        }
        if (options.Version) {
            std::cout << "vellumark-batch " VMK_VERSION "\n";
            return 0;
        }
        // Every format the window reads and writes; the screen's depth is no
        // matter here: results are made at full colour.
        vmk::RegisterJpegFormat();
        vmk::RegisterPictureFormats();
        return Run(options);
    } catch (const EUsage& e) {
        std::cerr << "vellumark-batch: " << e.what() << "\nTry 'vellumark-batch --help'.\n";
        return 2;
    } catch (const std::exception& e) {
        std::cerr << "vellumark-batch: " << e.what() << "\n";
        return 1;
    }
}
