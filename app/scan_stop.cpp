#include "app/scan_stop.h"

#include <atomic>

namespace dt {
namespace {

// Lock-free, so that a signal handler may store it.
std::atomic<bool> g_stop{false};
static_assert(std::atomic<bool>::is_always_lock_free);

}  // namespace

void RequestScanStop() {
    g_stop.store(true, std::memory_order_relaxed);
}

bool ScanStopRequested() {
    return g_stop.load(std::memory_order_relaxed);
}

void ClearScanStop() {
    g_stop.store(false, std::memory_order_relaxed);
}

}  // namespace dt
