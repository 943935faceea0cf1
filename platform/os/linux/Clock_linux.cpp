// The real clock: CLOCK_MONOTONIC counted from the first use in the process,
// and the local calendar time from CLOCK_REALTIME.
#include <sched.h>
#include <langinfo.h>
#include <locale.h>
#include <time.h>

#include <chrono>

#include "platform/os/clock.h"

namespace platform::os {

namespace {

uint64_t monotonicNs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000000000ull + static_cast<uint64_t>(ts.tv_nsec);
}

class RealClock : public ClockBackend {
 public:
  RealClock() : startNs_(monotonicNs()) {}

  uint64_t nowMs() override { return (monotonicNs() - startNs_) / 1000000ull; }

  void sleepMs(uint32_t ms) override {
    if (ms == 0) {
      sched_yield();
      return;
    }
    timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    while (clock_nanosleep(CLOCK_MONOTONIC, 0, &ts, &ts) != 0) {
    }
  }

  bool waitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& cv, uint64_t deadlineMs,
                 const std::function<bool()>& pred) override {
    // std::condition_variable waits on the steady clock, which is CLOCK_MONOTONIC.
    const uint64_t now = nowMs();
    if (deadlineMs <= now) return pred();
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(deadlineMs - now);
    return cv.wait_until(lock, deadline, pred);
  }

 private:
  uint64_t startNs_;
};

}  // namespace

ClockBackend& realClock() {
  static RealClock clock;
  return clock;
}

void yieldThread() { sched_yield(); }

SystemTime systemLocalTimeImpl() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  tm local{};
  localtime_r(&ts.tv_sec, &local);
  SystemTime st;
  st.year = static_cast<uint16_t>(local.tm_year + 1900);
  st.month = static_cast<uint16_t>(local.tm_mon + 1);
  st.dayOfWeek = static_cast<uint16_t>(local.tm_wday);
  st.day = static_cast<uint16_t>(local.tm_mday);
  st.hour = static_cast<uint16_t>(local.tm_hour);
  st.minute = static_cast<uint16_t>(local.tm_min);
  st.second = static_cast<uint16_t>(local.tm_sec);
  st.milliseconds = static_cast<uint16_t>(ts.tv_nsec / 1000000L);
  return st;
}

bool getLocaleDateNames(LocaleDateNames& names) {
  // The names of the user's LC_TIME, read through a locale object so the
  // process's own locale stays as it is.
  locale_t loc = newlocale(LC_TIME_MASK, "", static_cast<locale_t>(0));
  if (loc == static_cast<locale_t>(0)) return false;
  static const nl_item abmon[12] = {ABMON_1, ABMON_2, ABMON_3, ABMON_4, ABMON_5, ABMON_6,
                                    ABMON_7, ABMON_8, ABMON_9, ABMON_10, ABMON_11, ABMON_12};
  static const nl_item mon[12] = {MON_1, MON_2, MON_3, MON_4, MON_5, MON_6,
                                  MON_7, MON_8, MON_9, MON_10, MON_11, MON_12};
  static const nl_item abday[7] = {ABDAY_1, ABDAY_2, ABDAY_3, ABDAY_4, ABDAY_5, ABDAY_6, ABDAY_7};
  static const nl_item day[7] = {DAY_1, DAY_2, DAY_3, DAY_4, DAY_5, DAY_6, DAY_7};
  auto get = [&](nl_item item) {
    const char* text = nl_langinfo_l(item, loc);
    return std::string(text ? text : "");
  };
  for (int i = 0; i < 12; ++i) {
    names.shortMonths[i] = get(abmon[i]);
    names.longMonths[i] = get(mon[i]);
  }
  for (int i = 0; i < 7; ++i) {
    names.shortDays[i] = get(abday[i]);
    names.longDays[i] = get(day[i]);
  }
  freelocale(loc);
  return true;
}

}  // namespace platform::os
