// The clipboard on the window layer: UTF-16 text (CF_UNICODETEXT) and
// device-independent bitmaps (CF_DIB), opened through the application
// window with nesting, changes learnt from the application's clipboard
// listener. Foreign DIB data is checked against its block before anything
// is read. Main thread only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "imaging/kvFastDIB.h"
#include "windowing/kvApplication.h"
#include "windowing/kvClipbrd.h"

namespace windowing {

class TClipboard : public TClipbrd {
 public:
  QEL_CLASSNAME(TClipboard)
  TClipboard();
  void Dispose() override;

  void ReadText(std::u16string& text) override;
  void WriteText(const std::u16string& text) override;
  void WriteBitmap(imaging::TImage* image) override;
  int32_t GetSequenceNumber() override;
  bool TextStartsWith(const std::u16string& text, bool ignoreCase) override;
  imaging::TImage* ReadBitmap() override;

  virtual void Clear();
  virtual void Close();
  virtual bool Open();
  int32_t OpenCount() const { return FOpenCount; }

 private:
  void NotifierChanged(foundation::TRefObject* sender);
  int32_t FOpenCount = 0;
  HWND FOwner = 0;
  bool FEmptied = false;
  TClipbrdNotifier* FNotifier = nullptr;
};

// The bytes of a clipboard DIB (header, colours or masks, pixels) of a DIB.
std::vector<uint8_t> DibClipboardBytes(imaging::TFastDIB* dib);
// Reads foreign DIB bytes into a new DIB: the header size (40, 52, 56, 108,
// 124), the colours-used count and the masks are honoured and every offset
// is checked against the block; nullptr for anything that does not fit.
imaging::TFastDIB* ReadClipboardDib(std::span<const uint8_t> block);

// Unit start (an application exists or not): frees any Clipboard and makes a
// TClipboard. End: frees it.
void InitWinClipbrd();
void DoneWinClipbrd();

}  // namespace windowing
