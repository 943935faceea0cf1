// The process-wide clipboard: an event table announcing changes (event 1)
// with abstract reads and writes of text and images. A write is announced at
// most once: by the system's change notification, or on the next tick of a
// 100 ms check. Main thread only.
#pragma once

#include <cstdint>
#include <string>

#include "imaging/kvImage.h"
#include "windowing/kvEvents.h"
#include "windowing/kvTimers.h"

namespace windowing {

constexpr int32_t ceClipboardChanged = 1;

class TClipbrd : public TEvents {
 public:
  QEL_CLASSNAME(TClipbrd)
  TClipbrd();
  // The sequence number is read first (a constructor cannot reach the
  // derived class's GetSequenceNumber): call right after construction.
  void Start();
  void Dispose() override;

  virtual void ReadText(std::u16string& text) = 0;
  virtual void WriteText(const std::u16string& text) = 0;
  virtual void WriteBitmap(imaging::TImage* image) = 0;
  virtual int32_t GetSequenceNumber() = 0;
  virtual bool TextStartsWith(const std::u16string& text, bool ignoreCase) = 0;
  // A new image (the caller's reference), or nullptr.
  virtual imaging::TImage* ReadBitmap() = 0;

  bool CheckChanged();
  void RequestCheck();
  void SetText(const std::u16string& text);
  bool SetBitmap(imaging::TImage* image);
  TTimerRec& CheckTimer() { return FCheckTimer; }

 private:
  void OnCheckTimer(foundation::TRefObject* sender);
  TTimerRec FCheckTimer;
  bool FCheckRequested = false;
  int32_t FSequence = 0;
};

// The clipboard every caller uses (none until a platform unit makes one).
extern TClipbrd* Clipboard;
// Unit end: frees Clipboard.
void DoneClipbrd();

}  // namespace windowing
