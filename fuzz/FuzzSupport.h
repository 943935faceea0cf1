// Helpers shared by the fuzz targets: a failed property ends the run so the
// fuzzer records the input, the input bytes become a stream at 0, and the
// input function is defined through QEL_FUZZ_TARGET, which fails an input
// that leaves reference-counted objects behind.
//
// Why the count: every TRefObject stays reachable through the live-object
// list, so LeakSanitizer never reports one. The wrapper compares the list's
// count before and after each input instead. Caches filled on first use (a
// table built once, a converter made for a new pair of formats) raise the
// count once; a leak raises it every time the same input runs. So an input
// that raised the count runs again, twice at most, and fails only when
// every run raised it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <sstream>
#include <string>

#include "foundation/SysObj.h"
#include "foundation/kvStream.h"

// Every target starts its library, and the text library beneath most of
// them opens the system's fontconfig. fontconfig keeps what a live
// configuration owns in a form the leak checker cannot follow; the
// configuration lives for the whole run and its memory is released with it
// (FcConfigDestroy), so those blocks are not leaks. Weak, so that a target
// may give its own list.
extern "C" __attribute__((weak)) const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

namespace fuzzing {

// Pictures are decoded only up to this many pixels, so a header that promises
// a huge picture is explored at a scale the fuzzer's memory limit allows.
constexpr int64_t kMaxDecodedPixels = int64_t(4) << 20;

inline void Check(bool ok) {
  if (!ok) std::abort();
}

// A new memory stream holding the bytes, positioned at their start.
inline foundation::TMemoryStream* StreamOf(const uint8_t* data, size_t size) {
  auto* s = new foundation::TMemoryStream();
  if (size > 0) s->WriteBuf(data, static_cast<int32_t>(size));
  s->SetPosition(0);
  return s;
}

using TInputFunction = int (*)(const uint8_t* data, size_t size);

// Runs one input and fails it (report on stderr, then abort) when it left
// more live objects than it found, on every one of up to three runs.
inline void RunCountingObjects(TInputFunction run, const uint8_t* data, size_t size) {
  int before = foundation::LiveObjectCount();
  run(data, size);
  int after = foundation::LiveObjectCount();
  if (after <= before) return;
  before = after;
  run(data, size);
  after = foundation::LiveObjectCount();
  if (after <= before) return;
  // The last run is watched by class: the report counts objects per class.
  const std::string last = foundation::BuildLeakReport();
  before = foundation::LiveObjectCount();
  run(data, size);
  after = foundation::LiveObjectCount();
  if (after <= before) return;
  std::set<std::string> old;
  std::istringstream a(last);
  for (std::string line; std::getline(a, line);) old.insert(line);
  std::fprintf(stderr, "==qel== %d reference-counted object(s) left alive by one input (live count %d -> %d)\n",
               after - before, before, after);
  std::istringstream b(foundation::BuildLeakReport());
  for (std::string line; std::getline(b, line);)
    if (!old.count(line)) std::fprintf(stderr, "==qel==   now: %s\n", line.c_str());
  std::abort();
}

}  // namespace fuzzing

// Defines the libFuzzer input function around the body that follows:
//   QEL_FUZZ_TARGET(data, size) { ...; return 0; }
#define QEL_FUZZ_TARGET(data, size)                                              \
  static int QelFuzzOneInput(const uint8_t* data, size_t size);                  \
  extern "C" int LLVMFuzzerTestOneInput(const uint8_t* d_, size_t s_) {          \
    fuzzing::RunCountingObjects(QelFuzzOneInput, d_, s_);                        \
    return 0;                                                                    \
  }                                                                              \
  static int QelFuzzOneInput(const uint8_t* data, size_t size)
