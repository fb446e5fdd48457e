#include "app/scan_stop.h"

#include <atomic>

namespace dt {
namespace {

constexpr unsigned kStop = 1;
constexpr unsigned kCancel = 2;

// Lock-free, so that a signal handler may store it.
std::atomic<unsigned> g_stop{0};
static_assert(std::atomic<unsigned>::is_always_lock_free);

}  // namespace

void RequestScanStop() {
    g_stop.fetch_or(kStop, std::memory_order_relaxed);
}

void RequestScanCancel() {
    g_stop.fetch_or(kCancel, std::memory_order_relaxed);
}

bool ScanStopRequested() {
    return g_stop.load(std::memory_order_relaxed) != 0;
}

bool ScanCancelRequested() {
    return g_stop.load(std::memory_order_relaxed) == kCancel;
}

void ClearScanCancel() {
    g_stop.fetch_and(~kCancel, std::memory_order_relaxed);
}

void ClearScanStop() {
    g_stop.store(0, std::memory_order_relaxed);
}

}  // namespace dt
