// The transition definitions of a show, resolved over the project: each slide
// either defines its transition in place or refers to a named definition
// under Main's effect root ("TheEffect"), or to one of the built-in names
// "default", "defowntime" and "quick". The player only reads definitions.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "foundation/SysObj.h"
#include "foundation/kvByteStringLists.h"
#include "foundation/kvIni.h"

namespace showmodel {

class TQELEffectManager;

// The enabled state of a definition from its option keys.
enum class TEffectUse { None, Some, All };

// One effect block: a definition, or a reference ("AnEffect" with "ref").
class TEffectProp : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TEffectProp)
  // Takes a reference to the node; the manager is not referenced (it owns
  // the prop). Home is the block the definition lives in (its "time" is read
  // there): the slide section for an in-place one, the effect root for a
  // named one.
  TEffectProp(TQELEffectManager* Manager, foundation::TIniList* Node, foundation::TIniList* Home);
  void Dispose() override;

  bool IsReference();
  // The "ref" value of a reference, else empty.
  std::u16string GetName();
  // The type word of the definition: the node's own, or for a reference the
  // named definition's; a built-in name for references to one; empty for a
  // reference to nothing.
  std::u16string GetTypeName();
  // The definition a reference names (nil for a built-in or unknown name),
  // or the prop itself.
  TEffectProp* Resolve();
  // The prop's own key; for a reference without it the named definition's,
  // or the effect root's when it names no real definition.
  std::u16string GetValue(std::u16string_view key);
  bool HasValue(std::u16string_view key);
  // The transition length in whole milliseconds (see the manager).
  int32_t GetTime();
  TEffectUse GetUse();
  // Variants of a custom effect: the option keys ("sectionfield"), the
  // number of variants, the section-name pattern of one ("slide_001_10"),
  // whether every chosen option of it is checked, and its "effect_" section.
  std::vector<std::u16string> GetOptionKeys();
  int32_t GetVariantCount();
  std::u16string GetVariantPattern(int32_t variant);
  bool IsVariantChecked(int32_t variant);
  // The variant's "effect_" section; with Create a missing one is added to
  // the project (nil when the definition names no section for the variant).
  foundation::TIniSection* GetVariantSection(int32_t variant, bool Create = false);

  // ---- editing (the player only reads; these serve tools and tests)
  // Writes the background options an effect slide is built with into the
  // target block; a reference fills from the definition it names.
  void FillSlideOptions(foundation::TIniList* Target);
  // The user properties of the definition written into the section's
  // "Container" root block (made when missing): every "prop<k>" whose "id"
  // is not an option key, with this prop's value of that id.
  void ApplyUserProps(foundation::TIniList* Section);
  // Copies the other prop's keys over this one's (a key of this prop that
  // the other lacks stays); Deep also replaces the nested blocks. Refused
  // (false) on a read-only manager or for a prop of a built-in name.
  bool Assign(TEffectProp* Other, bool Deep);
  // Change notification for editors; nothing listens in the player.
  void Notify() {}

  foundation::TCommaList KeyList;
  int32_t RefState = 0;  // 0 unknown, 1 reference, -1 definition
  TQELEffectManager* Manager = nullptr;
  foundation::TIniList* Node = nullptr;
  foundation::TIniList* Home = nullptr;
};

class TQELEffectManager : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TQELEffectManager)
  // The project (assertion without one) and the authored screen size; sizes
  // that are not positive are read from Main (1920 x 1080).
  TQELEffectManager(foundation::TIniFile* Ini, int32_t ScreenWidth, int32_t ScreenHeight);
  void Dispose() override;

  int32_t SlideCount();
  int32_t GetScreenWidth() const { return ScreenWidth; }
  int32_t GetScreenHeight() const { return ScreenHeight; }
  foundation::TIniFile* GetIni() const { return Ini; }
  // Main's "TheEffect", created (type "AnEffect", "time" 2000) when missing.
  foundation::TIniObject* GetEffectRoot();
  // Negative index: the root's "time"; otherwise the slide's effect time, 0
  // past the slide count.
  int32_t GetEffectTime(int32_t slideIndex);
  // Cached; nil when the slide has no section. A section without an effect
  // gets a reference to "default".
  TEffectProp* GetSlideEffect(int32_t slideIndex);
  // A real definition of that name, else the built-in one; nil otherwise.
  TEffectProp* FindDefinition(std::u16string_view name);
  int32_t GetDefinitionCount();
  TEffectProp* GetDefinition(int32_t index);
  // Some real definition is in use (its enabled state is not "none").
  bool AnyDefinitionInUse();
  void ClearCaches();
  // The root's "time" read as a length.
  int32_t GetRootTime();

  // ---- editing
  // A detached copy (one reference for the caller) of the variant's
  // "effect_" section (added to the project when missing), with the user
  // properties and background options applied: the section an effect slide
  // is built from. Nil when the prop has no such variant.
  foundation::TIniSection* BuildEffectSlideSection(TEffectProp* Prop, int32_t Variant);
  // Removes a named definition from the effect root; slides that referred
  // to it refer to "default" afterwards. Built-in definitions, references
  // and a read-only manager refuse (false). Props answered before are
  // invalid afterwards (the caches are cleared).
  bool DeleteDefinition(TEffectProp* Prop);
  // The caption of definition Index ("caption", else its name) behind
  // CaptionPrefix; false for an index without a definition.
  bool GetCaption(std::u16string& Text, int32_t Index);
  std::u16string GetCaptionText() { return std::u16string(); }
  // The prop is one of the three built-in definitions.
  bool IsBuiltIn(const TEffectProp* Prop) const;

  foundation::TIniFile* Ini = nullptr;
  int32_t ScreenWidth = 0;
  int32_t ScreenHeight = 0;
  bool ReadOnly = false;
  std::u16string CaptionPrefix;
  bool WithBuiltIns = true;

 private:
  TEffectProp* BuiltIn(std::u16string_view name);
  void CollectDefinitions();
  std::vector<foundation::TRef<TEffectProp>> FDefinitions;
  bool FDefinitionsKnown = false;
  std::vector<foundation::TRef<TEffectProp>> FSlideEffects;
  foundation::TRef<TEffectProp> FOverflow;  // the last uncached answer, kept alive for its caller
  std::vector<foundation::TRef<TEffectProp>> FBuiltIns;  // default, defowntime, quick
  foundation::TRef<foundation::TIniList> FBuiltInHome;
};

// A stored length in whole milliseconds: the number may be written with a
// fraction ("1000.0"); it is rounded, and negative or unreadable values give
// the default. Every reader of a transition's length goes through it.
int32_t ReadMilliseconds(const foundation::TIniItem* item, int32_t def);

}  // namespace showmodel
