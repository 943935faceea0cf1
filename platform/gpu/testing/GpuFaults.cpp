#include "platform/gpu/testing/GpuFaults.h"

#include <atomic>
#include <mutex>
#include <vector>

namespace platform::gpu {

namespace {
struct Fault {
  GpuCall call;
  HRESULT code;
  int remaining;
};
std::mutex g_lock;
std::vector<Fault>* g_faults = new std::vector<Fault>();  // never destroyed: threads may ask while the process ends
std::atomic<int> g_count{0};
}  // namespace

void injectGpuFault(GpuCall call, HRESULT code, int count) {
  if (count <= 0) return;
  std::lock_guard<std::mutex> guard(g_lock);
  g_faults->push_back({call, code, count});
  g_count.fetch_add(count);
}

void clearGpuFaults() {
  std::lock_guard<std::mutex> guard(g_lock);
  g_faults->clear();
  g_count.store(0);
}

int pendingGpuFaults() { return g_count.load(); }

HRESULT takeGpuFault(GpuCall call) {
  if (g_count.load(std::memory_order_relaxed) == 0) return S_OK;
  std::lock_guard<std::mutex> guard(g_lock);
  for (size_t i = 0; i < g_faults->size(); ++i) {
    Fault& f = (*g_faults)[i];
    if (f.call != call && f.call != GpuCall::Any) continue;
    HRESULT code = f.code;
    g_count.fetch_sub(1);
    if (--f.remaining == 0) g_faults->erase(g_faults->begin() + static_cast<std::ptrdiff_t>(i));
    return code;
  }
  return S_OK;
}

}  // namespace platform::gpu
