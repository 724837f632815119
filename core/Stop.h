#pragma once

// Asking long work on another thread to stop. The batch run gives each worker
// thread a flag; the codecs, the BMP reader and writer and the drawing look at
// it at least once per band of rows and leave with EAbort once it is set, so a
// Cancel is answered within a band, not a picture.

#include <atomic>

#include "core/Exception.h"

namespace vmk {

// The flag this thread's work looks at; null (the default) for none.
void SetThreadStopFlag(const std::atomic<bool>* flag) noexcept;
const std::atomic<bool>* ThreadStopFlag() noexcept;

// True once this thread's work is asked to stop.
inline bool StopRequested() noexcept {
    const std::atomic<bool>* flag = ThreadStopFlag();
    return flag != nullptr && flag->load(std::memory_order_relaxed);
}

// Leaves the work quietly when it is asked to stop.
inline void CheckStop() {
    if (StopRequested()) throw EAbort("Operation aborted");
}

// Gives this thread a stop flag for the life of the object, then the one it had.
class TThreadStopScope {
public:
    explicit TThreadStopScope(const std::atomic<bool>* flag) noexcept : previous_(ThreadStopFlag()) {
        SetThreadStopFlag(flag);
    }
    ~TThreadStopScope() { SetThreadStopFlag(previous_); }
    TThreadStopScope(const TThreadStopScope&) = delete;
    TThreadStopScope& operator=(const TThreadStopScope&) = delete;

private:
    const std::atomic<bool>* previous_;
};

}  // namespace vmk
