#include "player/NavBar.h"

#include <algorithm>
#include <cstring>

#include "foundation/kpExceptions.h"
#include "imaging/HslIniHelpers.h"
#include "imaging/SysBitmap.h"
#include "imaging/SysBitmapUtils.h"
#include "imaging/kvPixelFormat.h"
#include "player/NavBarDraw.h"

namespace player {

using foundation::TRect;
using foundation::TRef;
using imaging::TDirectBitmap;

TNavBarFactory NavBarFactory = nullptr;

namespace {

const char16_t* const kBuiltInNames[] = {u"home", u"backward", u"forward", u"pause", u"print", u"help", u"exit"};

std::u16string Lower(std::u16string s) {
  for (char16_t& c : s)
    if (c >= u'A' && c <= u'Z') c = char16_t(c - u'A' + u'a');
  return s;
}

std::u16string Upper(std::u16string s) {
  for (char16_t& c : s)
    if (c >= u'a' && c <= u'z') c = char16_t(c - u'a' + u'A');
  return s;
}

std::u16string Trim(const std::u16string& s) {
  size_t a = 0, b = s.size();
  while (a < b && s[a] == u' ') ++a;
  while (b > a && s[b - 1] == u' ') --b;
  return s.substr(a, b - a);
}

std::u16string Num(int64_t v) {
  const std::string s = std::to_string(v);
  return std::u16string(s.begin(), s.end());
}


[[noreturn]] void Fail(const std::u16string& message) { throw foundation::Exception(message); }

TRect Intersect(const TRect& a, const TRect& b) {
  return {std::max(a.Left, b.Left), std::max(a.Top, b.Top), std::min(a.Right, b.Right), std::min(a.Bottom, b.Bottom)};
}

int32_t Clamp(int32_t v, int32_t lo, int32_t hi) { return std::min(std::max(v, lo), hi); }

std::u16string ReadStr(foundation::TIniFile* ini, const std::u16string& section, const std::u16string& key) {
  return foundation::IniReadString(ini, section, key, u"");
}

// A rectangle from "x,y,w,h"; sizes capped so that no texture rectangle
// reaches beyond what a bitmap may hold.
TRect ParseBounds(const std::u16string& value) {
  const std::vector<std::u16string> parts = SplitNavValues(value);
  if (parts.size() != 4)
    Fail(u"Bounds should contains 4 values. For example: BtnTextureNormalBounds=0,0,20,20. But QEL found only " +
         Num(int64_t(parts.size())) + u" values.");
  int32_t v[4];
  for (int i = 0; i < 4; ++i) v[i] = NavParseInt(parts[size_t(i)], 0);
  // No texture is larger than this; a size beyond it is damage, not a skin.
  if (v[2] > kNavMaxTexture || v[3] > kNavMaxTexture) Fail(u"Texture rectangle too large: " + value);
  const int32_t x = Clamp(v[0], -kNavMaxTexture, kNavMaxTexture), y = Clamp(v[1], -kNavMaxTexture, kNavMaxTexture);
  const int32_t w = Clamp(v[2], 0, kNavMaxTexture), h = Clamp(v[3], 0, kNavMaxTexture);
  return {x, y, x + w, y + h};
}

}  // namespace

std::vector<std::u16string> SplitNavValues(const std::u16string& value) {
  std::vector<std::u16string> parts;
  std::u16string cur;
  bool quoted = false;
  for (char16_t c : value) {
    if (c == u'"') quoted = !quoted;
    if (c == u',' && !quoted) {
      parts.push_back(Trim(cur));
      cur.clear();
    } else {
      cur.push_back(c);
    }
  }
  parts.push_back(Trim(cur));
  return parts;
}

int32_t NavParseInt(const std::u16string& text, int32_t def) {
  const std::u16string s = Trim(text);
  size_t i = 0;
  bool negative = false;
  if (i < s.size() && (s[i] == u'-' || s[i] == u'+')) negative = s[i++] == u'-';
  if (i >= s.size()) return def;
  int64_t v = 0;
  for (; i < s.size(); ++i) {
    if (s[i] < u'0' || s[i] > u'9') return def;
    v = std::min<int64_t>(v * 10 + (s[i] - u'0'), int64_t(1) << 32);
  }
  if (negative) v = -v;
  return int32_t(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
}

// ---------------------------------------------------------------------------

void TCustomNavBar::Dispose() {
  FBarBitmap = nullptr;
  FExitBitmap = nullptr;
  FActionNames.clear();
  FSelectedIds.clear();
  OnImage = nullptr;
  OnExitImage = nullptr;
  OnAction = nullptr;
  IsPlaying = nullptr;
  LoadImage = nullptr;
  GetDuration = nullptr;
  Seek = nullptr;
  SetVolumeEvent = nullptr;
  IsUpperHalf = nullptr;
  TRefObject::Dispose();
}

void TCustomNavBar::SetButtonIds(const int32_t* ids, int32_t count) {
  FSelectedIds.clear();
  for (int32_t i = 0; ids && i < count; ++i) FSelectedIds.push_back(ids[i]);
}

// ---------------------------------------------------------------------------

TNavBar::TNavBar() = default;

void TNavBar::Dispose() {
  FCells.clear();
  FObjects.clear();
  FCache.clear();
  FIni = nullptr;
  TCustomNavBar::Dispose();
}

const TNavCell& TNavBar::Cell(int32_t column, int32_t row) const {
  if (column < 1 || column > FCols || row < 1 || row > FRows) Fail(u"Cell out of range");
  return FCells[size_t((row - 1) * FCols + column - 1)];
}

TRef<TDirectBitmap> TNavBar::Texture(const std::u16string& file, TRect& rect, bool gray) {
  const std::u16string key = Lower(file);
  TCacheItem* item = nullptr;
  for (auto& e : FCache)
    if (e.first == key) item = &e.second;
  if (!item) {
    if (!LoadImage) Fail(u"Navigation bar without an image loader");
    TRef<TDirectBitmap> b = LoadImage(this, FFolder + file);
    if (!b || b->BytesPerPixel() != 4 || b->Width <= 0 || b->Height <= 0)
      Fail(u"Can not load the navigation bar texture \"" + file + u"\"");
    FCache.push_back({key, TCacheItem{b, {}}});
    item = &FCache.back().second;
  }
  if (!gray) return item->Whole;
  for (auto& g : item->Grays)
    if (g.first.Left == rect.Left && g.first.Top == rect.Top && g.first.Right == rect.Right &&
        g.first.Bottom == rect.Bottom) {
      rect = {0, 0, g.second->Width, g.second->Height};
      return g.second;
    }
  const int32_t w = std::max(0, rect.Right - rect.Left), h = std::max(0, rect.Bottom - rect.Top);
  auto copy = TRef<TDirectBitmap>::Adopt(new TDirectBitmap(std::max(w, 1), std::max(h, 1), imaging::pfA8R8G8B8));
  for (int32_t y = 0; y < copy->Height; ++y) std::memset(copy->Row(y), 0, size_t(copy->Width) * 4);
  NavComposite(copy.Get(), {0, 0, w, h}, item->Whole.Get(), rect.Left, rect.Top, {0, 0, w, h}, true);
  NavGray(copy.Get());
  item->Grays.push_back({rect, copy});
  rect = {0, 0, copy->Width, copy->Height};
  return copy;
}

void TNavBar::Load(foundation::TIniFile* ini, const std::u16string& folder) {
  FLoaded = false;
  FIni = foundation::TRef<foundation::TIniFile>::AddRef(ini);
  FFolder = folder;
  FActionNames.clear();
  FCells.clear();
  FObjects.clear();
  FCols = FRows = 0;
  FWidth = FHeight = 0;
  if (!ini) Fail(u"No navigation bar description");
  foundation::TSectionList* sections = ini->GetSectionList();
  for (int32_t i = 0; sections && i < sections->GetCount(); ++i) {
    const std::u16string name = Trim(foundation::TIniItem::GetName(sections->GetSection(i)));
    if (name.size() < 7 || Upper(name.substr(0, 7)) != u"ACTION-") continue;
    const std::u16string action = name.substr(7);
    for (const char16_t* b : kBuiltInNames)
      if (action == b && std::find(FActionNames.begin(), FActionNames.end(), action) == FActionNames.end())
        FActionNames.push_back(action);
  }
  const int32_t cols = foundation::IniReadInteger(ini, u"Common", u"ColsCount", 0);
  const int32_t rows = foundation::IniReadInteger(ini, u"Common", u"RowsCount", 0);
  // A grid is a handful of cells around the buttons; anything far larger is damage.
  if (cols < 0 || rows < 0 || cols > kNavMaxGridSide || rows > kNavMaxGridSide || cols * rows > kNavMaxCells)
    Fail(u"Incorrect grid size " + Num(cols) + u" x " + Num(rows));
  FMarginLeft = Clamp(foundation::IniReadInteger(ini, u"CellWithObjects", u"LeftOffset", 0), 0, kNavMaxTexture);
  FMarginTop = Clamp(foundation::IniReadInteger(ini, u"CellWithObjects", u"TopOffset", 0), 0, kNavMaxTexture);
  FMarginRight = Clamp(foundation::IniReadInteger(ini, u"CellWithObjects", u"RightOffset", 0), 0, kNavMaxTexture);
  FMarginBottom = Clamp(foundation::IniReadInteger(ini, u"CellWithObjects", u"BottomOffset", 0), 0, kNavMaxTexture);
  const std::u16string cellValue = foundation::IniReadString(ini, u"CellWithObjects", u"Cell", u"1,1");
  const std::vector<std::u16string> cell = SplitNavValues(cellValue);
  if (cell.size() != 2) Fail(u"Incorrect number of parameters in field \"Cell\"");
  FObjCol = NavParseInt(cell[0], 1);
  FObjRow = NavParseInt(cell[1], 1);
  FCols = cols;
  FRows = rows;
  FCells.assign(size_t(cols) * size_t(rows), TNavCell{});
  for (int32_t r = 1; r <= rows; ++r)
    for (int32_t c = 1; c <= cols; ++c) {
      const std::u16string section = u"Cell(" + Num(c) + u":" + Num(r) + u")";
      const std::vector<std::u16string> parts = SplitNavValues(ReadStr(ini, section, u"Bounds"));
      if (parts.size() != 4)
        Fail(u"Incorrect number of parameters in field \"Bounds\" in [" + section + u"]");
      TRect rect = ParseBounds(ReadStr(ini, section, u"Bounds"));
      TNavCell& nc = FCells[size_t((r - 1) * cols + c - 1)];
      nc.Texture = Texture(ReadStr(ini, section, u"flnm_Texture"), rect, false);
      nc.TextureRect = rect;
      nc.Width = rect.Right - rect.Left;
      nc.Height = rect.Bottom - rect.Top;
    }
  for (auto& e : FCache) e.second.Grays.clear();
  FLoaded = true;
}

void TNavBar::SetButtonIds(const int32_t* ids, int32_t count) {
  TCustomNavBar::SetButtonIds(ids, count);
  if (!FLoaded) return;
  foundation::TIniFile* ini = FIni.Get();
  const int32_t slots = Clamp(foundation::IniReadInteger(ini, u"Objects", u"Count", 0), 0, kNavMaxButtons);
  const int32_t n = std::min<int32_t>(int32_t(FSelectedIds.size()), slots);
  FObjects.clear();
  std::vector<int32_t> spaces;
  static const char16_t* const kStates[3] = {u"Normal", u"Hover", u"Pressed"};
  for (int32_t i = 0; i < n; ++i) {
    const int32_t id = FSelectedIds[size_t(i)];
    if (id < 0 || id >= int32_t(FActionNames.size())) Fail(u"Navigation button id out of range");
    const std::u16string obj = u"Object" + Num(i + 1);
    const std::u16string act = u"Action-" + FActionNames[size_t(id)];
    TNavObject o;
    o.ShiftPressed = Clamp(foundation::IniReadInteger(ini, obj, u"ShiftPressed", 0), 0, 64);
    o.GrayNormal = foundation::IniReadBool(ini, obj, u"GrayNormal", false);
    spaces.push_back(Clamp(foundation::IniReadInteger(ini, obj, u"Space", 0), 0, kNavMaxTexture));
    const std::u16string normalFile = ReadStr(ini, act, u"flnm_BtnTextureNormal");
    const std::u16string normalBounds = ReadStr(ini, act, u"BtnTextureNormalBounds");
    const std::u16string playFile = ReadStr(ini, act, u"flnm_BtnTextureNormalPlay");
    o.HasPlayTextures = !playFile.empty();
    const std::u16string bgFile = ReadStr(ini, act, u"flnm_BgTextureNormal");
    const std::u16string bgBounds = ReadStr(ini, act, u"BgTextureNormalBounds");
    for (int s = 0; s < 3; ++s) {
      const std::u16string st = kStates[s];
      const bool gray = s == 0 && o.GrayNormal;
      const std::u16string file = s == 0 ? normalFile : foundation::IniReadString(ini, act, u"flnm_BtnTexture" + st, normalFile);
      const std::u16string bounds =
          s == 0 ? normalBounds : foundation::IniReadString(ini, act, u"BtnTexture" + st + u"Bounds", normalBounds);
      const TRect btnRect = ParseBounds(bounds);
      o.BtnRect[s] = btnRect;
      o.Btn[s] = Texture(file, o.BtnRect[s], gray);
      if (o.HasPlayTextures) {
        TRect pr = btnRect;
        const std::u16string pf =
            s == 0 ? playFile : foundation::IniReadString(ini, act, u"flnm_BtnTexture" + st + u"Play", playFile);
        o.BtnPlay[s] = Texture(pf, pr, gray);
      }
      const std::u16string bf = s == 0 ? bgFile : foundation::IniReadString(ini, act, u"flnm_BgTexture" + st, bgFile);
      const std::u16string bb =
          s == 0 ? bgBounds : foundation::IniReadString(ini, act, u"BgTexture" + st + u"Bounds", bgBounds);
      o.BgRect[s] = ParseBounds(bb);
      o.Bg[s] = Texture(bf, o.BgRect[s], false);
    }
    o.Width = o.BgRect[0].Right - o.BgRect[0].Left;
    o.Height = o.BgRect[0].Bottom - o.BgRect[0].Top;
    FObjects.push_back(std::move(o));
  }
  // Layout.
  if (FCols > 0 && FRows > 0) {
    const bool hasObjCell = FObjCol >= 1 && FObjCol <= FCols && FObjRow >= 1 && FObjRow <= FRows;
    int64_t cellW = int64_t(FMarginLeft) + FMarginRight, cellH = int64_t(FMarginTop) + FMarginBottom;
    for (size_t i = 0; i < FObjects.size(); ++i) cellW += int64_t(FObjects[i].Width) + spaces[i];
    if (!FObjects.empty()) cellH += FObjects[0].Height;
    if (hasObjCell && !FObjects.empty()) {
      for (int32_t r = 1; r <= FRows; ++r)
        FCells[size_t((r - 1) * FCols + FObjCol - 1)].Width = int32_t(std::min<int64_t>(cellW, kNavMaxBarSide));
      for (int32_t c = 1; c <= FCols; ++c)
        FCells[size_t((FObjRow - 1) * FCols + c - 1)].Height = int32_t(std::min<int64_t>(cellH, kNavMaxBarSide));
    }
    int64_t x = 0;
    std::vector<int32_t> colX(static_cast<size_t>(FCols)), rowY(static_cast<size_t>(FRows));
    for (int32_t c = 1; c <= FCols; ++c) {
      colX[size_t(c - 1)] = int32_t(std::min<int64_t>(x, kNavMaxBarSide));
      x += FCells[size_t(c - 1)].Width;
    }
    int64_t y = 0;
    for (int32_t r = 1; r <= FRows; ++r) {
      rowY[size_t(r - 1)] = int32_t(std::min<int64_t>(y, kNavMaxBarSide));
      y += FCells[size_t((r - 1) * FCols)].Height;
    }
    // A bar wider or taller than any screen is damage: it stays undrawn.
    if (x > kNavMaxBarSide || y > kNavMaxBarSide) Fail(u"Navigation bar too large");
    for (int32_t r = 1; r <= FRows; ++r)
      for (int32_t c = 1; c <= FCols; ++c) {
        TNavCell& nc = FCells[size_t((r - 1) * FCols + c - 1)];
        nc.X = colX[size_t(c - 1)];
        nc.Y = rowY[size_t(r - 1)];
      }
    FWidth = int32_t(x);
    FHeight = int32_t(y);
    if (hasObjCell) {
      const TNavCell& oc = FCells[size_t((FObjRow - 1) * FCols + FObjCol - 1)];
      int64_t bx = int64_t(oc.X) + FMarginLeft;
      for (size_t i = 0; i < FObjects.size(); ++i) {
        FObjects[i].X = int32_t(std::min<int64_t>(bx, kNavMaxBarSide));
        FObjects[i].Y = oc.Y + FMarginTop;
        bx += int64_t(FObjects[i].Width) + spaces[i];
      }
    }
  }
  FDirty = {0, 0, FWidth, FHeight};
  Render();
}

void TNavBar::AddDirty(const TRect& r) {
  if (r.Left >= r.Right || r.Top >= r.Bottom) return;
  if (FDirty.Left >= FDirty.Right || FDirty.Top >= FDirty.Bottom) {
    FDirty = r;
    return;
  }
  FDirty = {std::min(FDirty.Left, r.Left), std::min(FDirty.Top, r.Top), std::max(FDirty.Right, r.Right),
            std::max(FDirty.Bottom, r.Bottom)};
}

void TNavBar::SetState(TNavObject& o, uint8_t state) {
  if (o.State == state) return;
  TRect r = o.Bounds();
  if (o.State == TNavObject::stPressed || state == TNavObject::stPressed) {
    r.Right += o.ShiftPressed;
    r.Bottom += o.ShiftPressed;
  }
  o.State = state;
  AddDirty(r);
}

void TNavBar::Render() {
  if (!FLoaded || FCols < 1 || FRows < 1 || FWidth <= 0 || FHeight <= 0) return;
  if (FDirty.Left >= FDirty.Right || FDirty.Top >= FDirty.Bottom) return;
  if (!FBarBitmap || FBarBitmap->Width != FWidth || FBarBitmap->Height != FHeight) {
    FBarBitmap = TRef<TDirectBitmap>::Adopt(new TDirectBitmap(FWidth, FHeight, imaging::pfA8R8G8B8));
    for (int32_t y = 0; y < FHeight; ++y) std::memset(FBarBitmap->Row(y), 0, size_t(FWidth) * 4);
    FDirty = {0, 0, FWidth, FHeight};
  }
  // Everything below is clipped to the dirty rectangle: a translucent
  // edge composited twice would darken at every repaint.
  const TRect clip = Intersect(FDirty, {0, 0, FWidth, FHeight});
  TDirectBitmap* bar = FBarBitmap.Get();
  for (int32_t y = clip.Top; y < clip.Bottom; ++y)
    for (int32_t x = clip.Left; x < clip.Right; ++x) bar->Row(y)[4 * x + 3] = 0;
  if (ShowBackground)
    for (const TNavCell& c : FCells) {
      const TRect cr{c.X, c.Y, c.X + c.Width, c.Y + c.Height};
      const TRect i = Intersect(cr, clip);
      if (i.Left >= i.Right || i.Top >= i.Bottom || !c.Texture) continue;
      NavTile(bar, cr, c.Texture.Get(), c.TextureRect, clip);
    }
  const bool paused = IsPlaying && !IsPlaying(this);
  for (const TNavObject& o : FObjects) {
    TRect br = o.Bounds();
    br.Right += o.ShiftPressed;
    br.Bottom += o.ShiftPressed;
    const TRect i = Intersect(br, clip);
    if (i.Left >= i.Right || i.Top >= i.Bottom) continue;
    const int s = o.State;
    if (o.Bg[s]) NavComposite(bar, o.Bounds(), o.Bg[s].Get(), o.BgRect[s].Left, o.BgRect[s].Top, clip, false);
    TDirectBitmap* tex = (paused && o.HasPlayTextures) ? o.BtnPlay[s].Get() : o.Btn[s].Get();
    if (!tex) continue;
    const int32_t tw = o.BtnRect[0].Right - o.BtnRect[0].Left, th = o.BtnRect[0].Bottom - o.BtnRect[0].Top;
    int32_t tx = o.X + (o.Width - tw) / 2, ty = o.Y + (o.Height - th) / 2;
    if (s == TNavObject::stPressed) {
      tx += o.ShiftPressed;
      ty += o.ShiftPressed;
    }
    NavComposite(bar, {tx, ty, tx + tw, ty + th}, tex, o.BtnRect[s].Left, o.BtnRect[s].Top, clip, false);
  }
  if (Hue != 0) NavShiftHue(bar, clip, Hue);
  const TRect dirty = clip;
  FDirty = {};
  if (OnImage) OnImage(this, dirty);
}

bool TNavBar::InsideBitmap(int32_t x, int32_t y) const {
  return FBarBitmap && x >= 0 && y >= 0 && x < FBarBitmap->Width && y < FBarBitmap->Height;
}

int32_t TNavBar::ButtonAt(int32_t x, int32_t y) const {
  for (size_t i = 0; i < FObjects.size(); ++i) {
    const TRect r = FObjects[i].Bounds();
    if (x >= r.Left && x < r.Right && y >= r.Top && y < r.Bottom) return int32_t(i);
  }
  return -1;
}

void TNavBar::HoverAt(int32_t x, int32_t y, uint32_t shift) {
  if (FPressed || InsideBitmap(x, y)) {
    if ((shift & 0x10) && !FPressed) return;
    FPointerInside = true;
    const int32_t at = ButtonAt(x, y);
    for (int32_t i = 0; i < int32_t(FObjects.size()); ++i) {
      uint8_t st = TNavObject::stNormal;
      if (i == at) {
        if (!FPressed) st = TNavObject::stHover;
        else if (FPressedIndex == at) st = TNavObject::stPressed;
      }
      SetState(FObjects[size_t(i)], st);
    }
    Render();
  } else if (FPointerInside) {
    FPointerInside = false;
    for (TNavObject& o : FObjects) SetState(o, TNavObject::stNormal);
    Render();
  }
}

void TNavBar::MouseEvent(int32_t button, uint32_t shift, int32_t x, int32_t y, int32_t kind) {
  switch (kind) {
    case mkDown: {
      if (!InsideBitmap(x, y) || button != 1) return;
      FPressed = true;
      FPressedIndex = ButtonAt(x, y);
      for (int32_t i = 0; i < int32_t(FObjects.size()); ++i)
        SetState(FObjects[size_t(i)], i == FPressedIndex ? TNavObject::stPressed : TNavObject::stNormal);
      Render();
      return;
    }
    case mkMove:
      HoverAt(x, y, shift);
      return;
    case mkUp: {
      if (!InsideBitmap(x, y)) {
        if (!FPointerInside) return;
        FPointerInside = false;
      }
      if (button != 1) return;
      const int32_t pressed = FPressedIndex;
      const bool act = FPressed && pressed >= 0 && ButtonAt(x, y) == pressed;
      FPressed = false;
      FPressedIndex = -1;
      if (act && OnAction) OnAction(this, pressed);
      HoverAt(x, y, shift);
      return;
    }
    default:
      Fail(u"Unknown mouse event kind " + Num(kind));
  }
}

void TNavBar::Update(double) {
  if (!IsPlaying) return;
  const bool playing = IsPlaying(this);
  if (FFirstUpdate || playing != FLastPlaying) {
    for (const TNavObject& o : FObjects)
      if (o.HasPlayTextures) {
        TRect r = o.Bounds();
        r.Right += o.ShiftPressed;
        r.Bottom += o.ShiftPressed;
        AddDirty(r);
        break;
      }
    FFirstUpdate = false;
    FLastPlaying = playing;
    Render();
  }
}

namespace {
TRef<TCustomNavBar> CreateButtonBar(const std::u16string&) {
  return TRef<TCustomNavBar>::Adopt(new TNavBar());
}
}  // namespace

void InitNavBar() { NavBarFactory = &CreateButtonBar; }

}  // namespace player
