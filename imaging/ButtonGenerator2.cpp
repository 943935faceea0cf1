#include "imaging/ButtonGenerator2.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <mutex>
#include <unordered_map>

#include "foundation/kvIniParser.h"
#include "imaging/HslIniHelpers.h"
#include "imaging/ImagingAssert.h"
#include "imaging/SysBitmapStore.h"

namespace imaging {

const char16_t ButtonSkinFileName[] = u"btn.ini";
TButtonColorReader ButtonColorReaderHook = nullptr;
TButtonErrorImageHook ButtonErrorImageHook = nullptr;

namespace {

// The cache is shared by every show's producers; a lock keeps two loading
// threads from filling one entry twice.
struct TImageCache {
  std::mutex Lock;
  std::unordered_map<std::u16string, TImage*> Images;
};
TImageCache* g_cache = nullptr;

const char16_t* const kSections[3] = {u"NormalState", u"HoverState", u"ClickState"};
const char16_t* const kPartKeys[9] = {u"LeftTop", u"Top",        u"RightTop", u"Right", u"RightBottom",
                                      u"Bottom",  u"LeftBottom", u"Left",     u"Center"};

bool ToInt(std::u16string_view f, int32_t& v) {
  std::string s;
  for (char16_t c : f) {
    if (c > 0x7F) return false;
    if (c != u' ' && c != u'\t') s.push_back(static_cast<char>(c));
  }
  if (s.empty()) return false;
  const char* b = s.data() + (s[0] == '+' ? 1 : 0);
  auto r = std::from_chars(b, s.data() + s.size(), v);
  return r.ec == std::errc() && r.ptr == s.data() + s.size();
}

std::vector<std::u16string> Split(const std::u16string& text, char16_t sep) {
  std::vector<std::u16string> out;
  size_t pos = 0;
  for (;;) {
    const size_t end = text.find(sep, pos);
    out.push_back(text.substr(pos, end == std::u16string::npos ? std::u16string::npos : end - pos));
    if (end == std::u16string::npos) break;
    pos = end + 1;
  }
  return out;
}

TBtnIniString ReadPart(const std::u16string& value) {
  TBtnIniString p;
  if (value.empty()) return p;
  const auto f = Split(value, u',');
  p.ImageName = f[0];
  int32_t* fields[4] = {&p.Left, &p.Top, &p.Right, &p.Bottom};
  for (size_t i = 0; i < 4; ++i) {
    int32_t v = 0;
    if (i + 1 < f.size() && ToInt(f[i + 1], v)) *fields[i] = v;
  }
  return p;
}

// The cached image of a skin part, loaded through the producer when missing.
TImage* CachedImage(TButtonProducer* producer, const std::u16string& imageName) {
  if (!g_cache) return nullptr;
  const std::u16string key = producer->SkinName + u"\\" + imageName;
  std::lock_guard<std::mutex> lock(g_cache->Lock);
  auto it = g_cache->Images.find(key);
  if (it != g_cache->Images.end()) return it->second;
  TImage* img = producer->LoadImage ? producer->LoadImage(imageName) : nullptr;
  if (img) g_cache->Images.emplace(key, img);
  return img;
}

// A part rectangle cut to the skin, so a "btn.ini" naming pixels beyond its
// images reads nothing outside them.
TRect PartRect(const TBtnIniString& p, const TSize& skin) {
  TRect r{std::clamp(p.Left, 0, skin.cx), std::clamp(p.Top, 0, skin.cy), std::clamp(p.Right, 0, skin.cx),
          std::clamp(p.Bottom, 0, skin.cy)};
  r.Right = std::max(r.Right, r.Left);
  r.Bottom = std::max(r.Bottom, r.Top);
  return r;
}

}  // namespace

std::u16string BuildButtonKey(const std::u16string& SkinName, uint8_t State, int32_t Width, int32_t Hue,
                              int32_t Saturation, int32_t Lightness) {
  const std::string tail = ":" + std::to_string(State) + ":" + std::to_string(Width) + ":" + std::to_string(Hue) +
                           ":" + std::to_string(Saturation) + ":" + std::to_string(Lightness);
  return u"Button: " + SkinName + std::u16string(tail.begin(), tail.end());
}

void ParseButtonKey(const std::u16string& Text, TButtonKey& Key) {
  const std::u16string rest = Text.size() > 8 ? Text.substr(8) : std::u16string();
  const auto f = Split(rest, u':');
  Key.SkinName = f[0];
  int32_t v = 0;
  auto num = [&](size_t i) { return i < f.size() && ToInt(f[i], v) ? v : 0; };
  Key.State = static_cast<uint8_t>(num(1));
  Key.Width = num(2);
  Key.Hue = num(3);
  Key.Saturation = num(4);
  Key.Lightness = num(5);
}

void TButtonProducer::LoadSkin(foundation::TStream* Stream, const std::u16string& aSkinName) {
  auto* ini = new foundation::TIniFile;
  try {
    foundation::LoadIniFromStream(ini, Stream);
    SkinName = aSkinName;
    for (int s = 0; s < 3; ++s) {
      const foundation::TIniSection* section = foundation::TIniFile::FindSection(ini, kSections[s]);
      for (int p = 0; p < 9; ++p)
        Parts[static_cast<size_t>(s * 9 + p)] =
            ReadPart(foundation::TIniItem::GetValue(foundation::TIniList::FindKey(section, kPartKeys[p])));
    }
    const foundation::TIniSection* text = foundation::TIniFile::FindSection(ini, u"TextParams");
    if (const foundation::TIniItem* c = foundation::TIniList::FindKey(text, u"Color"); c && ButtonColorReaderHook) {
      const uint32_t rgb = ButtonColorReaderHook(c, 0xFF000000u);
      TextColor[0] = uint8_t(rgb >> 16), TextColor[1] = uint8_t(rgb >> 8), TextColor[2] = uint8_t(rgb);
    }
    BtnOffset = static_cast<float>(foundation::TIniItem::GetFloat(foundation::TIniList::FindKey(text, u"BtnOffset"), 0));
    BtnMinWidth =
        static_cast<float>(foundation::TIniItem::GetFloat(foundation::TIniList::FindKey(text, u"BtnMinWidth"), 0));
    std::u16string filtering = foundation::TIniItem::GetValue(foundation::TIniList::FindKey(text, u"Filtering"));
    for (char16_t& ch : filtering)
      if (ch >= u'A' && ch <= u'Z') ch = static_cast<char16_t>(ch - u'A' + u'a');
    Filtering = filtering == u"nearest" ? 0 : filtering == u"bilinear" ? 1 : 2;
    SkinSize = {Parts[bpRight].Right, Parts[bpBottom].Bottom};
    Loaded = true;
  } catch (...) {
    ini->Free();
    throw;
  }
  ini->Free();
}

TImage* TButtonProducer::GenerateButton(uint8_t State, int32_t Width, int32_t Hue, int32_t Saturation,
                                        int32_t Lightness) {
  if (!g_cache) return CreateErrorImage(u"FileOpenError");
  return ComposeButton(State, Width, Hue, Saturation, Lightness);
}

TImage* TButtonProducer::CreateErrorImage(const std::u16string& Text) {
  if (ButtonErrorImageHook) return ButtonErrorImageHook(Text);
  TSysBitmap* b = CreateSysBitmap(1, 1, pfA8R8G8B8);
  const uint32_t blue = 0xFF0000FFu;
  std::memcpy(b->Row(0), &blue, 4);
  return WrapBitmapAsImage(b, true, Text);
}

TImage* TButtonProducer::ComposeButton(uint8_t State, int32_t w, int32_t Hue, int32_t Saturation,
                                       int32_t Lightness) {
  const int32_t H = SkinSize.cy;
  // A state above 2 has no parts; a canvas without columns or rows cannot be made.
  if (State > 2 || w < 1 || H < 1 || SkinSize.cx < 1 || !BitmapSizeAllowed(w, H, 32))
    return CreateErrorImage(u"Incorrect Image: " + (State <= 2 ? Parts[State * 9u + bpCenter].ImageName : u""));
  const TBtnIniString* parts = &Parts[State * 9u];
  TRect r[9];
  for (int i = 0; i < 9; ++i) r[i] = PartRect(parts[i], SkinSize);
  const int32_t CL = r[bpLeft].Right, CT = r[bpTop].Bottom;
  const int32_t CR = r[bpRight].Left + w - r[bpRight].Right, CB = r[bpBottom].Top + H - r[bpBottom].Bottom;

  TSysBitmap* canvas = CreateSysBitmap(w, H, pfA8R8G8B8);
  for (int32_t y = 0; y < H; ++y) std::memset(canvas->Row(y), 0, static_cast<size_t>(w) * 4);
  // Every copy is cut to the canvas: a width narrower than the corners moves
  // the right parts to negative columns.
  auto put = [&](TSysBitmap* src, int32_t dx, int32_t dy, int32_t sx, int32_t sy) {
    if (dx < 0 || dx >= w || dy < 0 || dy >= H || sx < 0 || sx >= src->Width || sy < 0 || sy >= src->Height) return;
    std::memcpy(canvas->Row(dy) + 4 * dx, src->Row(sy) + 4 * sx, 4);
  };
  const TButtonPart order[9] = {bpCenter, bpTop, bpBottom, bpLeft, bpRight, bpLeftTop, bpRightTop, bpRightBottom,
                                bpLeftBottom};
  for (TButtonPart part : order) {
    TImage* img = CachedImage(this, parts[part].ImageName);
    if (!img || img->Params.Width != SkinSize.cx || img->Params.Height != SkinSize.cy) {
      canvas->Free();
      return CreateErrorImage(u"Incorrect Image: " + parts[part].ImageName);
    }
    auto* src = dynamic_cast<TSysBitmap*>(img->Store ? img->Store->GetBitmap(0, pfA8R8G8B8, TSysBitmap::StaticClass())
                                                     : nullptr);
    if (!src) {
      canvas->Free();
      return CreateErrorImage(u"Incorrect Image: " + parts[part].ImageName);
    }
    const TRect& p = r[part];
    bool abort = false;
    auto column = [&] {
      if (Progress) Progress(this, abort);
      return !abort;
    };
    switch (part) {
      case bpCenter:
      case bpTop:
      case bpBottom: {
        const int32_t y0 = part == bpCenter ? CT : p.Top, y1 = part == bpCenter ? CB : p.Bottom;
        const int32_t shift = part == bpBottom ? CB - p.Top : 0;
        for (int32_t x = std::max(CL, 0); x < std::min(CR, w); ++x) {
          for (int32_t y = y0; y < y1; ++y) put(src, x, y + shift, p.Left, y);
          if (!column()) break;
        }
        break;
      }
      case bpLeft:
      case bpRight: {
        const int32_t shift = part == bpRight ? CR - p.Left : 0;
        for (int32_t x = p.Left; x < p.Right; ++x) {
          for (int32_t y = CT; y < CB; ++y) put(src, x + shift, y, x, y);
          if (!column()) break;
        }
        break;
      }
      default: {
        const int32_t sx = (part == bpRightTop || part == bpRightBottom) ? CR - p.Left : 0;
        const int32_t sy = (part == bpRightBottom || part == bpLeftBottom) ? CB - p.Top : 0;
        for (int32_t x = p.Left; x < p.Right; ++x) {
          for (int32_t y = p.Top; y < p.Bottom; ++y) put(src, x + sx, y + sy, x, y);
          if (!column()) break;
        }
        break;
      }
    }
  }
  AdjustBitmapHsl(canvas, TRect{0, 0, w, H}, 0, Hue, Saturation, Lightness);
  return WrapBitmapAsImage(canvas, true, BuildButtonKey(SkinName, State, w, Hue, Saturation, Lightness));
}

TButtonProducerHost::TButtonProducerHost(TButtonProducer::TLoadImage aLoadImage, TButtonProducer::TProgress aProgress)
    : LoadImage(std::move(aLoadImage)), Progress(std::move(aProgress)) {
  Producers = new foundation::TList;
}

void TButtonProducerHost::Dispose() {
  if (Producers) {
    Producers->Clear();
    foundation::FreeAndNil(Producers);
  }
  foundation::TRefObject::Dispose();
}

TButtonProducer* TButtonProducerHost::GetProducer(const std::u16string& Name) {
  for (int32_t i = Producers->Count() - 1; i >= 0; --i) {
    auto* p = static_cast<TButtonProducer*>(Producers->GetItem(i));
    if (p && p->SkinName == Name) return p;
  }
  auto* p = new TButtonProducer;
  p->LoadImage = LoadImage;
  p->Progress = Progress;
  p->SkinName = Name;
  Producers->Add(p);
  return p;
}

void InitButtonGenerator() {
  if (!g_cache) g_cache = new TImageCache;
}

void DoneButtonGenerator() {
  if (!g_cache) return;
  for (auto& [key, img] : g_cache->Images) foundation::FreeObj(img);
  delete g_cache;
  g_cache = nullptr;
}

int32_t ButtonImageCacheCount() {
  if (!g_cache) return 0;
  std::lock_guard<std::mutex> lock(g_cache->Lock);
  return static_cast<int32_t>(g_cache->Images.size());
}

}  // namespace imaging
