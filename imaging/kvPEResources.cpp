#include "imaging/kvPEResources.h"

#include <algorithm>
#include <cstring>

namespace imaging {

namespace {

uint16_t W(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t D(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24); }

bool ReadAt(foundation::TStream* s, int64_t at, void* buf, int32_t n) {
  if (at < 0) return false;
  s->SetPosition(at);
  return s->ReadBuf(buf, n) == n;
}

std::u16string Decimal(uint32_t v) {
  std::u16string out;
  for (char c : std::to_string(v)) out += static_cast<char16_t>(c);
  return out;
}

// The format has three levels (type, name, language); deeper trees are
// damaged files.
constexpr int kMaxDepth = 3;
// Entries a directory may list before the walk gives up on it.
constexpr uint32_t kMaxEntries = 65535;

}  // namespace

void TPEResourceItem::Dispose() {
  if (OwnsCached && Cached) Cached->Free();
  Cached = nullptr;
  foundation::TRefObject::Dispose();
}

TPEResourceList::TPEResourceList() { FItems = new foundation::TList; }

// The list holds the items' references.
void TPEResourceList::Clear() { FItems->Clear(); }

void TPEResourceList::Dispose() {
  if (FItems) {
    Clear();
    FItems->Free();
    FItems = nullptr;
  }
  foundation::TRefObject::Dispose();
}

TPEResourceItem* TPEResourceList::FindResource(const std::u16string& Type, const std::u16string& Name) const {
  for (int32_t i = 0; i < FItems->Count(); ++i) {
    TPEResourceItem* it = Items(i);
    if (it->Type == Type && it->Name == Name) return it;
  }
  return nullptr;
}

std::u16string TPEResourceList::EntryName(foundation::TStream* s, uint32_t field) {
  if (!(field & 0x80000000u)) return Decimal(field);
  const int64_t at = int64_t{SectionRawData} + (field & 0x7FFFFFFFu);
  uint8_t len[2];
  std::u16string name;
  if (at + 2 <= FStreamSize && ReadAt(s, at, len, 2)) {
    const uint16_t n = W(len);
    if (at + 2 + 2 * int64_t{n} <= FStreamSize) {
      std::vector<uint8_t> bytes(2 * size_t{n});
      if (n == 0 || s->ReadBuf(bytes.data(), static_cast<int32_t>(bytes.size())) == static_cast<int32_t>(bytes.size()))
        for (uint16_t i = 0; i < n; ++i) name += static_cast<char16_t>(W(&bytes[2 * size_t{i}]));
    }
  }
  return name.empty() ? Decimal(field) : name;
}

void TPEResourceList::WalkDirectory(foundation::TStream* s, uint32_t offset, int depth, std::u16string names[3],
                                    std::vector<uint32_t>& visited) {
  if (depth >= kMaxDepth) return;
  if (std::find(visited.begin(), visited.end(), offset) != visited.end()) return;  // a loop
  visited.push_back(offset);
  const int64_t dir = int64_t{SectionRawData} + offset;
  uint8_t header[16];
  if (!ReadAt(s, dir, header, 16)) return;
  const uint32_t entries = std::min<uint32_t>(uint32_t{W(header + 12)} + W(header + 14), kMaxEntries);
  for (uint32_t i = 0; i < entries; ++i) {
    const int64_t entryAt = dir + 16 + 8 * int64_t{i};
    uint8_t e[8];
    if (!ReadAt(s, entryAt, e, 8)) return;  // the list ends with the file
    const uint32_t nameField = D(e), target = D(e + 4);
    names[depth] = EntryName(s, nameField);
    if (target & 0x80000000u) {
      WalkDirectory(s, target & 0x7FFFFFFFu, depth + 1, names, visited);
    } else {
      uint8_t data[16];
      if (ReadAt(s, int64_t{SectionRawData} + target, data, 16)) {
        auto* item = new TPEResourceItem;
        item->Owner = this;
        // Fewer than three levels: the missing names stay empty.
        item->Type = names[0];
        item->Name = depth >= 1 ? names[1] : u"";
        item->Language = depth >= 2 ? names[2] : u"";
        item->Position = int64_t{SectionRawData} + int64_t{D(data)} - int64_t{SectionVirtualAddress};
        item->Size = D(data + 4);
        item->CodePage = D(data + 8);
        FItems->Add(item);
      }
    }
  }
}

bool TPEResourceList::Load(foundation::TStream* s) {
  Clear();
  if (!s) return false;
  FStreamSize = s->GetSize();
  uint8_t dos[64];
  if (!ReadAt(s, 0, dos, 64) || W(dos) != 0x5A4D) return false;
  const int64_t pe = D(dos + 0x3C);
  uint8_t sig[7];
  if (!ReadAt(s, pe, sig, 7) || W(sig) != 0x4550) return false;
  FileHeaderPosition = pe + 4;
  uint8_t fh[20];
  if (!ReadAt(s, FileHeaderPosition, fh, 20)) return false;
  Machine = W(fh);
  NumberOfSections = W(fh + 2);
  TimeDateStamp = D(fh + 4);
  PointerToSymbolTable = D(fh + 8);
  NumberOfSymbols = D(fh + 12);
  SizeOfOptionalHeader = W(fh + 16);
  Characteristics = W(fh + 18);
  OptionalHeaderPosition = FileHeaderPosition + 20;
  FileAlignment = 512;
  SectionAlignment = 4096;
  if (SizeOfOptionalHeader != 0) {
    uint8_t opt[24 + 84];
    if (!ReadAt(s, OptionalHeaderPosition, opt, 24)) return false;
    const bool pe32 = W(opt) == 0x10B;
    if (s->ReadBuf(opt + 24, pe32 ? 72 : 84) != (pe32 ? 72 : 84)) return false;
    SectionAlignment = D(opt + 32);
    FileAlignment = D(opt + 36);
  }
  int64_t at = OptionalHeaderPosition + SizeOfOptionalHeader;
  bool found = false;
  for (uint16_t i = 0; i < NumberOfSections; ++i, at += 40) {
    uint8_t sh[40];
    if (!ReadAt(s, at, sh, 40)) return false;
    if (std::memcmp(sh, ".rsrc\0\0\0", 8) == 0 && int64_t{D(sh + 20)} < FStreamSize) {
      std::memcpy(SectionHeader, sh, 40);
      SectionHeaderPosition = at;
      SectionRawData = D(sh + 20);
      SectionVirtualAddress = D(sh + 12);
      found = true;
    }
  }
  if (!found) return false;
  std::u16string names[3];
  std::vector<uint32_t> visited;
  WalkDirectory(s, 0, 0, names, visited);
  return true;
}

}  // namespace imaging
