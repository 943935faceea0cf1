// The font services over fontconfig (matching, fallback order), FreeType
// (faces, metrics, ABC widths, coverage, rasterising), HarfBuzz (shaping) and
// FriBidi (bidirectional levels).
//
// Locking: one recursive mutex per backend guards fontconfig, the FreeType
// library and every face; HarfBuzz fonts are immutable once made and shape
// outside it. Faces are loaded once per (file, face index, pixel size) and
// freed with the last font handle that uses them.
#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_TRUETYPE_TABLES_H
#include FT_SIZES_H
#include FT_OUTLINE_H
#include <fribidi.h>
#include <hb.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <unordered_map>

#include "platform/fonts/api.h"
#include "platform/os/utf.h"

namespace platform::fonts {

namespace {

// Family names go to fontconfig, which wants valid UTF-8.
std::string ToUtf8(std::u16string_view s) { return os::utf8Of(s); }

std::u16string FromUtf8(const char* s) {
  std::u16string out;
  const auto* p = reinterpret_cast<const unsigned char*>(s);
  while (*p) {
    char32_t c = *p++;
    int more = 0;
    if (c >= 0xF0) {
      c &= 0x07;
      more = 3;
    } else if (c >= 0xE0) {
      c &= 0x0F;
      more = 2;
    } else if (c >= 0xC0) {
      c &= 0x1F;
      more = 1;
    }
    for (; more > 0 && (*p & 0xC0) == 0x80; --more) c = (c << 6) | (*p++ & 0x3F);
    if (c >= 0x10000) {
      c -= 0x10000;
      out += char16_t(0xD800 + (c >> 10));
      out += char16_t(0xDC00 + (c & 0x3FF));
    } else {
      out += char16_t(c);
    }
  }
  return out;
}

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  return s;
}

// Windows family names and generic names, mapped to metric-compatible or
// plainly suitable installed faces, so that results do not depend on the
// distribution's aliases. The second name is tried when the first is absent.
struct FamilyMap {
  const char* from;
  const char* to;
  const char* second;
};
constexpr FamilyMap kFamilyMap[] = {
    {"arial", "Liberation Sans", "DejaVu Sans"},
    {"helvetica", "Liberation Sans", "DejaVu Sans"},
    {"times new roman", "Liberation Serif", "DejaVu Serif"},
    {"times", "Liberation Serif", "DejaVu Serif"},
    {"courier new", "Liberation Mono", "DejaVu Sans Mono"},
    {"courier", "Liberation Mono", "DejaVu Sans Mono"},
    {"ms sans serif", "DejaVu Sans", "Liberation Sans"},
    {"microsoft sans serif", "DejaVu Sans", "Liberation Sans"},
    {"ms shell dlg", "DejaVu Sans", "Liberation Sans"},
    {"ms shell dlg 2", "DejaVu Sans", "Liberation Sans"},
    {"segoe ui", "DejaVu Sans", "Liberation Sans"},
    {"tahoma", "DejaVu Sans", "Liberation Sans"},
    {"verdana", "DejaVu Sans", "Liberation Sans"},
    {"sans-serif", "DejaVu Sans", "Liberation Sans"},
    {"sans", "DejaVu Sans", "Liberation Sans"},
    {"serif", "DejaVu Serif", "Liberation Serif"},
    {"monospace", "DejaVu Sans Mono", "Liberation Mono"},
    // The face of characters no accepted font covers: its missing-glyph
    // box is visible.
    {"wingdings", "DejaVu Sans", "Liberation Sans"},
};

const FamilyMap* MapFamily(const std::string& lowered) {
  for (const auto& m : kFamilyMap)
    if (lowered == m.from) return &m;
  return nullptr;
}

int32_t Round26(FT_Pos v) { return int32_t((v + 32) >> 6); }  // 26.6 to nearest pixel
int32_t Floor26(FT_Pos v) { return int32_t(v >> 6); }
int32_t Ceil26(FT_Pos v) { return int32_t((v + 63) >> 6); }

struct GlyphBitmap {
  int32_t left = 0, top = 0, width = 0, rows = 0;
  std::vector<uint8_t> pixels;
};

class LinuxBackend;

struct ShapedGlyph {
  uint32_t gid;
  uint32_t cluster;  // code-unit index of the cluster's first character
  int32_t advance;   // pixels
  int32_t xOffset, yOffset;  // 26.6
  uint8_t level;
};

// One font file's face, shared by every size of it.
struct FileFace {
  LinuxBackend* owner = nullptr;
  std::string key;
  FT_Face face = nullptr;
  hb_face_t* hbFace = nullptr;
  ~FileFace();
};

// One face at one pixel size: the file's face with a size object of its own.
struct FaceEntry {
  LinuxBackend* owner = nullptr;
  std::string key;
  std::string file;
  int index = 0;
  int32_t ppem = 0;
  std::shared_ptr<FileFace> fileFace;
  FT_Face face = nullptr;  // the file's face; activate the size before use
  FT_Size size = nullptr;
  hb_font_t* hbFont = nullptr;
  std::shared_ptr<const std::vector<UnicodeRange>> coverage;
  std::unordered_map<uint32_t, GlyphBitmap> bitmaps;  // rendered glyphs, under the backend lock
  std::unordered_map<uint32_t, AbcWidth> abcs;
  struct Shaped {
    std::u16string text;
    std::vector<ShapedGlyph> glyphs;
    std::vector<uint8_t> levels;
  };
  std::deque<Shaped> shaped;  // most recent first
  // The face set to this size (call under the backend lock).
  FT_Face Active() {
    FT_Activate_Size(size);
    return face;
  }
  ~FaceEntry();
};


class LinuxBackend : public FontBackend {
 public:
  // files empty and pinned: no fonts; pinned: only the files.
  LinuxBackend(bool pinned, const std::vector<std::string>& files) {
    std::lock_guard g(mu_);
    if (pinned) {
      config_ = FcConfigCreate();
      for (const auto& f : files) FcConfigAppFontAddFile(config_, reinterpret_cast<const FcChar8*>(f.c_str()));
    } else {
      config_ = FcInitLoadConfigAndFonts();
    }
    if (FT_Init_FreeType(&ft_) != 0) ft_ = nullptr;
  }
  ~LinuxBackend() override {
    std::lock_guard g(mu_);
    recentFonts_.clear();
    recent_.clear();
    fonts_.clear();
    if (ft_) FT_Done_FreeType(ft_);
    if (config_) FcConfigDestroy(config_);
  }

  FontHandle createFont(const FontRequest& request) override;
  std::vector<std::u16string> fallbackFamilies(const std::u16string& family) override;
  std::u16string messageFontFamily() override {
    std::lock_guard g(mu_);
    Match m = MatchLocked("sans-serif", FW_NORMAL, false, 12);
    return m.file.empty() ? u"DejaVu Sans" : FromUtf8(m.family.c_str());
  }
  float messageFontSize() override { return 9.0f; }
  int32_t screenDpi() override { return 96; }
  FontStats stats() override { return {liveFonts_.load(), loadedFaces_.load()}; }
  void releaseCachedFaces() override {
    std::deque<FontHandle> fonts;
    std::lock_guard g(mu_);
    fonts.swap(recentFonts_);
    fonts.clear();
    recent_.clear();
  }
  // Keeps the face of a released font loaded for a while: lines are laid
  // out font by font, and loading a face costs far more than shaping.
  void KeepRecent(std::shared_ptr<FaceEntry> e) {
    if (!e) return;
    std::lock_guard g(mu_);
    auto it = std::find(recent_.begin(), recent_.end(), e);
    if (it != recent_.end()) recent_.erase(it);
    recent_.push_front(std::move(e));
    if (recent_.size() > kRecentFaces) recent_.pop_back();
  }
  static constexpr size_t kRecentFaces = 64;

  std::recursive_mutex mu_;
  std::atomic<int64_t> liveFonts_{0};
  std::atomic<int64_t> loadedFaces_{0};

  struct Match {
    std::string file;
    int index = 0;
    std::string family;
  };
  Match MatchLocked(const std::string& family, int32_t weight, bool italic, double pixelSize);
  std::shared_ptr<FaceEntry> FaceLocked(const Match& m, int32_t ppem);
  void ForgetFace(const std::string& key) {
    auto it = faces_.find(key);
    if (it != faces_.end() && it->second.expired()) faces_.erase(it);
  }
  FT_Library ft() const { return ft_; }
  std::shared_ptr<const std::vector<UnicodeRange>> CoverageLocked(FaceEntry& e);

 private:
  FcConfig* config_ = nullptr;
  FT_Library ft_ = nullptr;
  std::map<std::string, Match> matches_;
  std::unordered_map<std::string, std::weak_ptr<FaceEntry>> faces_;
  std::unordered_map<std::string, std::weak_ptr<FileFace>> files_;
 public:
  std::shared_ptr<FileFace> FileFaceLocked(const std::string& file, int index);
  void ForgetFile(const std::string& key) {
    auto it = files_.find(key);
    if (it != files_.end() && it->second.expired()) files_.erase(it);
  }
 private:
  std::unordered_map<std::u16string, std::weak_ptr<Font>> fonts_;
  std::map<std::string, std::shared_ptr<const std::vector<UnicodeRange>>> coverages_;
  std::map<std::string, std::vector<std::u16string>> fallbacks_;
  std::deque<std::shared_ptr<FaceEntry>> recent_;
 public:
  // The fonts made last stay alive for a while as well (a line asks for the
  // same few fonts many times).
  std::deque<FontHandle> recentFonts_;
  static constexpr size_t kRecentFonts = 64;
};

FaceEntry::~FaceEntry() {
  std::lock_guard g(owner->mu_);
  if (hbFont) hb_font_destroy(hbFont);
  if (size) FT_Done_Size(size);
  fileFace.reset();
  owner->loadedFaces_--;
  owner->ForgetFace(key);
}

FileFace::~FileFace() {
  std::lock_guard g(owner->mu_);
  if (hbFace) hb_face_destroy(hbFace);
  if (face) FT_Done_Face(face);
  owner->ForgetFile(key);
}

FcPattern* MakePattern(const std::string& family, int32_t weight, bool italic, double pixelSize) {
  FcPattern* pat = FcPatternCreate();
  std::string lowered = Lower(family);
  if (const FamilyMap* m = MapFamily(lowered)) {
    FcPatternAddString(pat, FC_FAMILY, reinterpret_cast<const FcChar8*>(m->to));
    FcPatternAddString(pat, FC_FAMILY, reinterpret_cast<const FcChar8*>(m->second));
  } else if (!family.empty()) {
    FcPatternAddString(pat, FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
  }
  FcPatternAddInteger(pat, FC_WEIGHT, weight >= 600 ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
  FcPatternAddInteger(pat, FC_SLANT, italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
  if (pixelSize > 0) FcPatternAddDouble(pat, FC_PIXEL_SIZE, pixelSize);
  FcPatternAddBool(pat, FC_SCALABLE, FcTrue);
  return pat;
}

LinuxBackend::Match LinuxBackend::MatchLocked(const std::string& family, int32_t weight, bool italic,
                                              double pixelSize) {
  std::string key = Lower(family) + "|" + std::to_string(weight >= 600) + "|" + std::to_string(italic);
  auto it = matches_.find(key);
  if (it != matches_.end()) return it->second;
  Match m;
  if (config_) {
    FcPattern* pat = MakePattern(family, weight, italic, pixelSize);
    FcConfigSubstitute(config_, pat, FcMatchPattern);
    FcDefaultSubstitute(pat);
    FcResult result = FcResultNoMatch;
    FcPattern* found = FcFontMatch(config_, pat, &result);
    if (found) {
      FcChar8* file = nullptr;
      FcChar8* fam = nullptr;
      int index = 0;
      if (FcPatternGetString(found, FC_FILE, 0, &file) == FcResultMatch) {
        m.file = reinterpret_cast<const char*>(file);
        if (FcPatternGetInteger(found, FC_INDEX, 0, &index) == FcResultMatch) m.index = index;
        if (FcPatternGetString(found, FC_FAMILY, 0, &fam) == FcResultMatch) m.family = reinterpret_cast<const char*>(fam);
      }
      FcPatternDestroy(found);
    }
    FcPatternDestroy(pat);
  }
  matches_[key] = m;
  return m;
}

std::shared_ptr<FileFace> LinuxBackend::FileFaceLocked(const std::string& file, int index) {
  std::string key = file + "|" + std::to_string(index);
  auto it = files_.find(key);
  if (it != files_.end())
    if (auto f = it->second.lock()) return f;
  FT_Face face = nullptr;
  if (FT_New_Face(ft_, file.c_str(), index, &face) != 0) return nullptr;
  if (!FT_IS_SCALABLE(face)) {
    FT_Done_Face(face);
    return nullptr;
  }
  auto f = std::make_shared<FileFace>();
  f->owner = this;
  f->key = key;
  f->face = face;
  hb_blob_t* blob = hb_blob_create_from_file(file.c_str());
  f->hbFace = hb_face_create(blob, unsigned(index));
  hb_blob_destroy(blob);
  hb_face_make_immutable(f->hbFace);
  files_[key] = f;
  return f;
}

std::shared_ptr<FaceEntry> LinuxBackend::FaceLocked(const Match& m, int32_t ppem) {
  if (m.file.empty() || !ft_) return nullptr;
  std::string key = m.file + "|" + std::to_string(m.index) + "|" + std::to_string(ppem);
  auto it = faces_.find(key);
  if (it != faces_.end())
    if (auto e = it->second.lock()) return e;
  std::shared_ptr<FileFace> ff = FileFaceLocked(m.file, m.index);
  if (!ff) return nullptr;
  FT_Size size = nullptr;
  if (FT_New_Size(ff->face, &size) != 0) return nullptr;
  FT_Activate_Size(size);
  if (FT_Set_Pixel_Sizes(ff->face, 0, FT_UInt(std::max(1, ppem))) != 0) {
    FT_Done_Size(size);
    return nullptr;
  }
  auto e = std::make_shared<FaceEntry>();
  e->owner = this;
  e->key = key;
  e->file = m.file;
  e->index = m.index;
  e->ppem = ppem;
  e->fileFace = ff;
  e->face = ff->face;
  e->size = size;
  e->hbFont = hb_font_create(ff->hbFace);
  hb_font_set_scale(e->hbFont, ppem * 64, ppem * 64);
  hb_font_make_immutable(e->hbFont);
  loadedFaces_++;
  faces_[key] = e;
  return e;
}

std::shared_ptr<const std::vector<UnicodeRange>> LinuxBackend::CoverageLocked(FaceEntry& e) {
  if (e.coverage) return e.coverage;
  std::string key = e.file + "|" + std::to_string(e.index);
  auto it = coverages_.find(key);
  if (it != coverages_.end()) return e.coverage = it->second;
  auto ranges = std::make_shared<std::vector<UnicodeRange>>();
  FT_UInt gid = 0;
  FT_ULong c = FT_Get_First_Char(e.face, &gid);
  while (gid != 0) {
    if (!ranges->empty() && ranges->back().last + 1 == c)
      ranges->back().last = char32_t(c);
    else
      ranges->push_back({char32_t(c), char32_t(c)});
    c = FT_Get_Next_Char(e.face, c, &gid);
  }
  coverages_[key] = ranges;
  return e.coverage = ranges;
}

// Code points of a UTF-16 text with the index of each one's first unit.
void Decode(std::u16string_view text, std::vector<uint32_t>& cps, std::vector<uint32_t>& units) {
  cps.clear();
  units.clear();
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    units.push_back(uint32_t(i));
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    }
    cps.push_back(uint32_t(c));
  }
}

class LinuxFont : public Font {
 public:
  LinuxFont(LinuxBackend* owner, std::shared_ptr<FaceEntry> entry, int32_t ppem, const FontRequest& req,
            std::u16string family)
      : owner_(owner), entry_(std::move(entry)), ppem_(ppem), req_(req), family_(std::move(family)) {
    owner_->liveFonts_++;
  }
  ~LinuxFont() override {
    owner_->KeepRecent(std::move(entry_));
    owner_->liveFonts_--;
  }

  std::u16string faceFamily() const override { return entry_ ? family_ : u""; }
  std::string faceFile() const override { return entry_ ? entry_->file : ""; }
  int32_t pixelSize() const override { return ppem_; }
  bool isScalable() const override { return entry_ != nullptr; }

  TextMetrics textMetrics() override;
  bool outlineMetrics(OutlineMetrics& out) override;
  bool charAbcWidths(char32_t first, char32_t last, std::span<AbcWidth> out) override;
  bool glyphAbcWidths(std::span<const uint16_t> glyphs, std::span<AbcWidth> out) override;
  void glyphIndices(std::u16string_view text, std::span<uint16_t> out, bool markMissing) override;
  bool placeText(std::u16string_view text, Placement& out) override;
  int32_t textExtent(std::u16string_view text) override {
    Placement p;
    placeText(text, p);
    return p.width;
  }
  std::vector<UnicodeRange> unicodeRanges() override {
    if (!entry_) return {};
    std::lock_guard g(owner_->mu_);
    return *owner_->CoverageLocked(*entry_);
  }
  void drawText(const Surface& surface, int32_t x, int32_t y, std::u16string_view text, uint32_t color,
                const ClipRect& clip) override;
  int32_t glyphOutline(uint16_t glyph, std::span<uint8_t> buffer) override;

 private:
  int32_t BoxWidth() const { return std::max(1, ppem_ * 3 / 5); }
  AbcWidth GlyphAbcLocked(uint32_t gid);
  // Shapes text into glyphs in visual order; levels per code unit. The
  // face keeps the last few results: a line is placed, measured and drawn
  // in the same font one after the other.
  void Shape(std::u16string_view text, std::vector<ShapedGlyph>& glyphs, std::vector<uint8_t>& levels);
  void ShapeUncached(std::u16string_view text, std::vector<ShapedGlyph>& glyphs, std::vector<uint8_t>& levels);

  LinuxBackend* owner_;
  std::shared_ptr<FaceEntry> entry_;
  int32_t ppem_;
  FontRequest req_;
  std::u16string family_;
  bool haveMetrics_ = false;
  TextMetrics metrics_;
};

TextMetrics LinuxFont::textMetrics() {
  std::lock_guard lock(owner_->mu_);
  if (haveMetrics_) return metrics_;
  TextMetrics m;
  m.weight = req_.weight >= 600 ? FW_BOLD : FW_NORMAL;
  m.italic = req_.italic;
  m.defaultChar = 0xFFFF;  // a noncharacter: no face maps it, so it shows the missing glyph
  if (!entry_) {
    m.ascent = (ppem_ * 4 + 4) / 5;
    m.descent = ppem_ - m.ascent;
    m.height = ppem_;
    m.aveCharWidth = m.maxCharWidth = BoxWidth();
    m.pitchAndFamily = 0;
  } else {
    FT_Face f = entry_->Active();
    const FT_Size_Metrics& sm = f->size->metrics;
    m.ascent = Ceil26(sm.ascender);
    m.descent = Ceil26(-sm.descender);
    m.height = m.ascent + m.descent;
    m.internalLeading = std::max(0, m.height - ppem_);
    m.externalLeading = std::max(0, Round26(sm.height) - m.height);
    m.maxCharWidth = Ceil26(sm.max_advance);
    auto* os2 = static_cast<TT_OS2*>(FT_Get_Sfnt_Table(f, FT_SFNT_OS2));
    if (os2 && os2->version != 0xFFFF && f->units_per_EM)
      m.aveCharWidth = int32_t(std::lround(double(os2->xAvgCharWidth) * ppem_ / f->units_per_EM));
    else
      m.aveCharWidth = m.maxCharWidth / 2;
    m.pitchAndFamily = uint8_t((FT_IS_FIXED_WIDTH(f) ? 0 : TMPF_VARIABLE_PITCH) | TMPF_VECTOR | TMPF_TRUETYPE);
    if (!req_.weight || req_.weight < 600) m.weight = (f->style_flags & FT_STYLE_FLAG_BOLD) ? FW_BOLD : FW_NORMAL;
  }
  metrics_ = m;
  haveMetrics_ = true;
  return m;
}

bool LinuxFont::outlineMetrics(OutlineMetrics& out) {
  TextMetrics tm = textMetrics();
  out = {};
  out.ascent = tm.ascent;
  out.descent = tm.descent;
  if (!entry_) return false;
  std::lock_guard g(owner_->mu_);
  FT_Face f = entry_->Active();
  double scale = double(ppem_) / f->units_per_EM;
  out.underscorePosition = int32_t(std::lround(f->underline_position * scale));
  out.underscoreSize = std::max<int32_t>(1, int32_t(std::lround(f->underline_thickness * scale)));
  auto* os2 = static_cast<TT_OS2*>(FT_Get_Sfnt_Table(f, FT_SFNT_OS2));
  if (os2 && os2->version != 0xFFFF && os2->yStrikeoutSize > 0) {
    out.strikeoutPosition = int32_t(std::lround(os2->yStrikeoutPosition * scale));
    out.strikeoutSize = std::max<int32_t>(1, int32_t(std::lround(os2->yStrikeoutSize * scale)));
  } else {
    out.strikeoutPosition = tm.ascent / 3;
    out.strikeoutSize = out.underscoreSize;
  }
  return true;
}

AbcWidth LinuxFont::GlyphAbcLocked(uint32_t gid) {
  auto it = entry_->abcs.find(gid);
  if (it != entry_->abcs.end()) return it->second;
  AbcWidth w;
  int32_t adv = Round26(hb_font_get_glyph_h_advance(entry_->hbFont, gid));
  FT_Face face = entry_->Active();
  if (FT_Load_Glyph(face, gid, FT_LOAD_NO_HINTING | FT_LOAD_NO_BITMAP) == 0) {
    const FT_Glyph_Metrics& gm = face->glyph->metrics;
    if (gm.width > 0) {
      w.a = Floor26(gm.horiBearingX);
      w.b = Ceil26(gm.horiBearingX + gm.width) - w.a;
    }
  }
  w.c = adv - w.a - w.b;
  entry_->abcs.emplace(gid, w);
  return w;
}

namespace {

// Writes FreeType's outline as the records of a GDI outline: one polygon
// per contour, runs of lines and of cubic segments merged into one record,
// each quadratic segment a record of its control and end point.
struct OutlineWriter {
  std::vector<uint8_t> out;
  size_t polygon = SIZE_MAX;  // offset of the open polygon's header
  size_t curve = SIZE_MAX;    // offset of the open curve record
  uint16_t curveKind = 0;
  bool failed = false;

  // 26.6 to 16.16, held to what 16.16 can hold.
  static int32_t Fixed(FT_Pos v26) {
    return int32_t(std::clamp<int64_t>(int64_t(v26) * 1024, INT32_MIN, INT32_MAX));
  }
  void Put32(int32_t v) {
    uint32_t u = uint32_t(v);
    for (int i = 0; i < 4; ++i) out.push_back(uint8_t(u >> (8 * i)));
  }
  void Set32(size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) out[at + size_t(i)] = uint8_t(v >> (8 * i));
  }
  void Point(const FT_Vector* p) {
    Put32(Fixed(p->x));
    Put32(-Fixed(p->y));
  }
  void ClosePolygon() {
    curve = SIZE_MAX;
    if (polygon != SIZE_MAX) Set32(polygon, uint32_t(out.size() - polygon));
    polygon = SIZE_MAX;
  }
  void Curve(uint16_t kind, bool merge) {
    if (!(merge && curve != SIZE_MAX && curveKind == kind)) {
      curve = out.size();
      curveKind = kind;
      out.push_back(uint8_t(kind));
      out.push_back(0);
      out.push_back(0);
      out.push_back(0);
    }
  }
  void AddPoints(int n) {
    const uint16_t count = uint16_t(out[curve + 2] | (out[curve + 3] << 8)) + uint16_t(n);
    out[curve + 2] = uint8_t(count);
    out[curve + 3] = uint8_t(count >> 8);
  }
  static int MoveTo(const FT_Vector* to, void* user) {
    auto* w = static_cast<OutlineWriter*>(user);
    w->ClosePolygon();
    w->polygon = w->out.size();
    w->Put32(0);
    w->Put32(24);
    w->Point(to);
    return 0;
  }
  static int LineTo(const FT_Vector* to, void* user) {
    auto* w = static_cast<OutlineWriter*>(user);
    w->Curve(1, true);
    w->Point(to);
    w->AddPoints(1);
    return 0;
  }
  static int ConicTo(const FT_Vector* control, const FT_Vector* to, void* user) {
    auto* w = static_cast<OutlineWriter*>(user);
    w->Curve(2, false);
    w->Point(control);
    w->Point(to);
    w->AddPoints(2);
    return 0;
  }
  static int CubicTo(const FT_Vector* c1, const FT_Vector* c2, const FT_Vector* to, void* user) {
    auto* w = static_cast<OutlineWriter*>(user);
    w->Curve(3, true);
    w->Point(c1);
    w->Point(c2);
    w->Point(to);
    w->AddPoints(3);
    return 0;
  }
};

}  // namespace

int32_t LinuxFont::glyphOutline(uint16_t glyph, std::span<uint8_t> buffer) {
  if (!entry_) return -1;
  OutlineWriter w;
  {
    std::lock_guard g(owner_->mu_);
    FT_Face f = entry_->Active();
    if (glyph >= f->num_glyphs) return -1;
    if (FT_Load_Glyph(f, glyph, FT_LOAD_NO_HINTING | FT_LOAD_NO_BITMAP) != 0) return -1;
    if (f->glyph->format != FT_GLYPH_FORMAT_OUTLINE) return -1;
    FT_Outline_Funcs funcs{};
    funcs.move_to = &OutlineWriter::MoveTo;
    funcs.line_to = &OutlineWriter::LineTo;
    funcs.conic_to = &OutlineWriter::ConicTo;
    funcs.cubic_to = &OutlineWriter::CubicTo;
    if (FT_Outline_Decompose(&f->glyph->outline, &funcs, &w) != 0) return -1;
    w.ClosePolygon();
  }
  if (w.out.size() > size_t(INT32_MAX)) return -1;
  if (!w.out.empty() && buffer.size() >= w.out.size()) std::memcpy(buffer.data(), w.out.data(), w.out.size());
  return int32_t(w.out.size());
}

bool LinuxFont::charAbcWidths(char32_t first, char32_t last, std::span<AbcWidth> out) {
  if (last < first || out.size() < size_t(last - first + 1)) return false;
  if (!entry_) {
    for (auto& w : out) w = {0, BoxWidth(), 0};
    return true;
  }
  std::lock_guard g(owner_->mu_);
  for (char32_t c = first; c <= last; ++c) {
    hb_codepoint_t gid = 0;
    hb_font_get_nominal_glyph(entry_->hbFont, c, &gid);
    out[c - first] = GlyphAbcLocked(gid);
  }
  return true;
}

bool LinuxFont::glyphAbcWidths(std::span<const uint16_t> glyphs, std::span<AbcWidth> out) {
  if (out.size() < glyphs.size()) return false;
  if (!entry_) {
    for (size_t i = 0; i < glyphs.size(); ++i) out[i] = {0, BoxWidth(), 0};
    return true;
  }
  std::lock_guard g(owner_->mu_);
  unsigned count = hb_face_get_glyph_count(hb_font_get_face(entry_->hbFont));
  for (size_t i = 0; i < glyphs.size(); ++i) out[i] = glyphs[i] < count ? GlyphAbcLocked(glyphs[i]) : GlyphAbcLocked(0);
  return true;
}

void LinuxFont::glyphIndices(std::u16string_view text, std::span<uint16_t> out, bool markMissing) {
  size_t n = std::min(text.size(), out.size());
  for (size_t i = 0; i < n; ++i) {
    char32_t c = text[i];
    bool pair = c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000;
    if (pair) c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
    hb_codepoint_t gid = 0;
    if (entry_) hb_font_get_nominal_glyph(entry_->hbFont, c, &gid);
    out[i] = gid ? uint16_t(gid) : (markMissing ? MissingGlyph : 0);
    if (pair && i + 1 < n) out[++i] = 0;
  }
}

// Orders level runs visually: from the highest level down to the lowest odd
// one, every maximal stretch of runs at that level or above is reversed.
std::vector<size_t> VisualRunOrder(const std::vector<uint8_t>& runLevels) {
  std::vector<size_t> order(runLevels.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  if (runLevels.empty()) return order;
  uint8_t hi = *std::max_element(runLevels.begin(), runLevels.end());
  uint8_t lowOdd = 255;
  for (uint8_t l : runLevels)
    if (l & 1) lowOdd = std::min(lowOdd, l);
  for (int level = hi; level >= lowOdd && level > 0; --level) {
    size_t i = 0;
    while (i < order.size()) {
      if (runLevels[order[i]] >= level) {
        size_t j = i;
        while (j < order.size() && runLevels[order[j]] >= level) ++j;
        std::reverse(order.begin() + long(i), order.begin() + long(j));
        i = j;
      } else {
        ++i;
      }
    }
  }
  return order;
}

bool RealScript(hb_script_t s) {
  return s != HB_SCRIPT_COMMON && s != HB_SCRIPT_INHERITED && s != HB_SCRIPT_UNKNOWN;
}

void LinuxFont::ShapeUncached(std::u16string_view text, std::vector<ShapedGlyph>& glyphs,
                              std::vector<uint8_t>& levels) {
  glyphs.clear();
  levels.assign(text.size(), 0);
  std::vector<uint32_t> cps, units;
  Decode(text, cps, units);
  size_t n = cps.size();
  if (n == 0) return;
  std::vector<FriBidiCharType> types(n);
  std::vector<FriBidiBracketType> brackets(n);
  std::vector<FriBidiLevel> cpLevels(n);
  fribidi_get_bidi_types(cps.data(), FriBidiStrIndex(n), types.data());
  fribidi_get_bracket_types(cps.data(), FriBidiStrIndex(n), types.data(), brackets.data());
  FriBidiParType base = FRIBIDI_PAR_LTR;
  if (fribidi_get_par_embedding_levels_ex(types.data(), brackets.data(), FriBidiStrIndex(n), &base, cpLevels.data()) ==
      0)
    std::fill(cpLevels.begin(), cpLevels.end(), 0);
  for (size_t k = 0; k < n; ++k) {
    size_t end = k + 1 < n ? units[k + 1] : text.size();
    for (size_t u = units[k]; u < end; ++u) levels[u] = uint8_t(cpLevels[k]);
  }
  // Runs of one level and one script, in logical order (code-point ranges).
  hb_unicode_funcs_t* uf = hb_unicode_funcs_get_default();
  std::vector<hb_script_t> scripts(n);
  for (size_t k = 0; k < n; ++k) scripts[k] = hb_unicode_script(uf, cps[k]);
  // Common and inherited characters take the script before them, or after
  // them at the start.
  hb_script_t last = HB_SCRIPT_COMMON;
  for (size_t k = 0; k < n; ++k) {
    if (RealScript(scripts[k]))
      last = scripts[k];
    else
      scripts[k] = last;
  }
  last = HB_SCRIPT_LATIN;
  for (size_t k = n; k-- > 0;) {
    if (RealScript(scripts[k]))
      last = scripts[k];
    else
      scripts[k] = last;
  }
  struct Run {
    size_t first, end;  // code points
    uint8_t level;
    hb_script_t script;
  };
  std::vector<Run> runs;
  for (size_t k = 0; k < n; ++k) {
    uint8_t l = uint8_t(cpLevels[k]);
    if (!runs.empty() && runs.back().level == l && runs.back().script == scripts[k])
      runs.back().end = k + 1;
    else
      runs.push_back({k, k + 1, l, scripts[k]});
  }
  std::vector<uint8_t> runLevels;
  for (const auto& r : runs) runLevels.push_back(r.level);
  std::vector<size_t> visual = VisualRunOrder(runLevels);

  if (!entry_) {
    for (size_t vi : visual) {
      const Run& r = runs[vi];
      bool rtl = r.level & 1;
      for (size_t q = 0; q < r.end - r.first; ++q) {
        size_t k = rtl ? r.end - 1 - q : r.first + q;
        glyphs.push_back({0, units[k], BoxWidth(), 0, 0, r.level});
      }
    }
    return;
  }
  hb_buffer_t* buf = hb_buffer_create();
  for (size_t vi : visual) {
    const Run& r = runs[vi];
    hb_buffer_clear_contents(buf);
    unsigned from = units[r.first];
    unsigned to = r.end < n ? units[r.end] : unsigned(text.size());
    hb_buffer_add_utf16(buf, reinterpret_cast<const uint16_t*>(text.data()), int(text.size()), from, int(to - from));
    hb_buffer_set_direction(buf, (r.level & 1) ? HB_DIRECTION_RTL : HB_DIRECTION_LTR);
    hb_buffer_set_script(buf, r.script);
    hb_buffer_set_language(buf, hb_language_get_default());
    hb_shape(entry_->hbFont, buf, nullptr, 0);
    unsigned count = 0;
    hb_glyph_info_t* info = hb_buffer_get_glyph_infos(buf, &count);
    hb_glyph_position_t* pos = hb_buffer_get_glyph_positions(buf, &count);
    for (unsigned i = 0; i < count; ++i)
      glyphs.push_back({info[i].codepoint, info[i].cluster, Round26(pos[i].x_advance), pos[i].x_offset,
                        pos[i].y_offset, r.level});
  }
  hb_buffer_destroy(buf);
}

void LinuxFont::Shape(std::u16string_view text, std::vector<ShapedGlyph>& glyphs, std::vector<uint8_t>& levels) {
  if (!entry_) {
    ShapeUncached(text, glyphs, levels);
    return;
  }
  {
    std::lock_guard g(owner_->mu_);
    for (const auto& c : entry_->shaped)
      if (c.text == text) {
        glyphs = c.glyphs;
        levels = c.levels;
        return;
      }
  }
  ShapeUncached(text, glyphs, levels);
  std::lock_guard g(owner_->mu_);
  entry_->shaped.push_front({std::u16string(text), glyphs, levels});
  if (entry_->shaped.size() > 8) entry_->shaped.pop_back();
}

bool LinuxFont::placeText(std::u16string_view text, Placement& out) {
  out = {};
  size_t n = text.size();
  out.order.assign(n, 0);
  out.advances.assign(n, 0);
  out.classes.assign(n, GCPCLASS_LATIN);
  out.carets.assign(n, 0);
  if (n == 0) return true;
  std::vector<ShapedGlyph> shaped;
  std::vector<uint8_t> levels;
  Shape(text, shaped, levels);
  size_t g = shaped.size();
  out.glyphs.resize(g);
  out.glyphAdvances.resize(g);
  out.glyphOffsets.resize(g);
  int32_t x = 0;
  // Per cluster start (code unit): its leftmost glyph, x span.
  std::vector<int32_t> firstGlyph(n, -1), left(n, 0), right(n, 0);
  for (size_t i = 0; i < g; ++i) {
    out.glyphs[i] = uint16_t(shaped[i].gid);
    out.glyphAdvances[i] = shaped[i].advance;
    out.glyphOffsets[i] = x;
    uint32_t c = std::min<uint32_t>(shaped[i].cluster, uint32_t(n - 1));
    if (firstGlyph[c] < 0) {
      firstGlyph[c] = int32_t(i);
      left[c] = x;
      right[c] = x + shaped[i].advance;
    } else {
      left[c] = std::min(left[c], x);
      right[c] = std::max(right[c], x + shaped[i].advance);
    }
    x += shaped[i].advance;
  }
  out.width = x;
  for (size_t u = 0; u < n; ++u) out.classes[u] = (levels[u] & 1) ? GCPCLASS_HEBREW : GCPCLASS_LATIN;
  // Each unit belongs to the nearest cluster start at or before it.
  size_t u = 0;
  while (u < n) {
    if (firstGlyph[u] < 0) {  // text before the first cluster (cannot happen with HarfBuzz): own empty cluster
      out.order[u] = 0;
      ++u;
      continue;
    }
    size_t end = u + 1;
    while (end < n && firstGlyph[end] < 0) ++end;
    // Code points of the cluster share its width evenly for caret positions.
    std::vector<size_t> starts;
    for (size_t k = u; k < end; ++k)
      if (!(text[k] >= 0xDC00 && text[k] < 0xE000 && k > u && text[k - 1] >= 0xD800 && text[k - 1] < 0xDC00))
        starts.push_back(k);
    bool rtl = levels[u] & 1;
    int32_t w = right[u] - left[u];
    size_t cp = 0;
    for (size_t k = u; k < end; ++k) {
      if (cp + 1 < starts.size() && starts[cp + 1] == k) ++cp;
      out.order[k] = firstGlyph[u];
      out.advances[k] = k == u ? w : 0;
      int32_t part = int32_t(int64_t(w) * int64_t(cp) / int64_t(starts.size()));
      out.carets[k] = rtl ? right[u] - part : left[u] + part;
    }
    u = end;
  }
  return true;
}

void BlendSpan(uint8_t* px, uint8_t cov, uint8_t r, uint8_t g, uint8_t b) {
  if (cov == 0) return;
  int keep = 255 - cov;
  px[0] = uint8_t((px[0] * keep + b * cov + 127) / 255);
  px[1] = uint8_t((px[1] * keep + g * cov + 127) / 255);
  px[2] = uint8_t((px[2] * keep + r * cov + 127) / 255);
}

void FillRect(const Surface& s, const ClipRect& clip, int32_t l, int32_t t, int32_t r, int32_t b, uint32_t color) {
  int bytes = s.bitsPerPixel / 8;
  l = std::max({l, clip.left, 0});
  t = std::max({t, clip.top, 0});
  r = std::min({r, clip.right, s.width});
  b = std::min({b, clip.bottom, s.height});
  for (int32_t y = t; y < b; ++y) {
    uint8_t* row = s.bits + intptr_t(y) * s.pitch;
    for (int32_t x = l; x < r; ++x)
      BlendSpan(row + x * bytes, 255, uint8_t(color >> 16), uint8_t(color >> 8), uint8_t(color));
  }
}

void LinuxFont::drawText(const Surface& surface, int32_t x, int32_t y, std::u16string_view text, uint32_t color,
                         const ClipRect& clip) {
  if (!surface.bits || (surface.bitsPerPixel != 24 && surface.bitsPerPixel != 32) || text.empty()) return;
  TextMetrics tm = textMetrics();
  int32_t baseline = y + tm.ascent;
  std::vector<ShapedGlyph> shaped;
  std::vector<uint8_t> levels;
  Shape(text, shaped, levels);
  int bytes = surface.bitsPerPixel / 8;
  int32_t cl = std::max(clip.left, 0), ct = std::max(clip.top, 0);
  int32_t cr = std::min(clip.right, surface.width), cb = std::min(clip.bottom, surface.height);
  uint8_t r = uint8_t(color >> 16), gch = uint8_t(color >> 8), b = uint8_t(color);
  int32_t pen = x;
  if (!entry_) {
    // The missing-glyph box: an outline rectangle per character.
    for (const auto& sg : shaped) {
      int32_t l = pen + 1, rr = pen + sg.advance - 1, t = baseline - tm.ascent * 3 / 4, bt = baseline;
      if (rr > l) {
        FillRect(surface, {cl, ct, cr, cb}, l, t, rr, t + 1, color);
        FillRect(surface, {cl, ct, cr, cb}, l, bt - 1, rr, bt, color);
        FillRect(surface, {cl, ct, cr, cb}, l, t, l + 1, bt, color);
        FillRect(surface, {cl, ct, cr, cb}, rr - 1, t, rr, bt, color);
      }
      pen += sg.advance;
    }
  } else {
    std::lock_guard lock(owner_->mu_);
    for (const auto& sg : shaped) {
      auto it = entry_->bitmaps.find(sg.gid);
      if (it == entry_->bitmaps.end()) {
        if (entry_->bitmaps.size() > 4096) entry_->bitmaps.clear();
        GlyphBitmap gb;
        FT_Face f = entry_->Active();
        if (FT_Load_Glyph(f, sg.gid, FT_LOAD_NO_HINTING | FT_LOAD_NO_BITMAP) == 0 &&
            FT_Render_Glyph(f->glyph, FT_RENDER_MODE_NORMAL) == 0 && f->glyph->bitmap.pixel_mode == FT_PIXEL_MODE_GRAY) {
          const FT_Bitmap& bm = f->glyph->bitmap;
          gb.left = f->glyph->bitmap_left;
          gb.top = f->glyph->bitmap_top;
          gb.width = int32_t(bm.width);
          gb.rows = int32_t(bm.rows);
          gb.pixels.resize(size_t(gb.width) * size_t(gb.rows));
          for (int32_t row = 0; row < gb.rows; ++row)
            std::memcpy(gb.pixels.data() + size_t(row) * size_t(gb.width), bm.buffer + intptr_t(row) * bm.pitch,
                        size_t(gb.width));
        }
        it = entry_->bitmaps.emplace(sg.gid, std::move(gb)).first;
      }
      const GlyphBitmap& gb = it->second;
      int32_t ox = pen + Round26(sg.xOffset) + gb.left;
      int32_t oy = baseline - Round26(sg.yOffset) - gb.top;
      const int32_t x0 = std::max(ox, cl), x1 = std::min(ox + gb.width, cr);
      const int32_t y0 = std::max(oy, ct), y1 = std::min(oy + gb.rows, cb);
      for (int32_t py = y0; py < y1; ++py) {
        uint8_t* line = surface.bits + intptr_t(py) * surface.pitch;
        const uint8_t* src = gb.pixels.data() + size_t(py - oy) * size_t(gb.width);
        for (int32_t px = x0; px < x1; ++px) {
          const uint8_t cov = src[px - ox];
          if (cov == 0) continue;
          uint8_t* d = line + px * bytes;
          if (cov == 255) {
            d[0] = b;
            d[1] = gch;
            d[2] = r;
          } else {
            BlendSpan(d, cov, r, gch, b);
          }
        }
      }
      pen += sg.advance;
    }
  }
  if (req_.underline || req_.strikeOut) {
    OutlineMetrics om;
    outlineMetrics(om);
    if (req_.underline) {
      int32_t top = baseline - om.underscorePosition - om.underscoreSize / 2;
      FillRect(surface, {cl, ct, cr, cb}, x, top, pen, top + om.underscoreSize, color);
    }
    if (req_.strikeOut) {
      int32_t top = baseline - om.strikeoutPosition;
      FillRect(surface, {cl, ct, cr, cb}, x, top, pen, top + om.strikeoutSize, color);
    }
  }
}

FontHandle LinuxBackend::createFont(const FontRequest& request) {
  // The key: the family without regard to ASCII case, then the numbers.
  std::u16string key;
  key.reserve(request.family.size() + 5);
  for (char16_t c : request.family) key += (c >= u'A' && c <= u'Z') ? char16_t(c - u'A' + u'a') : c;
  key += char16_t(0);
  key += char16_t(uint32_t(request.height) & 0xFFFF);
  key += char16_t(uint32_t(request.height) >> 16);
  key += char16_t(request.weight);
  key += char16_t((request.italic ? 1 : 0) | (request.underline ? 2 : 0) | (request.strikeOut ? 4 : 0));
  std::lock_guard g(mu_);
  auto it = fonts_.find(key);
  if (it != fonts_.end())
    if (auto f = it->second.lock()) return f;
  std::string family = ToUtf8(request.family);
  int32_t height = request.height == 0 ? -16 : request.height;
  Match m = MatchLocked(family, request.weight, request.italic, std::abs(height));
  int32_t ppem = std::abs(height);
  if (height > 0 && !m.file.empty()) {
    // A cell height: the em size whose ascent + descent is that height.
    auto probe = FaceLocked(m, 64);
    if (probe) {
      FT_Face f = probe->Active();
      double cell = double(f->ascender - f->descender);
      auto* os2 = static_cast<TT_OS2*>(FT_Get_Sfnt_Table(f, FT_SFNT_OS2));
      if (os2 && os2->version != 0xFFFF && os2->usWinAscent + os2->usWinDescent > 0)
        cell = double(os2->usWinAscent) + double(os2->usWinDescent);
      if (cell > 0) ppem = std::max(1, int32_t(std::lround(height * double(f->units_per_EM) / cell)));
    }
  }
  ppem = std::clamp(ppem, 1, 4096);
  auto entry = FaceLocked(m, ppem);
  auto font = std::make_shared<LinuxFont>(this, entry, ppem, request, FromUtf8(m.family.c_str()));
  if (fonts_.size() > 256)
    for (auto i = fonts_.begin(); i != fonts_.end();) i = i->second.expired() ? fonts_.erase(i) : std::next(i);
  fonts_[key] = font;
  recentFonts_.push_front(font);
  if (recentFonts_.size() > kRecentFonts) recentFonts_.pop_back();
  return font;
}

std::vector<std::u16string> LinuxBackend::fallbackFamilies(const std::u16string& family) {
  std::lock_guard g(mu_);
  auto it = fallbacks_.find(Lower(ToUtf8(family)));
  if (it != fallbacks_.end()) return it->second;
  std::vector<std::u16string> out;
  if (config_) {
    FcPattern* pat = MakePattern(ToUtf8(family), FW_NORMAL, false, 0);
    FcConfigSubstitute(config_, pat, FcMatchPattern);
    FcDefaultSubstitute(pat);
    FcResult result = FcResultNoMatch;
    FcFontSet* set = FcFontSort(config_, pat, FcTrue, nullptr, &result);
    std::vector<std::string> files;
    if (set) {
      for (int i = 0; i < set->nfont; ++i) {
        FcPattern* p = set->fonts[i];
        FcBool scalable = FcFalse;
        FcChar8* file = nullptr;
        FcChar8* fam = nullptr;
        if (FcPatternGetBool(p, FC_SCALABLE, 0, &scalable) != FcResultMatch || !scalable) continue;
        if (FcPatternGetString(p, FC_FILE, 0, &file) != FcResultMatch) continue;
        if (FcPatternGetString(p, FC_FAMILY, 0, &fam) != FcResultMatch) continue;
        std::string fs = reinterpret_cast<const char*>(file);
        std::u16string fam16 = FromUtf8(reinterpret_cast<const char*>(fam));
        if (std::find(files.begin(), files.end(), fs) != files.end()) continue;
        if (std::find(out.begin(), out.end(), fam16) != out.end()) continue;
        files.push_back(fs);
        out.push_back(fam16);
      }
      FcFontSetDestroy(set);
    }
    FcPatternDestroy(pat);
  }
  fallbacks_[Lower(ToUtf8(family))] = out;
  return out;
}

}  // namespace

FontBackend* linuxFontBackend() {
  // Never destroyed: threads may still measure text while the process exits.
  static LinuxBackend* backend = new LinuxBackend(false, {});
  return backend;
}

std::unique_ptr<FontBackend> createFontBackendFromFiles(const std::vector<std::string>& files) {
  return std::make_unique<LinuxBackend>(true, files);
}

}  // namespace platform::fonts
