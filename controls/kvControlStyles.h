// The control style sheet: colours, fonts, frames and sizes of every drawn
// control, read once per colour scheme, with style states resolved at a
// scale and their box pictures.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "controls/kvControlStylesUtils.h"
#include "controls/kvMaps.h"
#include "foundation/SysObj.h"
#include "foundation/kvByteString.h"
#include "foundation/kvIni.h"
#include "foundation/kvLists.h"
#include "text/GraphicsParams.h"

namespace foundation {
class TStream;
}
namespace text {
class TVectorIcon;
}
namespace imaging {
class TImage;
}

namespace controls {

class TStylesStore;
class TStyleState;

// A colour name may name another; a chain longer than this is taken as a
// cycle and gives the default.
constexpr int32_t kMaxColorDepth = 16;

// The colour schemes.
constexpr uint8_t kLightScheme = 0;
constexpr uint8_t kDarkScheme = 1;
// The scheme new drawn forms take (dark at start).
extern uint8_t CurrentColorScheme;

class TStyleItem : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TStyleItem)
  TStyleItem(TStylesStore* store, const foundation::TByteString& name, foundation::TIniList* section);
  void Dispose() override;
  TStyleState* GetState(const std::u16string& name, float scale);
  // The styled controls' objects built for this section (made on demand).
  foundation::TList* GetStyles();

  foundation::TByteString Name;
  TStylesStore* Store = nullptr;  // the store outlives its items
  foundation::TIniList* Section = nullptr;  // owned by the store's sheet
  foundation::TRef<foundation::TList> Styles;
};

class TStyleState : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TStyleState)
  TStyleState(TStylesStore* store, float scale, foundation::TIniList* object);
  void Dispose() override;

  // The cached picture of that size (the caller frees the view).
  TStageView* GetView(int32_t width, int32_t height);
  // Replaces a held view by the one of that size (nil state: clears it);
  // true when the held view changed.
  static bool UpdateView(TStyleState* state, TStageView*& view, int32_t width, int32_t height);
  void MakeGenerator();

  TStylesStore* Store = nullptr;  // the store outlives its states
  float Scale = 0;
  foundation::TIniList* Object = nullptr;  // owned by the store's sheet
  uint32_t Color = 0;
  uint32_t FrameColor = 0;
  uint32_t FoneColor = 0;
  text::TFontParams Font;
  uint8_t Typ = 0;  // 0 box, 1 nine-patch
  float FrameWidth = 0;
  float Radius = 0;
  foundation::TRef<TBoxGenerator> Generator;
};

class TStylesStore : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TStylesStore)
  // Parses the stream (a stream that cannot be read leaves an empty sheet).
  TStylesStore(foundation::TStream* stream, const std::u16string& schemeSectionName);
  void Dispose() override;

  TStyleItem* GetStyleItem(const foundation::TByteString& name);
  foundation::TIniList* FindStyleSection(const foundation::TByteString& name);
  TStyleState* GetState(foundation::TIniList* section, const std::u16string& name, float scale);
  TStyleState* GetStateByName(const foundation::TByteString& sectionName, const std::u16string& stateName,
                              float scale);
  uint32_t GetColor(const foundation::TByteString& name, uint32_t def);
  uint32_t ParseColor(const foundation::TByteString& text, uint32_t def);
  uint32_t Blend(float x) const;
  // The icon of that name from the section "icons" (the caller owns it); nil
  // when the section, the icon or its layers are missing.
  imaging::TImage* GetIcon(const std::u16string& name, int32_t width, int32_t height, uint32_t color,
                           int32_t angle);

  foundation::TRef<foundation::TIniFile> Sheet;
  foundation::TIniList* Scheme = nullptr;      // owned by the sheet
  foundation::TIniList* DefaultSection = nullptr;  // owned by the sheet
  foundation::TIniList* DefObject = nullptr;   // owned by the sheet
  foundation::TRef<foundation::TList> States;  // every state made; the index is its cache number
  uint32_t MinColor = 0xFFFFFFFFu;
  uint32_t MaxColor = 0xFF000000u;
  uint32_t DefColor = 0;
  uint32_t DefFone = 0;
  text::TFontParams DefaultFont;
  foundation::TRef<text::TVectorIcon> Icons;
  bool IsDark = false;
  std::array<uint32_t, 256> BlendTable{};

 private:
  uint32_t ParseColorAt(const foundation::TByteString& text, uint32_t def, int32_t depth, bool allowBlend);
  uint32_t ResolveName(const foundation::TByteString& name, uint32_t def, int32_t depth, bool allowBlend);
  foundation::TIniList* FindStateObject(foundation::TIniList* section, const std::u16string& name);
  TObjMap FItems;  // section name -> TStyleItem
};

// The resolver of colour texts the store gives its vector icons: a name of
// the scheme's colour list is replaced by its value, then read as a colour.
uint32_t ResolveStyleColor(TStylesStore* store, const std::u16string& text, uint32_t def);

// The built-in sheet (CR LF line ends).
const std::string& BuiltInStylesText();

// The store of a scheme, loaded on first use from "styles.txt" beside the
// program (or the development copy), else from the built-in sheet.
TStylesStore* GetStylesStore(uint8_t scheme);
// The store of a scheme loaded from the first of the files that exists, else
// from the built-in sheet; the caller owns it.
TStylesStore* LoadStylesStore(uint8_t scheme, const std::u16string* candidates, int32_t count);
// Releases the two process-wide stores.
void DoneControlStyles();

}  // namespace controls
