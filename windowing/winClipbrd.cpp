#include "windowing/winClipbrd.h"

#include <cstring>

#include "foundation/kvCaseFolding.h"
#include "imaging/SysBitmapStore.h"

namespace windowing {

namespace pw = platform::window;

namespace {

TClipboard* g_own = nullptr;

uint32_t U32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24); }
int32_t I32(const uint8_t* p) { return static_cast<int32_t>(U32(p)); }
uint16_t U16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

}  // namespace

TClipboard::TClipboard() {
  FNotifier = new TClipbrdNotifier;
  FNotifier->OnChange = foundation::MethodOf<&TClipboard::NotifierChanged>(this);
}

void TClipboard::NotifierChanged(foundation::TRefObject*) { CheckChanged(); }

void TClipboard::Dispose() {
  if (FNotifier) {
    FNotifier->Free();
    FNotifier = nullptr;
  }
  if (Clipboard == this) Clipboard = nullptr;
  if (g_own == this) g_own = nullptr;
  TClipbrd::Dispose();
}

bool TClipboard::Open() {
  if (FOpenCount == 0) {
    TCustomWinApplication* app = CurrentCustomWinApplication();
    FOwner = app ? app->GetHandle() : 0;
    if (!pw::openClipboard(FOwner)) return false;
    FEmptied = false;
  }
  ++FOpenCount;
  return true;
}

void TClipboard::Close() {
  if (FOpenCount == 0) return;
  if (--FOpenCount == 0) {
    pw::closeClipboard();
    FOwner = 0;
  }
}

void TClipboard::Clear() {
  if (!Open()) return;
  pw::emptyClipboard();
  Close();
}

void TClipboard::ReadText(std::u16string& text) {
  text.clear();
  if (!Open()) return;
  if (const pw::HGLOBAL h = pw::getClipboardData(pw::CF_UNICODETEXT)) {
    const auto* p = static_cast<const char16_t*>(pw::globalLock(h));
    const size_t n = pw::globalSize(h) / 2;
    size_t len = 0;
    while (p && len < n && p[len] != 0) ++len;  // never past the block
    if (p) text.assign(p, len);
    pw::globalUnlock(h);
  }
  Close();
}

void TClipboard::WriteText(const std::u16string& text) {
  if (!Open()) return;
  const pw::HGLOBAL h = pw::globalAlloc(pw::GMEM_MOVEABLE | pw::GMEM_DDESHARE, (text.size() + 1) * 2);
  try {
    auto* p = static_cast<char16_t*>(pw::globalLock(h));
    std::memcpy(p, text.c_str(), (text.size() + 1) * 2);
    Clear();
    pw::setClipboardData(pw::CF_UNICODETEXT, h);
  } catch (...) {
    pw::globalFree(h);
    pw::globalUnlock(h);
    Close();
    throw;
  }
  pw::globalUnlock(h);
  Close();
}

bool TClipboard::TextStartsWith(const std::u16string& text, bool ignoreCase) {
  bool result = false;
  if (!Open()) return false;
  if (const pw::HGLOBAL h = pw::getClipboardData(pw::CF_UNICODETEXT)) {
    const auto* p = static_cast<const char16_t*>(pw::globalLock(h));
    const size_t n = pw::globalSize(h) / 2;
    size_t len = 0;
    while (p && len < n && len < text.size() && p[len] != 0) ++len;
    if (p && len == text.size()) {
      const std::u16string head(p, len);
      result = ignoreCase ? foundation::SameText(head, text) : head == text;
    }
    pw::globalUnlock(h);
  }
  Close();
  return result;
}

std::vector<uint8_t> DibClipboardBytes(imaging::TFastDIB* dib) {
  const imaging::TBitmapInfoHeader& hd = dib->Info.Header;
  size_t headerSize = 40;
  if (hd.biBitCount >= 1 && hd.biBitCount <= 8)
    headerSize = 40 + 4 * (size_t{1} << hd.biBitCount);
  else if ((hd.biBitCount == 16 || hd.biBitCount == 32) && hd.biCompression == imaging::BI_BITFIELDS)
    headerSize = 52;
  const size_t image = static_cast<size_t>(dib->Pitch) * static_cast<size_t>(dib->AbsHeight);
  std::vector<uint8_t> out(headerSize + image);
  imaging::TBitmapInfoHeader h = hd;
  h.biSize = 40;
  h.biSizeImage = static_cast<uint32_t>(image);
  std::memcpy(out.data(), &h, 40);
  std::memcpy(out.data() + 40, dib->Info.Colors, headerSize - 40);
  if (image) std::memcpy(out.data() + headerSize, dib->Bits, image);
  return out;
}

void TClipboard::WriteBitmap(imaging::TImage* image) {
  if (!image || !image->Store) return;
  imaging::TBitmap* b = image->Store->GetBitmap(0, nullptr, imaging::TDibBitmap::StaticClass());
  auto* dibBitmap = dynamic_cast<imaging::TDibBitmap*>(b);
  if (!dibBitmap || !dibBitmap->DIB || dibBitmap->Width <= 0 || dibBitmap->Height <= 0) return;
  if (!Open()) return;
  if (!FEmptied) {
    Clear();
    FEmptied = true;
  }
  const std::vector<uint8_t> bytes = DibClipboardBytes(dibBitmap->DIB);
  const pw::HGLOBAL h = pw::globalAlloc(pw::GMEM_MOVEABLE | pw::GMEM_DDESHARE, bytes.size());
  std::memcpy(pw::globalLock(h), bytes.data(), bytes.size());
  pw::setClipboardData(pw::CF_DIB, h);
  pw::globalUnlock(h);
  Close();
}

imaging::TFastDIB* ReadClipboardDib(std::span<const uint8_t> block) {
  if (block.size() < 40) return nullptr;
  const uint8_t* d = block.data();
  const uint32_t hs = U32(d);
  if (hs != 40 && hs != 52 && hs != 56 && hs != 108 && hs != 124) return nullptr;
  if (block.size() < hs) return nullptr;
  const int32_t width = I32(d + 4), height = I32(d + 8);
  const uint16_t bits = U16(d + 14);
  const uint32_t compression = U32(d + 16), sizeImage = U32(d + 20), clrUsed = U32(d + 32);
  if (width <= 0 || height == 0 || height == INT32_MIN) return nullptr;
  const int64_t absHeight = height < 0 ? -int64_t{height} : height;
  if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) return nullptr;
  if (!imaging::BitmapSizeAllowed(width, absHeight, bits)) return nullptr;
  const bool rle = compression == imaging::BI_RLE8 || compression == imaging::BI_RLE4;
  if (compression == imaging::BI_RLE8 && bits != 8) return nullptr;
  if (compression == imaging::BI_RLE4 && bits != 4) return nullptr;
  if (rle && height < 0) return nullptr;
  if (compression == imaging::BI_BITFIELDS && bits != 16 && bits != 32) return nullptr;
  if (compression > imaging::BI_BITFIELDS) return nullptr;
  imaging::TBitmapInfo info;
  std::memcpy(&info.Header, d, 40);
  info.Header.biSize = 40;
  size_t offset = hs;
  if (compression == imaging::BI_BITFIELDS) {
    // Masks inside a longer header, else right after the 40 bytes.
    const size_t at = hs >= 52 ? 40 : hs;
    if (block.size() < at + 12) return nullptr;
    for (int i = 0; i < 3; ++i) info.Colors[i] = U32(d + at + 4 * i);
    if (hs == 40) offset += 12;
  }
  if (bits <= 8) {
    const uint32_t maxColors = 1u << bits;
    if (clrUsed > maxColors) return nullptr;
    const uint32_t colors = clrUsed ? clrUsed : maxColors;
    if (block.size() < offset + 4 * size_t{colors}) return nullptr;
    for (uint32_t i = 0; i < colors; ++i) info.Colors[i] = U32(d + offset + 4 * i);
    offset += 4 * size_t{colors};
  }
  const size_t rowSize = ((static_cast<size_t>(bits) * static_cast<size_t>(width) + 31) / 32) * 4;
  const size_t rawSize = rowSize * static_cast<size_t>(absHeight);
  size_t dataSize = rle ? (sizeImage ? sizeImage : block.size() - offset) : rawSize;
  if (offset > block.size() || block.size() - offset < dataSize) return nullptr;
  auto* dib = new imaging::TFastDIB;
  dib->SetSizeFromInfo(info);
  if (!dib->Bits || static_cast<size_t>(dib->Pitch) * static_cast<size_t>(dib->AbsHeight) < (rle ? 0 : rawSize)) {
    dib->Free();
    return nullptr;
  }
  if (bits <= 8) std::memcpy(dib->Palette, info.Colors, sizeof(info.Colors));
  const std::span<const uint8_t> pixels = block.subspan(offset, dataSize);
  if (compression == imaging::BI_RLE8)
    dib->DecodeRLE8(pixels);
  else if (compression == imaging::BI_RLE4)
    dib->DecodeRLE4(pixels);
  else
    std::memcpy(dib->Bits, pixels.data(), rawSize);
  return dib;
}

imaging::TImage* TClipboard::ReadBitmap() {
  imaging::TFastDIB* dib = nullptr;
  if (!Open()) return nullptr;
  if (const pw::HGLOBAL h = pw::getClipboardData(pw::CF_DIB)) {
    const auto* p = static_cast<const uint8_t*>(pw::globalLock(h));
    if (p) dib = ReadClipboardDib(std::span<const uint8_t>(p, pw::globalSize(h)));
    pw::globalUnlock(h);
  }
  Close();
  if (!dib) return nullptr;
  if (dib->Width() <= 0 || dib->AbsHeight <= 0) {
    dib->Free();
    return nullptr;
  }
  imaging::TDibBitmap* bitmap = imaging::CreateDibBitmapOf(dib, true);
  return imaging::WrapBitmapAsImage(bitmap, true, u"");
}

int32_t TClipboard::GetSequenceNumber() { return static_cast<int32_t>(pw::getClipboardSequenceNumber()); }

void InitWinClipbrd() {
  DoneClipbrd();
  g_own = new TClipboard;
  g_own->Start();
  Clipboard = g_own;
}

void DoneWinClipbrd() {
  if (g_own) g_own->Free();
}

}  // namespace windowing
