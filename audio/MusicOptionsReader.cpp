#include "audio/MusicOptionsReader.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <random>

#include "audio/CompositeDecoder.h"
#include "foundation/TickClock.h"

namespace audio {

using foundation::TIniFile;
using foundation::TIniItem;
using foundation::TIniList;
using foundation::TIniObject;
using foundation::TRef;

namespace {

bool NameIs(const TIniItem* item, std::u16string_view name) {
  std::u16string n = TIniItem::GetName(item);
  if (n.size() != name.size()) return false;
  for (size_t i = 0; i < n.size(); ++i) {
    char16_t a = n[i], b = name[i];
    if (a >= u'A' && a <= u'Z') a = static_cast<char16_t>(a + 32);
    if (b >= u'A' && b <= u'Z') b = static_cast<char16_t>(b + 32);
    if (a != b) return false;
  }
  return true;
}

int32_t Int(const TIniList* block, std::u16string_view key, int32_t def) {
  return TIniItem::GetInteger(TIniList::FindKey(block, key), def);
}

bool Bool(const TIniList* block, std::u16string_view key) { return TIniList::ReadBool(block, key, false); }

std::u16string Str(const TIniList* block, std::u16string_view key) { return TIniList::ReadString(block, key, u""); }

std::u16string Dec(int64_t v) {
  std::string s = std::to_string(v);
  return std::u16string(s.begin(), s.end());
}

// The fade and volume envelope of an item of the given length (volume in
// percent); none when it would be unity.
void AddFadeEnvelope(TVolumeParamsList* list, int32_t fadeIn, int32_t fadeOut, int32_t volumePercent,
                     int32_t duration) {
  int32_t v = volumePercent * 10;
  if (fadeIn <= 0 && fadeOut <= 0 && v == 1000) return;
  TVolumeParams* e = list->AddEnvelope();
  if (fadeIn > 0) {
    e->AddPoint(0, 0);
    e->AddPoint(fadeIn, v);
  }
  if (fadeOut > 0) {
    e->AddPoint(duration - fadeOut, v);
    e->AddPoint(duration, 0);
  }
  if (fadeIn <= 0 && fadeOut <= 0) {
    e->AddPoint(0, v);
    e->AddPoint(duration, v);
  }
}

}  // namespace

void AddVolumeCurve(TVolumeParams* envelope, std::u16string_view text, int32_t startTime, int32_t duration) {
  struct Point {
    int32_t t, v;
  };
  std::vector<Point> points;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t comma = text.find(u',', pos);
    std::u16string_view pair = text.substr(pos, comma == std::u16string_view::npos ? std::u16string_view::npos : comma - pos);
    pos = comma == std::u16string_view::npos ? text.size() : comma + 1;
    size_t colon = pair.find(u':');
    if (colon == std::u16string_view::npos) continue;
    auto parse = [](std::u16string_view s, int64_t& out) {
      size_t i = 0;
      while (i < s.size() && s[i] == u' ') ++i;
      bool neg = i < s.size() && s[i] == u'-';
      if (neg) ++i;
      if (i >= s.size()) return false;
      int64_t v = 0;
      for (; i < s.size() && s[i] != u' '; ++i) {
        if (s[i] < u'0' || s[i] > u'9') return false;
        v = v * 10 + (s[i] - u'0');
        if (v > INT32_MAX) return false;
      }
      out = neg ? -v : v;
      return true;
    };
    int64_t x = 0, y = 0;
    if (!parse(pair.substr(0, colon), x) || !parse(pair.substr(colon + 1), y)) continue;
    auto t = static_cast<int32_t>(std::lround(static_cast<double>(x) / 44100.0 * 1000.0));
    auto v = static_cast<int32_t>(std::lround(static_cast<double>(y) / 65536.0 * 1000.0));
    if (!points.empty() && t <= points.back().t) t = points.back().t + 1;
    points.push_back({t, v});
  }
  Point previous{0, 0};
  bool havePrevious = false;
  for (Point p : points) {
    p.t -= startTime;
    if (p.t < duration) {
      envelope->AddPoint(p.t, p.v);
      previous = p;
      havePrevious = true;
      continue;
    }
    int32_t v = p.v;
    if (havePrevious && p.t != previous.t)
      v = static_cast<int32_t>(std::lround(previous.v + (p.v - previous.v) * double(duration - previous.t) /
                                                            double(p.t - previous.t)));
    envelope->AddPoint(duration, v);
    break;
  }
}

namespace {

double Float(const TIniList* block, std::u16string_view key, double def) {
  return TIniItem::GetFloat(TIniList::FindKey(block, key), def);
}

// The "VideoClip" node of "Tracks" (at any depth) whose "ClipGUID" is guid.
const TIniList* FindClip(const TIniList* list, const std::u16string& guid) {
  if (!list) return nullptr;
  for (TIniObject* o = TIniList::FirstObject(list); o; o = TIniList::NextObject(list, o)) {
    if ((NameIs(o, u"VideoClip") || TIniItem::GetValue(o) == u"VideoClip") && Str(o, u"ClipGUID") == guid) return o;
    if (const TIniList* found = FindClip(o, guid)) return found;
  }
  return nullptr;
}

bool IsGif(const std::u16string& name) {
  if (name.size() < 4) return false;
  std::u16string ext = name.substr(name.size() - 4);
  for (char16_t& c : ext)
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
  return ext == u".gif";
}

struct VideoWalk {
  const TIniFile* ini;
  double slideStart;
  double span;
  std::vector<std::u16string> clips;
  std::vector<TVideoAudio> out;

  void Walk(const TIniList* list) {
    for (TIniObject* o = TIniList::FirstObject(list); o; o = TIniList::NextObject(list, o)) {
      if (NameIs(o, u"KeyPoint")) continue;
      if (NameIs(o, u"Video") || TIniItem::GetValue(o) == u"Video") Take(o);
      Walk(o);
    }
  }

  void Take(const TIniList* video) {
    std::u16string guid = Str(video, u"ClipGUID");
    const TIniList* clip = guid.empty() ? nullptr : FindClip(TIniFile::FindSection(ini, u"Tracks"), guid);
    TVideoAudio a;
    bool muted;
    bool fromDisk;
    if (clip) {
      int32_t startSlide = Int(clip, u"StartSlideIdx", 0);
      double sync = startSlide != 0 ? Float(TIniFile::FindSection(ini, u"Times"), u"opt_synchpos" + Dec(startSlide), 0) : 0;
      muted = Bool(clip, u"Mute") || Float(clip, u"FPSMultiplier", 1) != 1 || slideStart > sync ||
              std::find(clips.begin(), clips.end(), guid) != clips.end();
      a.FileName = Str(clip, u"FileName");
      a.Duration = static_cast<int32_t>(std::lround(Float(clip, u"Duration", 0)));
      a.Offset = static_cast<int32_t>(std::lround(Float(clip, u"StartVideoTime", 0)));
      a.Start = static_cast<int32_t>(std::lround(Float(clip, u"StartQELTime", 0)));
      fromDisk = Bool(clip, u"LoadFromDisk");
    } else {
      muted = Bool(video, u"Mute") || Float(video, u"FPSMultiplier", 1) != 1;
      a.FileName = Str(video, u"FileName");
      double start = Float(video, u"StartQELTime", 0);
      a.Offset = static_cast<int32_t>(std::lround(Float(video, u"StartVideoTime", 0)));
      a.Start = static_cast<int32_t>(std::lround(start));
      double d = std::min(Float(video, u"Duration", 0), span - start);
      a.Duration = static_cast<int32_t>(std::lround(std::max(std::min(d, 2147483647.0), -2147483647.0)));
      fromDisk = Bool(video, u"LoadFromDisk");
    }
    if (fromDisk) a.FileName = u"LoadFromDisk:" + a.FileName;
    if (muted || IsGif(a.FileName)) return;
    out.push_back(a);
    if (!guid.empty()) clips.push_back(guid);
  }
};

}  // namespace

std::vector<TVideoAudio> CollectVideoAudio(const TIniFile* Ini, const TTransitionTimes& Effects,
                                           const TIniList* SlideSection) {
  VideoWalk walk{Ini, 0.0, 0.0, {}, {}};
  if (!SlideSection) return {};
  std::u16string name = TIniItem::GetName(SlideSection);
  int64_t n = 0;
  bool number = name.size() > 5 && name.compare(0, 5, u"Slide") == 0;
  for (size_t i = 5; number && i < name.size(); ++i) {
    if (name[i] < u'0' || name[i] > u'9' || n > 100000000) number = false;
    else n = n * 10 + (name[i] - u'0');
  }
  if (number && n >= 1) {
    const TIniList* times = TIniFile::FindSection(Ini, u"Times");
    walk.slideStart = n == 1 ? 0.0 : Float(times, u"opt_synchpos" + Dec(n - 1), 0);
    double transition = 0;
    if (Effects.Time) {
      if (n < Effects.Count)
        transition = Effects.Time(static_cast<int32_t>(n));
      else if (TIniList::ReadString(TIniFile::FindSection(Ini, u"Main"), u"opt_repeat", u"") == u"repeat")
        transition = Effects.Time(0);
    }
    walk.span = Float(times, u"opt_synchpos" + Dec(n), 2147483647.0) - walk.slideStart + transition;
  }
  walk.Walk(SlideSection);
  return walk.out;
}

TMusicOptionsReader::TMusicOptionsReader(const TIniFile* Ini, const TIniList* MainSection) {
  (void)MainSection;
  if (!Ini) {
    SlideStarts.assign(1, 0);
    return;
  }
  const TIniList* times = TIniFile::FindSection(Ini, u"Times");
  // Every slide has a section of its own: a count beyond the sections is a
  // damaged project, and is not allowed to size the tables.
  SlideCount = std::clamp(Int(times, u"opt_slidescount", 0), 0, Ini->GetSectionList()->GetCount());
  SlideStarts.assign(static_cast<size_t>(std::max(SlideCount, 1)), 0);
  int32_t largest = 0;
  for (int32_t n = 1; n < SlideCount; ++n) {
    largest = std::max(largest, Int(times, u"opt_synchpos" + Dec(n), 0));
    SlideStarts[static_cast<size_t>(n)] = largest;
  }
  for (int32_t n = 1; n <= SlideCount; ++n) {
    const TIniList* slide = TIniFile::FindSection(Ini, u"Slide" + Dec(n));
    if (!slide) continue;
    std::u16string linked = Str(slide, u"LinkedAudio");
    size_t at = 0;
    while (at < linked.size() && linked[at] == u'{') {
      size_t close = linked.find(u'}', at);
      if (close == std::u16string::npos) break;
      LinkedAudio[linked.substr(at, close - at + 1)] = n - 1;
      at = close + 1;
    }
  }
}

int32_t TMusicOptionsReader::RandomKey() {
  if (RandomKeys.empty()) RandomKeys.assign(256, 0);
  int32_t& key = RandomKeys[static_cast<size_t>(RandomCounter % 256)];
  if (key == 0) key = static_cast<int32_t>(Random() % 16776960u) + 1;
  ++RandomCounter;
  return key;
}

int32_t TMusicOptionsReader::LinkedStart(const TIniList* item) const {
  auto found = LinkedAudio.find(Str(item, u"GUID"));
  if (found == LinkedAudio.end() || found->second < 0 || found->second >= SlideCount) return -1;
  int32_t start = SlideStarts[static_cast<size_t>(found->second)];
  // A linked item starts with its slide: its reading counts its cross-fade as
  // none, so a lead for a fade would only cut the previous item early. A
  // pause still delays it.
  if (Int(item, u"CrossMode", 0) == 1) start += std::max(Int(item, u"Pause", 0), 0);
  return start;
}

void TMusicOptionsReader::Flatten(const TIniList* block, std::vector<Entry>& out, bool& hadComment,
                                  const std::vector<TVideoAudio>& video) {
  for (TIniObject* child = TIniList::FirstObject(block); child; child = TIniList::NextObject(block, child)) {
    if (NameIs(child, u"TMusicItem")) {
      out.push_back({child, false});
    } else if (NameIs(child, u"TMusicOptions")) {
      IsRepeat = Bool(child, u"IsRepeat");
    } else if (NameIs(child, u"TSoundComment")) {
      BuildComment(child, video);
      hadComment = true;
    } else if (NameIs(child, u"TMusicTrack")) {
      if (Bool(child, u"IsMute")) continue;
      out.push_back({child, true});
      Flatten(child, out, hadComment, video);
    }
  }
}

void TMusicOptionsReader::BuildComment(const TIniList* comment, const std::vector<TVideoAudio>& video) {
  TRef<TCompositeParams> params = TRef<TCompositeParams>::Adopt(new TCompositeParams);
  int32_t end = 0;
  if (comment) {
    std::u16string name = Str(comment, u"FileName");
    std::u16string lower = name;
    for (char16_t& c : lower)
      if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
    if (!name.empty() && lower != u"error") {
      int32_t d = std::max(Int(comment, u"Pause", 0), 0);
      int32_t length = Int(comment, u"Duration", 0);
      // The allowed length is measured on the comment's time line, pause
      // included: the item ends by it.
      if (AllowedLength > 0 && d + length > AllowedLength) length = std::max(AllowedLength - d, 0);
      TCompositeItem* item = params->AddItem(name, d);
      item->BeginTime = static_cast<uint32_t>(std::max(Int(comment, u"StartTime", 0), 0));
      item->Duration = length;
      AddFadeEnvelope(item->Envelopes, Int(comment, u"FadeIn", 0), Int(comment, u"FadeOut", 0),
                      Int(comment, u"Volume", 100), length);
      std::u16string curve = Str(comment, u"VolumeParams");
      if (!curve.empty())
        AddVolumeCurve(item->Envelopes->AddEnvelope(), curve, Int(comment, u"StartTime", 0), length);
      end = d + length;
    }
  }
  for (const TVideoAudio& v : video) {
    TCompositeItem* item = params->AddItem(v.FileName, v.Start);
    item->BeginTime = static_cast<uint32_t>(std::max(v.Offset, 0));
    item->Duration = v.Duration;
    if (v.Volume != 1.0f) {
      TVolumeParams* e = item->Envelopes->AddEnvelope();
      auto pm = static_cast<int32_t>(std::lround(v.Volume * 1000.0));
      e->AddPoint(0, pm);
      e->AddPoint(v.Duration, pm);
    }
    end = std::max(end, v.Start + v.Duration);
  }
  params->Duration = end;
  CommentDuration = end;
  CommentName = params->Items.empty() || end <= 0 ? std::u16string() : params->ToDescription();
}

void TMusicOptionsReader::ReadItem(TCompositeParams* params, const TIniList* item, const TIniList* next,
                                   int32_t link, int32_t limit, int32_t& P, int32_t& E) {
  int32_t startTime = Int(item, u"StartTime", 0);
  int32_t duration = Int(item, u"Duration", 0);
  int32_t crossMode = Int(item, u"CrossMode", 0);
  int32_t cross = Int(item, u"Cross", 0);
  int32_t pause = Int(item, u"Pause", 0);
  if (link >= 0) {
    P = E = link;
    crossMode = cross = pause = 0;
  }
  int32_t start = crossMode == 0 ? P - std::max(cross, 0) : crossMode == 1 ? P + std::max(pause, 0) : P;
  if (static_cast<int64_t>(limit) < static_cast<int64_t>(start) + duration) duration = std::max(limit - start, 0);
  if (crossMode == 1 && pause > 0) {
    P += pause;
    E += pause;
  }
  TCompositeItem* composite = params->AddItem(Str(item, u"FileName"), P);
  composite->BeginTime = static_cast<uint32_t>(std::max(startTime, 0));
  composite->Duration = duration;
  int32_t volume = Int(item, u"Volume", 100);
  AddFadeEnvelope(composite->Envelopes, Int(item, u"FadeIn", 0), Int(item, u"FadeOut", 0), volume, duration);
  TVolumeParams* crossEnvelope = nullptr;
  if (crossMode == 0 && cross >= 1) {
    crossEnvelope = composite->Envelopes->AddEnvelope();
    crossEnvelope->AddPoint(0, 0);
    crossEnvelope->AddPoint(cross, 1000);
    if (E != 0) {
      P -= cross;
      E -= cross;
      composite->TimeLine = std::max(composite->TimeLine - cross, 0);
    }
  }
  if (next && LinkedStart(next) < 0 && Int(next, u"CrossMode", 0) == 0) {
    int32_t h = Int(next, u"Cross", 0);
    if (h > 0) {
      if (!crossEnvelope) crossEnvelope = composite->Envelopes->AddEnvelope();
      crossEnvelope->AddPoint(duration - h, 1000);
      crossEnvelope->AddPoint(duration, 0);
    }
  }
  std::u16string curve = Str(item, u"VolumeParams");
  if (!curve.empty()) AddVolumeCurve(composite->Envelopes->AddEnvelope(), curve, startTime, duration);
  P += duration;
  E += duration;
  if (volume == 0) params->RemoveItem(composite);
}

void TMusicOptionsReader::ReadMusic(const TIniList* MusicBlock, const std::vector<TVideoAudio>& VideoAudio,
                                    bool RandomForbidden) {
  RandomCounter = 0;
  MusicName.clear();
  MusicDuration = 0;
  CommentName.clear();
  CommentDuration = 0;
  TRef<TCompositeParams> params = TRef<TCompositeParams>::Adopt(new TCompositeParams);
  std::vector<Entry> entries;
  bool hadComment = false;
  if (MusicBlock) Flatten(MusicBlock, entries, hadComment, VideoAudio);
  if (!hadComment) BuildComment(nullptr, VideoAudio);

  if (!Random) {
    auto engine = std::make_shared<std::mt19937>(static_cast<uint32_t>(foundation::GetTickMs()));
    Random = [engine] { return static_cast<uint32_t>((*engine)()); };
  }
  // Random order within tracks, then the markers become separators.
  for (size_t i = 0; i < entries.size(); ++i) {
    if (!entries[i].Marker) continue;
    IsRandom = Bool(entries[i].Block, u"IsRandom");
    if (!IsRandom || RandomForbidden) continue;
    size_t j = i + 1;
    while (j < entries.size() && !entries[j].Marker) ++j;
    std::vector<std::pair<int32_t, Entry>> keyed;
    for (size_t k = i + 1; k < j; ++k) keyed.push_back({RandomKey(), entries[k]});
    std::stable_sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    for (size_t k = i + 1; k < j; ++k) entries[k] = keyed[k - i - 1].second;
  }
  std::vector<std::vector<const TIniList*>> tracks(1);
  for (const Entry& e : entries) {
    if (e.Marker) {
      if (!tracks.back().empty()) tracks.emplace_back();
    } else {
      tracks.back().push_back(e.Block);
    }
  }
  int32_t end = 0;
  for (const auto& track : tracks) {
    std::vector<int32_t> links(track.size()), limits(track.size(), INT32_MAX);
    for (size_t i = 0; i < track.size(); ++i) {
      links[i] = LinkedStart(track[i]);
      if (links[i] < 0) continue;
      for (size_t k = 0; k < i; ++k) limits[k] = std::min(limits[k], links[i]);
    }
    int32_t P = 0, E = 0;
    for (size_t i = 0; i < track.size(); ++i)
      ReadItem(params.Get(), track[i], i + 1 < track.size() ? track[i + 1] : nullptr, links[i], limits[i], P, E);
    end = std::max(end, E);
  }
  params->Duration = end;
  MusicDuration = end;
  MusicName = params->Items.empty() ? std::u16string() : params->ToDescription();
}

}  // namespace audio
