#include "core/Stop.h"

namespace vmk {

namespace {
thread_local const std::atomic<bool>* stopFlag = nullptr;
}  // namespace

void SetThreadStopFlag(const std::atomic<bool>* flag) noexcept { stopFlag = flag; }
const std::atomic<bool>* ThreadStopFlag() noexcept { return stopFlag; }

}  // namespace vmk
