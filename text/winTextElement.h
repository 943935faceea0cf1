// A text element laid out with the platform's fonts: the text is split into
// runs of fonts that cover it (font substitution), the runs are put in visual
// order, and each run is shaped into glyphs, carets, character ranges and ink
// bounds.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/fonts/api.h"
#include "text/kvTextElement.h"

namespace text {

struct TTextRun {
  TFontParams Font;
  int32_t Start = 0;  // 0-based index of the first character
  int32_t Count = 0;
  int32_t GlyphCount = 0;
  int32_t Width = 0;
  bool IsText = false;  // false: no acceptable font covers the characters
};

// The face that shows characters no accepted font covers, and the character
// whose width those characters advance by in glyph information.
inline constexpr char16_t MissingGlyphFont[] = u"Wingdings";
inline constexpr char16_t MissingGlyphChar = u'L';

using TAcceptFontEvent = std::function<void(const TFontParams& Font, bool Check, bool& Accepted)>;
// The platform needs no device context for measuring; a provider that the
// caller installs is still asked for one around each layout and given it back.
using TGetDCEvent = std::function<uintptr_t()>;
using TReleaseDCEvent = std::function<void(uintptr_t)>;

class TWinTextElement : public TTextElementEx {
 public:
  QEL_CLASSNAME(TWinTextElement)
  // A size that is not above 0 becomes 8.
  TWinTextElement(const TFontParams& Font, int32_t Flags);

  void GetFontMetrics(TTextFontMetrics& Metrics) override;
  void GetCaretPos(int32_t Index, int32_t& Before, int32_t& After) override;
  bool IsClusterContinuation(int32_t Index) override;
  int32_t GetUnderlineThickness() override;
  int32_t GetUnderlinePosition() override;
  int32_t GetRangeWidth(int32_t Start, int32_t Count) override;
  void GetExtent(TTextExtent& Extent) override;
  TTextElement* CloneRange(int32_t Start, int32_t Count) override;
  void GetPaintRect(foundation::TRect& Rect, const foundation::TPoint& Position) override;
  int32_t GetGlyphCount() override;
  void GetGlyphInfo(int32_t Glyph, TGlyphInfo& Info) override;
  // Inserts Count characters of Source from From (1-based, clamped to the
  // source) at Position (clamped to 1..Count + 1) and lays the text out again.
  virtual void InsertText(int32_t Position, const std::u16string& Source, int32_t From, int32_t Count);

  // The character whose x span holds X (1-based), 0 when none does.
  int32_t HitTest(int32_t X);
  // Draws the laid-out line with the top of its cell at (X, Y).
  void Paint(const platform::fonts::Surface& Surface, int32_t X, int32_t Y, const platform::fonts::ClipRect& Clip);

  std::u16string Text;
  std::vector<TTextRun> Runs;
  int32_t RunCount = 0;
  TTextExtent Extent;
  std::vector<int32_t> Carets;
  std::vector<std::pair<int32_t, int32_t>> CharRanges;
  std::vector<int32_t> CharToGlyph;
  std::vector<uint16_t> Glyphs;
  int32_t GlyphCount = 0;
  std::vector<int32_t> CharAdvances;
  TAcceptFontEvent OnAcceptFont;
  TGetDCEvent OnGetDC;
  TReleaseDCEvent OnReleaseDC;

 private:
  void Layout();
  void AddRun(int32_t Start, int32_t Count, const TFontParams& Font, bool Check, bool& Handled);
  void ShapeRun(TTextRun& Run, int32_t Pen, int32_t& Prefix, int32_t& InkLeft, int32_t& InkRight);
  platform::fonts::FontHandle RunFont(const TTextRun& Run);
  // A run's glyphs as glyph information reports them: shaped once per layout
  // and kept, so asking for every glyph of a long run costs the run's length,
  // not its square.
  struct TRunGlyphs {
    bool Ready = false;
    platform::fonts::FontHandle Font;
    std::vector<uint16_t> Glyphs;
    std::vector<int32_t> Advances;
    std::vector<int32_t> PenX;  // the pen before each glyph, from the run's start
    int32_t Ascent = 0, Descent = 0;
  };
  const TRunGlyphs& RunGlyphs(size_t Run);
  std::vector<TRunGlyphs> FRunGlyphs;
  std::vector<int32_t> FRunFirstGlyph;  // per run, then the total
  std::vector<int32_t> FRunPen;         // the pen at each run's start
  bool FRunIndexReady = false;
  bool FHaveMetrics = false;
  TTextFontMetrics FMetrics;
};

}  // namespace text
