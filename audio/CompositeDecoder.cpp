#include "audio/CompositeDecoder.h"

#include <algorithm>
#include <cmath>

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
  auto* item = new TCompositeItem;
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
  size_t at = Description.find(kCompositeId);
  while (at != std::u16string_view::npos) {
    size_t begin = at + kCompositeId.size();
    size_t next = Description.find(kCompositeId, begin);
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

}  // namespace audio
