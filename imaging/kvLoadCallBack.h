// The process-wide progress method of long image and file operations. The
// engine switches its mode so that loading threads run freely, yield, sleep
// briefly or stop.
#pragma once

#include <cstdint>

#include "imaging/kvBitmap.h"

namespace imaging {

// Mode 0 continue, 1 yield, 2 sleep, 3 abort.
void SetLoadCallBackMode(uint8_t Mode);
uint8_t GetLoadCallBackMode();
// The progress routine of the current mode: false asks the caller to stop.
bool LoadCallBack(float Fraction);
// LoadCallBack as a progress method for bitmaps and stores.
TProgressMethod LoadCallBackMethod();

bool LoadCallBackContinue(float Fraction);
bool LoadCallBackYield(float Fraction);
bool LoadCallBackSleep(float Fraction);
bool LoadCallBackAbort(float Fraction);

// The platform services the throttle uses (a pause of 0 or 1 ms and the
// process priority class), replaceable by tests. Answers the previous set.
struct TLoadThrottleServices {
  void (*Pause)(uint32_t Ms) = nullptr;
  bool (*SetPriorityClass)(uint32_t PriorityClass) = nullptr;
};
TLoadThrottleServices SetLoadThrottleServices(const TLoadThrottleServices& Services);

// Start-up: mode 0.
void InitLoadCallBack();

}  // namespace imaging
