#include "text/winFontUtils.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "imaging/SysBitmap.h"

namespace text {

namespace fonts = platform::fonts;

namespace {

std::atomic<int32_t> g_liveDibs{0};

// The system colours of button text and button faces.
constexpr uint32_t kButtonText = 0x000000;
constexpr uint32_t kButtonFace = 0xF0F0F0;

uint32_t ColorRGB(TFColor c) { return (uint32_t(c.R) << 16) | (uint32_t(c.G) << 8) | c.B; }

// The code point that starts at unit i, or ends at unit i when backwards.
char32_t CodePointAt(const std::u16string& t, size_t i, bool backwards) {
  char32_t c = t[i];
  if (!backwards && c >= 0xD800 && c < 0xDC00 && i + 1 < t.size() && t[i + 1] >= 0xDC00 && t[i + 1] < 0xE000)
    return 0x10000 + ((c - 0xD800) << 10) + (t[i + 1] - 0xDC00);
  if (backwards && c >= 0xDC00 && c < 0xE000 && i > 0 && t[i - 1] >= 0xD800 && t[i - 1] < 0xDC00)
    return 0x10000 + ((t[i - 1] - 0xD800) << 10) + (c - 0xDC00);
  return c;
}

uint8_t Clamp255(long v) { return uint8_t(std::clamp<long>(v, 0, 255)); }

}  // namespace

void GetScreenDpi(int32_t& X, int32_t& Y) { X = Y = fonts::screenDpi(); }

bool MakeLogFont(TLogFont& LogFont, int32_t Dpi, const std::u16string& Name, float Size, uint8_t Style) {
  LogFont = TLogFont{};
  LogFont.lfHeight = -int32_t(std::lround(double(Dpi) * double(Size) / 72.0));
  LogFont.lfWidth = 0;
  LogFont.lfWeight = (Style & fpBold) ? 700 : 0;
  LogFont.lfItalic = (Style & fpItalic) ? 1 : 0;
  LogFont.lfUnderline = (Style & fpUnderline) ? 1 : 0;
  LogFont.lfStrikeOut = (Style & fpStrikeOut) ? 1 : 0;
  LogFont.lfCharSet = DEFAULT_CHARSET;
  LogFont.lfQuality = PROOF_QUALITY;
  const std::u16string face = Name.size() >= 32 ? std::u16string(u"Arial") : Name;
  std::copy(face.begin(), face.end(), LogFont.lfFaceName);
  return true;
}

fonts::FontHandle CreateFontFromLogFont(const TLogFont& LogFont) {
  fonts::FontRequest r;
  r.family = std::u16string(LogFont.lfFaceName);
  r.height = LogFont.lfHeight;
  r.weight = LogFont.lfWeight;
  r.italic = LogFont.lfItalic != 0;
  r.underline = LogFont.lfUnderline != 0;
  r.strikeOut = LogFont.lfStrikeOut != 0;
  return fonts::createFont(r);
}

fonts::FontHandle CreateFontHandle(const TFontParams& Params) {
  int32_t dx = 0, dy = 0;
  GetScreenDpi(dx, dy);
  TLogFont lf;
  MakeLogFont(lf, dy, Params.Name, Params.Size, Params.Style);
  return CreateFontFromLogFont(lf);
}

int32_t GetTextExtentOverhang(fonts::Font* Font, const std::u16string& Text, int32_t Start, int32_t Count,
                              int32_t& Left, int32_t& Right) {
  Left = Right = 0;
  const int32_t len = int32_t(Text.size());
  if (Start < 1 || Start > len || Count <= 0 || !Font) return 0;
  Count = std::min(Count, len - Start + 1);
  const size_t first = size_t(Start - 1), last = size_t(Start - 1 + Count - 1);
  fonts::AbcWidth abc[1];
  char32_t c = CodePointAt(Text, first, false);
  if (Font->charAbcWidths(c, c, abc)) Left = abc[0].a;
  c = CodePointAt(Text, last, true);
  if (Font->charAbcWidths(c, c, abc)) Right = abc[0].c;
  int32_t width = Font->textExtent(std::u16string_view(Text).substr(first, size_t(Count)));
  if (Left < 0)
    width -= Left;
  else
    Left = 0;
  if (Right < 0)
    width -= Right;
  else
    Right = 0;
  return width;
}

void MeasureTextRange(TTextMeasure& Measure, fonts::Font* Font, const std::u16string& Text, int32_t Start,
                      int32_t Count) {
  Measure = TTextMeasure{};
  Measure.Width = GetTextExtentOverhang(Font, Text, Start, Count, Measure.LeftOverhang, Measure.RightOverhang);
  Measure.InnerWidth = Measure.Width - Measure.LeftOverhang - Measure.RightOverhang;
  if (Font) {
    fonts::TextMetrics tm = Font->textMetrics();
    Measure.Ascent = tm.ascent;
    Measure.Descent = tm.descent;
    Measure.Height = tm.height;
  }
}

TCountDib::TCountDib() { g_liveDibs.fetch_add(1); }
void TCountDib::Dispose() {
  g_liveDibs.fetch_sub(1);
  TFastDIB::Dispose();
}
int32_t TCountDib::LiveCount() { return g_liveDibs.load(); }

void TWinFontUtils::GetDefaultFont(TFontParams& Params) {
  fonts::FontBackend* b = fonts::fontBackend();
  InitFontParams(Params, b->messageFontFamily(), b->messageFontSize(), 0,
                 MakeFColor(uint8_t(kButtonText >> 16), uint8_t(kButtonText >> 8), uint8_t(kButtonText)),
                 MakeFColor(uint8_t(kButtonFace >> 16), uint8_t(kButtonFace >> 8), uint8_t(kButtonFace)), true);
}

void TWinFontUtils::GetFontMetrics(TFontMetrics& Metrics, const TFontParams& Params) {
  fonts::TextMetrics tm = CreateFontHandle(Params)->textMetrics();
  Metrics.Ascent = tm.ascent;
  Metrics.Descent = tm.descent;
  Metrics.Height = tm.height;
}

void TWinFontUtils::GetUnderline(const TFontParams& Params, int32_t& Position, int32_t& Thickness) {
  fonts::OutlineMetrics om;
  if (CreateFontHandle(Params)->outlineMetrics(om)) {
    Position = om.underscorePosition;
    Thickness = om.underscoreSize;
  } else {
    // Faces without outline metrics: half the descent down, a quarter thick.
    Position = -om.descent / 2;
    Thickness = std::max(1, om.descent / 4);
  }
}

int32_t TWinFontUtils::GetTextExtent(const TFontParams& Params, const std::u16string& Text, int32_t Start,
                                     int32_t Count, int32_t& LeftOverhang, int32_t& RightOverhang) {
  fonts::FontHandle f = CreateFontHandle(Params);
  return GetTextExtentOverhang(f.get(), Text, Start, Count, LeftOverhang, RightOverhang);
}

imaging::TImage* TWinFontUtils::RenderText(const TFontParams& Params, const std::u16string& Text, int32_t Start,
                                           int32_t Count, foundation::TPoint& Offset) {
  Offset = {0, 0};
  const int32_t len = int32_t(Text.size());
  if (Start < 1) Start = 1;
  Count = std::min(Count, len - Start + 1);
  if (Count <= 0) return nullptr;
  fonts::FontHandle font = CreateFontHandle(Params);
  TTextMeasure m;
  MeasureTextRange(m, font.get(), Text, Start, Count);
  foundation::TRect r = TextRunRect(this, m, Params);
  const int32_t w = std::max(1, r.Right - r.Left), h = std::max(1, r.Bottom - r.Top);
  const int32_t bits = Params.Transparent ? 32 : 24;

  auto* dib = new TCountDib;
  imaging::TDibBitmap* bmp = nullptr;
  try {
    dib->SetSize(w, h, bits);
    bmp = imaging::CreateDibBitmapOf(dib, true);
  } catch (...) {
    dib->Free();
    throw;
  }
  const int bpp = bits / 8;
  const TFColor bg = Params.BgColor, fg = Params.Color;
  for (int32_t y = 0; y < h; ++y) {
    uint8_t* row = bmp->Row(y);
    for (int32_t x = 0; x < w; ++x) {
      row[x * bpp] = bg.B;
      row[x * bpp + 1] = bg.G;
      row[x * bpp + 2] = bg.R;
      if (bpp == 4) row[x * bpp + 3] = 255;
    }
  }
  fonts::Surface s{bmp->Row(0), w, h, bmp->Pitch, bits};
  font->drawText(s, -r.Left, -r.Top, std::u16string_view(Text).substr(size_t(Start - 1), size_t(Count)),
                 ColorRGB(fg), {0, 0, w, h});

  if (Params.Transparent) {
    const uint8_t B[3] = {bg.B, bg.G, bg.R}, T[3] = {fg.B, fg.G, fg.R};
    for (int32_t y = 0; y < h; ++y) {
      uint8_t* row = bmp->Row(y);
      for (int32_t x = 0; x < w; ++x) {
        uint8_t* p = row + x * 4;
        if (p[0] == B[0] && p[1] == B[1] && p[2] == B[2]) {
          p[3] = 0;
          continue;
        }
        if (p[0] == T[0] && p[1] == T[1] && p[2] == T[2]) {
          p[3] = 255;
          continue;
        }
        long alpha = 0;
        for (int c = 0; c < 3; ++c) {
          long need = 0;
          if (p[c] > B[c])
            need = std::lround(255.0 * (p[c] - B[c]) / (255 - B[c]));
          else if (p[c] < B[c])
            need = std::lround(255.0 * (B[c] - p[c]) / B[c]);
          alpha = std::max(alpha, need);
        }
        for (int c = 0; c < 3; ++c)
          p[c] = alpha == 0 ? 0 : Clamp255(std::lround(255.0 * (int(p[c]) - int(B[c])) / double(alpha) + B[c]));
        p[3] = Clamp255(alpha);
      }
    }
  }
  Offset = {r.Left, r.Top};

  imaging::TBitmap* result = bmp;
  if (TCountDib::LiveCount() > 200) {
    // Keep the number of live DIBs bounded: hand out a memory copy instead.
    imaging::TSysDirectWrapper* copy = imaging::CreateSysDirectWrapper(w, h, bmp->PixelFormat);
    copy->CopyFrom(bmp);
    bmp->Free();
    result = copy;
  }
  if (!imaging::BitmapToImageHook) {
    result->Free();
    return nullptr;
  }
  return imaging::BitmapToImageHook(result, true, u"");
}

void InitWinFontUtils() { SetFontUtils(new TWinFontUtils); }

}  // namespace text
