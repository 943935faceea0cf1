// Composite descriptions: a text that stands where an audio file name stands,
// the fixed identifier followed by an INI text listing items to mix (file,
// place on the composite's time line, start in the file, length) with their
// volume envelopes and a master envelope. The INI text is in the escaped
// one-line form (line ends as backslash "n", backslashes doubled), so a
// description fits in one INI value. This unit reads and writes them and
// compiles the envelopes into byte-positioned segments of the output format.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "audio/MusicConverters.h"
#include "foundation/SysObj.h"
#include "foundation/kvIni.h"

namespace audio {

inline constexpr std::u16string_view kCompositeId = u"9213AB40-17BB-458F-9C4C-1806F44BEB65";

// The byte position of a time in the output format (176,400 bytes per
// second): floor(t x 176400 / 4000) x 4, always a whole frame.
int64_t CompositeBytes(int64_t ms);

struct TVolumeItem {
  int32_t Time = 0;    // ms from the item's start
  int32_t Volume = 0;  // per mille, 1000 = unchanged
};

// One compiled segment, ending at a point.
struct TVolumeItem2 {
  int64_t Position = 0;  // byte offset, a multiple of 4
  double Slope = 0.0;    // change per output frame, in units of 1.0
  bool IsLast = false;
  double Volume = 0.0;   // the point's volume / 1000
  bool Flat = false;
};

class TVolumeParams : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TVolumeParams)
  void AddPoint(int32_t Time, int32_t Volume) { Points.push_back({Time, Volume}); }
  void Compile(int32_t D);
  void Seek(int64_t p);
  // Moves Current one frame on at byte position p; false once past the last
  // segment (Current then stays).
  bool Step(int64_t p);

  std::vector<TVolumeItem> Points;
  std::vector<TVolumeItem2> Segments;
  double Current = 1.0;
  bool Generated = false;
  int32_t SegmentIndex = 0;
  bool IsUnity = true;
};

class TVolumeParamsList : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TVolumeParamsList)
  explicit TVolumeParamsList(bool addEdgeFades) : AddEdgeFades(addEdgeFades) {}
  void Dispose() override;

  TVolumeParams* AddEnvelope();
  void Load(const foundation::TIniFile* Ini, std::u16string_view Name);
  void Save(foundation::TIniFile* Ini, std::u16string_view Name) const;
  void Compile(int32_t Duration);
  void Seek(int64_t Position);
  void Advance(int64_t Position, bool& AllAtEnd);
  double Product(bool& AllUnity) const;
  int32_t Count() const { return static_cast<int32_t>(Envelopes.size()); }
  // Envelopes read from a description (not made by Compile).
  int32_t SavedCount() const;

  std::vector<TVolumeParams*> Envelopes;
  bool AddEdgeFades;
};

class TCompositeItem : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TCompositeItem)
  TCompositeItem();
  void Dispose() override;

  std::u16string FileName;
  int32_t TimeLine = 0;
  uint32_t BeginTime = 0;
  int32_t Duration = 0;
  TVolumeParamsList* Envelopes = nullptr;
};

class TCompositeParams : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TCompositeParams)
  void Dispose() override;
  // The class of the items it makes.
  virtual TCompositeItem* NewItem() { return new TCompositeItem; }

  TCompositeItem* AddItem(const std::u16string& FileName, int32_t TimeLine);
  void RemoveItem(TCompositeItem* Item);
  void Clear();
  // True when the description has a duration of at least 1 and an item.
  bool Load(std::u16string_view Description);
  std::u16string ToDescription() const;
  TVolumeParams* GetMainEnvelope();

  std::vector<TCompositeItem*> Items;
  int32_t Duration = 0;
  TVolumeParamsList* MainVolume = nullptr;
};

// An item while it plays: its source, converter and place in the block.
class TCompositeItem2 : public TCompositeItem {
 public:
  QEL_CLASSNAME(TCompositeItem2)
  void Dispose() override;
  // Opens the source as the music player does (the media-info hook, then
  // the file's own probe; composites through the converter for virtual
  // names) with a converter delivering the program's output format.
  bool Open();
  void Close();

  void* StreamOwner = nullptr;  // the device player whose stream events open files
  TWavConverter* Converter = nullptr;
  TMediaInfo Info{};
  foundation::TStream* Stream = nullptr;
  bool Opened = false;
  int32_t StartOffset = -1;
  // The length its envelopes were compiled for, ms.
  int32_t Length = 0;
};

class TCompositeParams2 : public TCompositeParams {
 public:
  QEL_CLASSNAME(TCompositeParams2)
  TCompositeItem* NewItem() override { return new TCompositeItem2; }
};

// Plays a composite description: opens each item up to 5 s before it is
// heard, mixes the items under their envelopes into the output format in
// blocks of 10,000 bytes and applies the master envelope. An item that
// cannot be opened, or whose compiled length is not positive, is left out
// (until the next seek).
class TCompositeConverter : public TWavConverter {
 public:
  QEL_CLASSNAME(TCompositeConverter)
  static constexpr uint32_t kBlockBytes = 10000;

  TCompositeConverter(void* streamOwner, const std::u16string& description);
  void Dispose() override;

  bool Open(const TMediaInfo& mediaInfo) override;
  bool Seek(double ms) override;
  // Produces the next block into InputBuffer; false once the composite ended.
  bool ReadInput() override;

  std::vector<TCompositeItem2*> Waiting, Active, Playing, Done;
  std::u16string Description;
  TCompositeParams2* Params = nullptr;
  void* StreamOwner = nullptr;
  int64_t Position = 0;
  std::vector<int32_t> MixBuffer;
  TVolumeParamsList* MainVolume = nullptr;
  bool Sought = false;

 private:
  void OpenAhead();
  void MixItem(TCompositeItem2* item, int64_t blockStart, bool& ended);
};

// The three hooks of detection and opening (virtual names, the media info
// of a description, the converter for a name); cleared again by Done.
void InitCompositeDecoder();
void DoneCompositeDecoder();

}  // namespace audio
