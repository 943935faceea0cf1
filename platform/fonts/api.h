// The font and text services the text layer asks of the platform: fonts made
// from a family name, a pixel height and a style; their text and outline
// metrics; ABC widths per character and per glyph; glyph indices; character
// placement (visual order, advances, classes, glyphs and carets of a run);
// the Unicode coverage of a face; the fallback families of a family; and the
// anti-aliased drawing of a run into a 24- or 32-bit surface.
//
// Fonts are shared handles: every request for the same face and size answers
// the same loaded face, and the face is released with its last handle.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace platform::fonts {

constexpr int32_t FW_NORMAL = 400;
constexpr int32_t FW_BOLD = 700;

// What a font is made from.
struct FontRequest {
  std::u16string family;
  // Negative: the character height (em size) in pixels; positive: the cell
  // height (ascent + descent); 0: a default of 16 pixels character height.
  int32_t height = 0;
  int32_t weight = 0;  // 0 or 400 regular, 700 and above bold
  bool italic = false;
  bool underline = false;
  bool strikeOut = false;
};

// Pitch-and-family bits of the text metrics.
enum : uint8_t { TMPF_VARIABLE_PITCH = 1, TMPF_VECTOR = 2, TMPF_TRUETYPE = 4, TMPF_DEVICE = 8 };

struct TextMetrics {
  int32_t ascent = 0;
  int32_t descent = 0;
  int32_t height = 0;  // ascent + descent
  int32_t internalLeading = 0;
  int32_t externalLeading = 0;
  int32_t aveCharWidth = 0;
  int32_t maxCharWidth = 0;
  int32_t weight = 0;
  bool italic = false;
  char16_t defaultChar = 0;  // the character the face draws for missing ones
  uint8_t pitchAndFamily = 0;
};

struct OutlineMetrics {
  int32_t ascent = 0;
  int32_t descent = 0;
  // Positive above the baseline (the underscore lies below, so it is negative).
  int32_t underscorePosition = 0;
  int32_t underscoreSize = 0;
  int32_t strikeoutPosition = 0;
  int32_t strikeoutSize = 0;
};

// A: leading bearing, B: black-box width, C: trailing bearing; A + B + C is
// the advance.
struct AbcWidth {
  int32_t a = 0;
  int32_t b = 0;
  int32_t c = 0;
};

// The glyph index a missing character gets when missing glyphs are marked.
constexpr uint16_t MissingGlyph = 0xFFFF;

// Character classes of a placement.
enum : uint8_t { GCPCLASS_LATIN = 1, GCPCLASS_HEBREW = 2, GCPCLASS_ARABIC = 4, GCPCLASS_LOCALNUMBER = 5 };

// The result of placing a run of UTF-16 code units. Glyphs are in visual
// order (left to right); the per-character arrays are in logical order.
struct Placement {
  std::vector<uint16_t> glyphs;
  std::vector<int32_t> glyphAdvances;  // per glyph
  std::vector<int32_t> glyphOffsets;   // x of each glyph's origin, running sums of the advances
  std::vector<int32_t> order;          // per character: the first glyph of its cluster
  std::vector<int32_t> advances;       // per character: the cluster's advance on its first character, else 0
  std::vector<uint8_t> classes;        // per character: 1 left to right, 2 right to left
  std::vector<int32_t> carets;         // per character: x of its leading edge (right edge for right to left)
  int32_t width = 0;                   // sum of the advances
};

// One inclusive range of code points.
struct UnicodeRange {
  char32_t first = 0;
  char32_t last = 0;
};

// A 24- or 32-bit surface, pixels in the order blue, green, red (, alpha).
// Rows run from the top; a negative pitch walks a bottom-up image.
struct Surface {
  uint8_t* bits = nullptr;  // the top row
  int32_t width = 0;
  int32_t height = 0;
  int32_t pitch = 0;
  int32_t bitsPerPixel = 32;
};

struct ClipRect {
  int32_t left = 0, top = 0, right = 0, bottom = 0;
};

class Font {
 public:
  virtual ~Font() = default;
  // The family and file of the face that serves the font; empty when no
  // face is installed at all (the font then measures boxes).
  virtual std::u16string faceFamily() const = 0;
  virtual std::string faceFile() const = 0;
  // The pixel size of the em square.
  virtual int32_t pixelSize() const = 0;
  // True for outline (scalable) faces.
  virtual bool isScalable() const = 0;

  virtual TextMetrics textMetrics() = 0;
  // False for faces without outline metrics.
  virtual bool outlineMetrics(OutlineMetrics& out) = 0;
  // The ABC widths of the characters first..last into out (last - first + 1 entries).
  virtual bool charAbcWidths(char32_t first, char32_t last, std::span<AbcWidth> out) = 0;
  virtual bool glyphAbcWidths(std::span<const uint16_t> glyphs, std::span<AbcWidth> out) = 0;
  // One glyph index per code unit (a surrogate pair gets its glyph on the
  // high unit and 0 on the low one); missing characters get 0, or
  // MissingGlyph when markMissing is set.
  virtual void glyphIndices(std::u16string_view text, std::span<uint16_t> out, bool markMissing) = 0;
  // Shapes a run: bidirectional order (leading embedding and override marks
  // are honoured), then per directional stretch the face's shaping. False
  // only when nothing can be placed (no face).
  virtual bool placeText(std::u16string_view text, Placement& out) = 0;
  // The width of a run: the sum of its shaped advances.
  virtual int32_t textExtent(std::u16string_view text) = 0;
  // The code points of the face's character map, merged into ranges.
  virtual std::vector<UnicodeRange> unicodeRanges() = 0;
  // The unhinted outline of a glyph (by index) at the font's size, y
  // downward, as records of polygon headers (type 24: byte size, type,
  // start point) each followed by curve records (uint16 kind 1 lines,
  // 2 quadratic spline, 3 cubic spline; uint16 point count; points), every
  // coordinate a 16.16 fixed value. Answers the byte size of the records and
  // fills buffer when it is large enough; 0 for a glyph without outline
  // (a space), -1 when the glyph or the face does not exist.
  virtual int32_t glyphOutline(uint16_t glyph, std::span<uint8_t> buffer) = 0;
  // Draws a run anti-aliased in color (0x00RRGGBB) with the top of its cell
  // at (x, y), clipped to clip and the surface; only the colour channels
  // change. Underline and strike-out of the font are drawn.
  virtual void drawText(const Surface& surface, int32_t x, int32_t y, std::u16string_view text, uint32_t color,
                        const ClipRect& clip) = 0;
};

using FontHandle = std::shared_ptr<Font>;

// Counts of what the backend holds, for leak checks: live handles and the
// faces and sizes loaded (for them, and the few kept after their release).
struct FontStats {
  int64_t liveFonts = 0;
  int64_t loadedFaces = 0;
};

class FontBackend {
 public:
  virtual ~FontBackend() = default;
  // Never null: when no face is installed the font measures and draws the
  // missing-glyph box.
  virtual FontHandle createFont(const FontRequest& request) = 0;
  // The families to try, in order, for characters the family lacks: the
  // installed faces sorted by closeness to it, outline faces only, each file
  // once; the family's own face comes first.
  virtual std::vector<std::u16string> fallbackFamilies(const std::u16string& family) = 0;
  // The family and point size of the user interface's message font.
  virtual std::u16string messageFontFamily() = 0;
  virtual float messageFontSize() = 0;
  // Logical pixels per inch of the screen (both directions).
  virtual int32_t screenDpi() = 0;
  virtual FontStats stats() = 0;
  // Releases the fonts and faces the backend keeps after their last use (the
  // most recently made fonts and the most recently released faces stay, so
  // that laying out line after line does not make them again).
  virtual void releaseCachedFaces() = 0;
};

// Installs a backend (nullptr: the Linux backend) and answers the previous one.
FontBackend* setFontBackend(FontBackend* backend);
// The installed backend.
FontBackend* fontBackend();
// The Linux backend over the system's fontconfig configuration plus the
// layer's own family mappings (Arial, Times New Roman, Courier New, the UI
// families and the missing-glyph family), made on first use.
FontBackend* linuxFontBackend();
// A backend that knows only the given font files (empty: no fonts at all),
// with the same family mappings: tests pin their faces with it.
std::unique_ptr<FontBackend> createFontBackendFromFiles(const std::vector<std::string>& files);

// Shorthands through the installed backend.
FontHandle createFont(const FontRequest& request);
int32_t screenDpi();

}  // namespace platform::fonts
