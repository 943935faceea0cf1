#include "windowing/kvClipbrd.h"

namespace windowing {

TClipbrd* Clipboard = nullptr;

TClipbrd::TClipbrd() : TEvents(nullptr, 16) { SetOwner(this); }

void TClipbrd::Start() {
  FSequence = GetSequenceNumber() - 1;
  SetTimerCallback(FCheckTimer, foundation::MethodOf<&TClipbrd::OnCheckTimer>(this));
  SetTimerInterval(FCheckTimer, 100);
}

void TClipbrd::Dispose() {
  SetTimerEnabled(FCheckTimer, false);
  StopTimer(FCheckTimer);
  TEvents::Dispose();
}

bool TClipbrd::CheckChanged() {
  const int32_t n = GetSequenceNumber();
  if (n == FSequence) return false;
  FSequence = n;
  Fire(ceClipboardChanged, nullptr);
  return true;
}

void TClipbrd::RequestCheck() {
  FCheckRequested = true;
  SetTimerEnabled(FCheckTimer, true);
}

void TClipbrd::OnCheckTimer(foundation::TRefObject*) {
  if (FCheckRequested) {
    FCheckRequested = false;
    CheckChanged();
  }
  SetTimerEnabled(FCheckTimer, false);
}

void TClipbrd::SetText(const std::u16string& text) {
  WriteText(text);
  RequestCheck();
}

bool TClipbrd::SetBitmap(imaging::TImage* image) {
  if (!image) return false;
  imaging::TBitmap* b = image->GetBitmap();
  if (!b || b->Width < 1 || b->Height < 1) return false;
  const int32_t remembered = FSequence;
  WriteBitmap(image);
  RequestCheck();
  return FSequence != remembered;
}

void DoneClipbrd() {
  if (Clipboard) {
    TClipbrd* c = Clipboard;
    Clipboard = nullptr;
    c->Free();
  }
}

}  // namespace windowing
