#include "audio/CompositeDecoder.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "audio/MusicGeneral.h"
#include "foundation/kvIniParser.h"
#include "foundation/kvIniWriter.h"
#include "foundation/kvUTF8.h"

namespace audio {

using foundation::TIniFile;
using foundation::TIniItem;
using foundation::TIniList;
using foundation::TIniSection;

int64_t CompositeBytes(int64_t ms) {
  // 176,400 / 4000 = 44.1 frames per ms.
  double frames = std::floor(static_cast<double>(ms) * 176400.0 / 4000.0);
  return static_cast<int64_t>(frames) * 4;
}

namespace {

std::u16string Dec(int64_t v) {
  std::string s = std::to_string(v);
  return std::u16string(s.begin(), s.end());
}

int32_t ReadInt(const TIniFile* ini, std::u16string_view section, std::u16string_view key, int32_t def) {
  TIniSection* s = TIniFile::FindSection(ini, section);
  if (!s) return def;
  return TIniItem::GetInteger(TIniList::FindKey(s, key), def);
}

void WriteInt(TIniFile* ini, std::u16string_view section, std::u16string_view key, int64_t value) {
  TIniList::WriteString(TIniFile::ForceSection(ini, section), key, Dec(value));
}

}  // namespace

// ---------------------------------------------------------------- envelopes

void TVolumeParams::Compile(int32_t D) {
  std::vector<TVolumeItem> pts = Points;
  if (!pts.empty()) pts.push_back({D, pts.back().Volume});
  std::stable_sort(pts.begin(), pts.end(), [](const TVolumeItem& a, const TVolumeItem& b) { return a.Time < b.Time; });
  std::vector<TVolumeItem> kept;
  for (size_t i = 0; i < pts.size(); ++i) {
    if (i + 1 < pts.size() && pts[i + 1].Time == pts[i].Time) continue;  // the later of equal times stays
    kept.push_back(pts[i]);
  }
  Segments.clear();
  int32_t v = kept.empty() ? 1000 : kept.front().Volume;
  int64_t previous = 0;
  for (size_t k = 0; k < kept.size(); ++k) {
    TVolumeItem2 s;
    s.Position = CompositeBytes(kept[k].Time);
    if (s.Position == previous) {
      s.Slope = 0.0;
      s.Flat = true;
    } else {
      double frames = static_cast<double>(s.Position - previous) / 4.0;
      s.Slope = (kept[k].Volume - v) / (frames * 1000.0);
      s.Flat = v == kept[k].Volume;
    }
    s.IsLast = k + 1 == kept.size();
    s.Volume = kept[k].Volume / 1000.0;
    v = kept[k].Volume;
    previous = s.Position;
    Segments.push_back(s);
  }
  SegmentIndex = 0;
  Current = kept.empty() ? 1.0 : kept.front().Volume / 1000.0;
  IsUnity = Current > 0.99 && Current < 1.01;
}

void TVolumeParams::Seek(int64_t p) {
  Current = 0.0;
  for (size_t k = 0; k < Segments.size(); ++k) {
    if (Segments[k].Position > p) {
      Current = Segments[k].Volume - static_cast<double>(Segments[k].Position - p) / 4.0 * Segments[k].Slope;
      SegmentIndex = static_cast<int32_t>(k);
      break;
    }
  }
  IsUnity = Current > 0.99 && Current < 1.01;
}

bool TVolumeParams::Step(int64_t p) {
  if (p < 0) {
    Current = Points.empty() ? 1.0 : Points.front().Volume / 1000.0;
    IsUnity = Current > 0.99 && Current < 1.01;
    return true;
  }
  auto contains = [&](size_t k) {
    return Segments[k].Position > p && (k == 0 || Segments[k - 1].Position <= p);
  };
  size_t k = static_cast<size_t>(std::max(SegmentIndex, 0));
  if (k >= Segments.size() || !contains(k)) {
    k = 0;
    while (k < Segments.size() && Segments[k].Position <= p) ++k;
    if (k >= Segments.size()) return false;  // past the last point: at the end
    SegmentIndex = static_cast<int32_t>(k);
  }
  if (!Segments[k].Flat) Current += Segments[k].Slope;
  IsUnity = Current > 0.99 && Current < 1.01;
  return true;
}

void TVolumeParamsList::Dispose() {
  for (TVolumeParams* e : Envelopes) e->Free();
  Envelopes.clear();
  TRefObject::Dispose();
}

TVolumeParams* TVolumeParamsList::AddEnvelope() {
  Envelopes.push_back(new TVolumeParams);
  return Envelopes.back();
}

int32_t TVolumeParamsList::SavedCount() const {
  return static_cast<int32_t>(std::count_if(Envelopes.begin(), Envelopes.end(), [](auto* e) { return !e->Generated; }));
}

void TVolumeParamsList::Load(const TIniFile* Ini, std::u16string_view Name) {
  int32_t count = ReadInt(Ini, Name, u"FadeCount", 0);
  if (count < 0 || count > 1000000) return;
  for (int32_t k = 0; k < count; ++k) {
    TVolumeParams* e = AddEnvelope();
    for (int32_t j = 0;; ++j) {
      std::u16string section = u"Vol_" + std::u16string(Name) + u"_" + Dec(k) + u"_" + Dec(j);
      int32_t volume = ReadInt(Ini, section, u"1", -1);
      if (volume < 0) break;
      e->AddPoint(ReadInt(Ini, section, u"0", 0), volume);
    }
  }
}

void TVolumeParamsList::Save(TIniFile* Ini, std::u16string_view Name) const {
  WriteInt(Ini, Name, u"FadeCount", SavedCount());
  int32_t k = 0;
  for (const TVolumeParams* e : Envelopes) {
    if (e->Generated) continue;
    for (size_t j = 0; j < e->Points.size(); ++j) {
      std::u16string section = u"Vol_" + std::u16string(Name) + u"_" + Dec(k) + u"_" + Dec(static_cast<int64_t>(j));
      WriteInt(Ini, section, u"0", e->Points[j].Time);
      WriteInt(Ini, section, u"1", e->Points[j].Volume);
    }
    ++k;
  }
}

void TVolumeParamsList::Compile(int32_t Duration) {
  for (auto it = Envelopes.begin(); it != Envelopes.end();) {
    if ((*it)->Generated) {
      (*it)->Free();
      it = Envelopes.erase(it);
    } else {
      ++it;
    }
  }
  for (TVolumeParams* e : Envelopes) e->Compile(Duration);
  if (AddEdgeFades) {
    TVolumeParams* e = AddEnvelope();
    e->Generated = true;
    e->AddPoint(0, 0);
    e->AddPoint(10, 1000);
    e->AddPoint(Duration - 10, 1000);
    e->AddPoint(Duration, 0);
    e->Compile(Duration);
  }
}

void TVolumeParamsList::Seek(int64_t Position) {
  for (TVolumeParams* e : Envelopes) e->Seek(Position);
}

void TVolumeParamsList::Advance(int64_t Position, bool& AllAtEnd) {
  AllAtEnd = !Envelopes.empty();
  for (TVolumeParams* e : Envelopes)
    if (e->Step(Position)) AllAtEnd = false;
}

double TVolumeParamsList::Product(bool& AllUnity) const {
  double product = 1.0;
  AllUnity = true;
  for (const TVolumeParams* e : Envelopes) {
    if (e->IsUnity) continue;
    AllUnity = false;
    product *= e->Current;
  }
  return product;
}

// ---------------------------------------------------------------- items

TCompositeItem::TCompositeItem() : Envelopes(new TVolumeParamsList(true)) {}

void TCompositeItem::Dispose() {
  foundation::FreeAndNil(Envelopes);
  TRefObject::Dispose();
}

void TCompositeParams::Dispose() {
  Clear();
  TRefObject::Dispose();
}

TCompositeItem* TCompositeParams::AddItem(const std::u16string& FileName, int32_t TimeLine) {
  TCompositeItem* item = NewItem();
  item->FileName = FileName;
  item->TimeLine = TimeLine;
  Items.push_back(item);
  return item;
}

void TCompositeParams::RemoveItem(TCompositeItem* Item) {
  auto it = std::find(Items.begin(), Items.end(), Item);
  if (it == Items.end()) return;
  Items.erase(it);
  Item->Free();
}

void TCompositeParams::Clear() {
  for (TCompositeItem* item : Items) item->Free();
  Items.clear();
  foundation::FreeAndNil(MainVolume);
  Duration = 0;
}

TVolumeParams* TCompositeParams::GetMainEnvelope() {
  if (!MainVolume) MainVolume = new TVolumeParamsList(false);
  return MainVolume->AddEnvelope();
}

std::u16string TCompositeParams::ToDescription() const {
  foundation::TRef<TIniFile> ini = foundation::TRef<TIniFile>::Adopt(new TIniFile);
  WriteInt(ini.Get(), u"Main", u"Duration", Duration);
  for (size_t i = 0; i < Items.size(); ++i) {
    const TCompositeItem* item = Items[i];
    std::u16string name = Dec(static_cast<int64_t>(i));
    TIniList::WriteString(TIniFile::ForceSection(ini.Get(), name), u"FileName", item->FileName);
    WriteInt(ini.Get(), name, u"TimeLine", item->TimeLine);
    WriteInt(ini.Get(), name, u"BeginTime", item->BeginTime);
    WriteInt(ini.Get(), name, u"Duration", item->Duration);
    item->Envelopes->Save(ini.Get(), name);
  }
  if (MainVolume && MainVolume->SavedCount() > 0) MainVolume->Save(ini.Get(), u"MainVolume");
  // The one-line form (line ends and backslashes escaped), so a description
  // fits in one INI value and reads back through the same unescaping.
  std::vector<uint8_t> bytes = foundation::SaveIniToBytes(ini.Get());
  std::u16string text;
  if (!foundation::UTF8BytesToUnicode(bytes.data(), bytes.size(), 0, static_cast<int>(bytes.size()), text)) return {};
  return std::u16string(kCompositeId) + text;
}

bool TCompositeParams::Load(std::u16string_view Description) {
  Clear();
  int32_t shift = 0;
  // A block starts at an identifier that is not a value: a nested composite
  // item's file name (after "=") belongs to the block holding it.
  auto blockAt = [&](size_t from) {
    size_t k = Description.find(kCompositeId, from);
    while (k != std::u16string_view::npos) {
      size_t b = k;
      while (b > 0 && Description[b - 1] == u' ') --b;
      if (b == 0 || Description[b - 1] != u'=') break;
      k = Description.find(kCompositeId, k + kCompositeId.size());
    }
    return k;
  };
  size_t at = Description.find(kCompositeId);
  while (at != std::u16string_view::npos) {
    size_t begin = at + kCompositeId.size();
    size_t next = blockAt(begin);
    std::u16string text(Description.substr(begin, next == std::u16string_view::npos ? std::u16string_view::npos
                                                                                      : next - begin));
    std::string utf8 = foundation::UnicodeToUTF8(text);
    foundation::TRef<TIniFile> ini = foundation::TRef<TIniFile>::Adopt(new TIniFile);
    foundation::LoadIniFromBytes(ini.Get(), std::vector<uint8_t>(utf8.begin(), utf8.end()));
    for (int32_t i = 0;; ++i) {
      std::u16string name = Dec(i);
      TIniSection* s = TIniFile::FindSection(ini.Get(), name);
      TIniItem* file = s ? TIniList::FindKey(s, u"FileName") : nullptr;
      if (!file) break;
      TCompositeItem* item = AddItem(TIniItem::GetValue(file), ReadInt(ini.Get(), name, u"TimeLine", 0) + shift);
      item->BeginTime = static_cast<uint32_t>(ReadInt(ini.Get(), name, u"BeginTime", 0));
      item->Duration = ReadInt(ini.Get(), name, u"Duration", 0);
      item->Envelopes->Load(ini.Get(), name);
    }
    if (TIniFile::FindSection(ini.Get(), u"MainVolume")) {
      foundation::FreeAndNil(MainVolume);
      MainVolume = new TVolumeParamsList(false);
      MainVolume->Load(ini.Get(), u"MainVolume");
    }
    shift += ReadInt(ini.Get(), u"Main", u"Duration", 0);
    at = next;
  }
  Duration = shift;
  return Duration >= 1 && !Items.empty();
}

// ---------------------------------------------------------------- playing

void TCompositeItem2::Dispose() {
  Close();
  TCompositeItem::Dispose();
}

void TCompositeItem2::Close() {
  foundation::FreeAndNil(Converter);
  if (Stream) {
    auto* player = static_cast<TMusicPlayer*>(StreamOwner);
    StreamWrapper->CloseStream(StreamOwner, Stream, player ? player->GetCloseStreamEvent() : TCloseStreamEvent{});
    Stream = nullptr;
  }
  Opened = false;
}

bool TCompositeItem2::Open() {
  if (Opened) return true;
  auto* player = static_cast<TMusicPlayer*>(StreamOwner);
  TOpenStreamEvent open = player ? player->GetOpenStreamEvent() : TOpenStreamEvent{};
  std::memset(&Info, 0, sizeof(Info));
  bool known = MediaInfoHook && MediaInfoHook(FileName, Info);
  bool isVirtual = IsVirtualNameHook && IsVirtualNameHook(FileName);
  if (!isVirtual) {
    Stream = StreamWrapper->OpenStream(StreamOwner, StripNameSuffix(FileName), open);
    if (!Stream) return false;
    if (!known) known = TMediaInfoExtractor::GetMediaInfo(Stream, FileName, Info);
  }
  if (known && Info.FormatCode != mfcUnknown) {
    if (isVirtual)
      Converter = ConverterByNameHook ? ConverterByNameHook(StreamOwner, FileName) : nullptr;
    else
      Converter = CreateConverterHook ? CreateConverterHook(Stream, FileName, Info) : nullptr;
  }
  if (Converter) {
    Converter->Stream = Stream;
    if (Converter->Open(Info)) {
      if (!SameWaveFormat(Converter->OutputFormat, MusicOutputFormat)) Converter->SetOutputFormat(MusicOutputFormat);
      Opened = true;
      return true;
    }
  }
  Close();
  return false;
}

TCompositeConverter::TCompositeConverter(void* streamOwner, const std::u16string& description)
    : Description(description), Params(new TCompositeParams2), StreamOwner(streamOwner) {}

void TCompositeConverter::Dispose() {
  Waiting.clear();
  Active.clear();
  Playing.clear();
  Done.clear();
  MainVolume = nullptr;  // the params' own
  foundation::FreeAndNil(Params);
  TWavConverter::Dispose();
}

bool TCompositeConverter::Open(const TMediaInfo& mediaInfo) {
  MediaInfo = mediaInfo;
  OutputFormat = MusicOutputFormat;
  InputBuffer->Format = MusicOutputFormat;
  OutputBuffer->Format = MusicOutputFormat;
  InputBuffer->Grow(kBlockBytes);
  OutputBuffer->Grow(kBlockBytes);
  MixBuffer.assign(kBlockBytes / 2, 0);
  if (!Params->Load(Description)) return false;
  for (TCompositeItem* it : Params->Items) {
    auto* item = static_cast<TCompositeItem2*>(it);
    item->StreamOwner = StreamOwner;
    item->Length = std::min(item->Duration, Params->Duration - item->TimeLine);
    item->Envelopes->Compile(item->Length);
    Waiting.push_back(item);
  }
  MainVolume = Params->MainVolume;
  if (MainVolume) MainVolume->Compile(Params->Duration);
  std::stable_sort(Waiting.begin(), Waiting.end(),
                   [](const TCompositeItem2* a, const TCompositeItem2* b) { return a->TimeLine < b->TimeLine; });
  return true;
}

bool TCompositeConverter::Seek(double ms) {
  auto a = static_cast<int32_t>(std::llround(ms));
  Sought = true;
  InputBuffer->Used = 0;
  OutputBuffer->Used = 0;
  for (auto* list : {&Active, &Playing, &Done})
    for (TCompositeItem2* item : *list) Waiting.push_back(item);
  Active.clear();
  Playing.clear();
  Done.clear();
  std::stable_sort(Waiting.begin(), Waiting.end(),
                   [](const TCompositeItem2* x, const TCompositeItem2* y) { return x->TimeLine < y->TimeLine; });
  Position = CompositeBytes(a);
  DecodedMs = a;
  std::vector<TCompositeItem2*> still;
  size_t k = 0;
  for (; k < Waiting.size(); ++k) {
    TCompositeItem2* item = Waiting[k];
    item->StartOffset = -1;
    // A length that is not positive (a later linked start at or before this
    // item's start) plays nothing: it is never opened.
    int32_t end = item->TimeLine + item->Length;
    if (item->Length <= 0 || a >= end) {
      item->Close();
      Done.push_back(item);
      continue;
    }
    bool begun = item->TimeLine < a;
    if (!begun && item->TimeLine - 5000 > a) break;  // later items begin later
    if (!item->Open()) {
      // Left out until the next seek, not retried on every block.
      Done.push_back(item);
      continue;
    }
    int32_t into = begun ? a - item->TimeLine : 0;
    item->Envelopes->Seek(CompositeBytes(into));
    item->Converter->Seek(static_cast<double>(item->BeginTime) + into);
    (begun ? Playing : Active).push_back(item);
  }
  for (; k < Waiting.size(); ++k) {
    Waiting[k]->StartOffset = -1;
    still.push_back(Waiting[k]);
  }
  Waiting.swap(still);
  // The master curve runs on the composite's byte positions.
  if (MainVolume) MainVolume->Seek(Position);
  return true;
}

void TCompositeConverter::OpenAhead() {
  int64_t nowMs = Position / 4 * 10 / 441;  // bytes back to ms (44.1 frames a ms)
  while (!Waiting.empty()) {
    TCompositeItem2* item = Waiting.front();
    if (item->TimeLine - 5000 > nowMs) break;
    Waiting.erase(Waiting.begin());
    if (item->Length <= 0 || !item->Open()) {
      item->Close();
      Done.push_back(item);
      continue;
    }
    item->Envelopes->Seek(0);
    item->Converter->Seek(static_cast<double>(item->BeginTime));
    Active.push_back(item);
  }
}

void TCompositeConverter::MixItem(TCompositeItem2* item, int64_t blockStart, bool& ended) {
  const int64_t itemStart = CompositeBytes(item->TimeLine);
  const int64_t itemEnd = CompositeBytes(item->Length);
  const uint32_t offset = item->StartOffset >= 0 ? static_cast<uint32_t>(item->StartOffset) : 0;
  item->StartOffset = -1;
  const uint32_t take = kBlockBytes - offset;
  const bool more = item->Converter->Read(take);
  const auto* samples = reinterpret_cast<const int16_t*>(item->Converter->OutputBuffer->Data);
  int64_t p = blockStart + offset - itemStart;  // bytes on the item's own time line
  item->Envelopes->Seek(p);
  ended = !more;
  for (uint32_t f = 0; f < take / 4; ++f, p += 4) {
    if (p >= itemEnd) {
      ended = true;
      break;
    }
    bool allUnity = false;
    double u = item->Envelopes->Product(allUnity);
    if (u > 10.0) {
      item->Envelopes->Seek(p);
      u = item->Envelopes->Product(allUnity);
    }
    int32_t* acc = &MixBuffer[(offset / 4 + f) * 2];
    for (int c = 0; c < 2; ++c) {
      int32_t q = samples[f * 2 + c];
      // Contiguous ranges: unity adds as it is, below 0.00001 is silence,
      // everything else is scaled.
      if (allUnity || (u >= 0.99 && u < 1.01))
        acc[c] += q;
      else if (u >= 0.00001)
        acc[c] += static_cast<int32_t>(std::lround(q * u));
    }
    bool allAtEnd = false;
    item->Envelopes->Advance(p, allAtEnd);
  }
  item->Converter->OutputBuffer->Consume(take);
}

bool TCompositeConverter::ReadInput() {
  if (!Sought) Seek(0);
  if (Position >= CompositeBytes(Params->Duration)) return false;
  const int64_t blockStart = Position;
  std::fill(MixBuffer.begin(), MixBuffer.end(), 0);
  for (auto it = Active.begin(); it != Active.end();) {
    int64_t start = CompositeBytes((*it)->TimeLine);
    if (start < blockStart + kBlockBytes) {
      (*it)->StartOffset = static_cast<int32_t>(std::max<int64_t>(start - blockStart, 0));
      Playing.push_back(*it);
      it = Active.erase(it);
    } else {
      ++it;
    }
  }
  for (auto it = Playing.begin(); it != Playing.end();) {
    bool ended = false;
    MixItem(*it, blockStart, ended);
    if (ended) {
      (*it)->Close();
      Done.push_back(*it);
      it = Playing.erase(it);
    } else {
      ++it;
    }
  }
  InputBuffer->Used = 0;
  InputBuffer->EnsureFree(kBlockBytes);
  auto* out = reinterpret_cast<int16_t*>(InputBuffer->Data);
  for (uint32_t f = 0; f < kBlockBytes / 4; ++f) {
    double e = 1.0;
    bool allUnity = true;
    if (MainVolume) {
      e = MainVolume->Product(allUnity);
      bool atEnd = false;
      MainVolume->Advance(blockStart + f * 4, atEnd);
    }
    for (int c = 0; c < 2; ++c) {
      int64_t x = MixBuffer[f * 2 + c];
      if (!allUnity && !(e >= 0.99 && e < 1.01)) x = e < 0.001 ? 0 : std::llround(static_cast<double>(x) * e);
      out[f * 2 + c] = static_cast<int16_t>(std::clamp<int64_t>(x, -32768, 32767));
    }
  }
  InputBuffer->Used = kBlockBytes;
  Position += kBlockBytes;
  OpenAhead();
  return true;
}

// ---------------------------------------------------------------- hooks

namespace {

bool CompositeIsVirtual(const std::u16string& name) {
  return name.size() >= kCompositeId.size() && std::u16string_view(name).substr(0, kCompositeId.size()) == kCompositeId;
}

bool CompositeMediaInfo(const std::u16string& name, TMediaInfo& info) {
  if (!CompositeIsVirtual(name)) return false;
  foundation::TRef<TCompositeParams> params = foundation::TRef<TCompositeParams>::Adopt(new TCompositeParams);
  if (!params->Load(name)) return false;
  std::memset(&info, 0, sizeof(info));
  info.FormatCode = mfcComposite;
  info.Duration = params->Duration;
  info.Format = MusicOutputFormat;
  return true;
}

TWavConverter* CompositeConverterByName(void* player, const std::u16string& name) {
  if (!CompositeIsVirtual(name)) return nullptr;
  return new TCompositeConverter(player, name);
}

}  // namespace

void InitCompositeDecoder() {
  IsVirtualNameHook = &CompositeIsVirtual;
  MediaInfoHook = &CompositeMediaInfo;
  ConverterByNameHook = &CompositeConverterByName;
}

void DoneCompositeDecoder() {
  if (IsVirtualNameHook == &CompositeIsVirtual) IsVirtualNameHook = nullptr;
  if (MediaInfoHook == &CompositeMediaInfo) MediaInfoHook = nullptr;
  if (ConverterByNameHook == &CompositeConverterByName) ConverterByNameHook = nullptr;
}

}  // namespace audio
