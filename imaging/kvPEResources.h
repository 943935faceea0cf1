// The resources of an executable or library read straight from its file
// (the PE/COFF layout): every resource of the resource section with its
// type, name, language and the file position of its data. Malformed files
// load as false or with the resources that could be read; a directory that
// refers back to itself is walked once.
#pragma once

#include <cstdint>
#include <string>

#include "foundation/kvLists.h"
#include "foundation/kvStream.h"

namespace imaging {

class TPEResourceList;

class TPEResourceItem : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TPEResourceItem)
  void Dispose() override;
  foundation::TRefObject* Cached = nullptr;
  bool OwnsCached = false;
  TPEResourceList* Owner = nullptr;
  std::u16string Type, Language, Name;
  int64_t Position = 0;
  uint32_t Size = 0;
  uint32_t CodePage = 0;
};

class TPEResourceList : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TPEResourceList)
  TPEResourceList();
  void Dispose() override;

  bool Load(foundation::TStream* Stream);
  int32_t Count() const { return FItems->Count(); }
  TPEResourceItem* Items(int32_t Index) const { return static_cast<TPEResourceItem*>(FItems->GetItem(Index)); }
  TPEResourceItem* FindResource(const std::u16string& Type, const std::u16string& Name) const;

  // The file header fields.
  uint16_t Machine = 0, NumberOfSections = 0;
  uint32_t TimeDateStamp = 0, PointerToSymbolTable = 0, NumberOfSymbols = 0;
  uint16_t SizeOfOptionalHeader = 0, Characteristics = 0;
  int64_t FileHeaderPosition = 0;
  uint8_t SectionHeader[40] = {};
  int64_t SectionHeaderPosition = 0;
  uint32_t SectionRawData = 0, SectionVirtualAddress = 0;
  int64_t OptionalHeaderPosition = 0;
  uint32_t FileAlignment = 512, SectionAlignment = 4096;

 private:
  void Clear();
  void WalkDirectory(foundation::TStream* Stream, uint32_t Offset, int Depth, std::u16string Names[3],
                     std::vector<uint32_t>& Visited);
  std::u16string EntryName(foundation::TStream* Stream, uint32_t NameField);
  foundation::TList* FItems = nullptr;
  int64_t FStreamSize = 0;
};

}  // namespace imaging
