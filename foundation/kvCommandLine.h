// The command line split into tokens and stored as switches, each with the
// parameters that follow it. A token beginning with "-" opens a switch
// (stored lower-case); the tokens before the first switch, the program path
// first, belong to the switch with the empty name.
#pragma once

#include <cstdint>
#include <string>

#include "foundation/kvHashLists.h"
#include "foundation/kvStrings.h"

namespace foundation {

// One parameter.
class TCommandItem : public TRefObject {
 public:
  QEL_CLASSNAME(TCommandItem)
  explicit TCommandItem(std::u16string text) : Text(std::move(text)) {}
  // The text as a signed 32-bit integer; def when it is not a valid one.
  int32_t AsIntegerDef(int32_t def) const;
  std::u16string Text;
};

// One switch: its name is the key, its list the parameters in order.
class TCommand : public TKeyItem {
 public:
  QEL_CLASSNAME(TCommand)
  using TKeyItem::TKeyItem;
  int32_t GetCount() const { return Count(); }
  // The parameter at a 0-based index; nil when out of range.
  TCommandItem* GetItem(int32_t index) const { return static_cast<TCommandItem*>(TKeyItem::GetItem(index)); }
};

class TCommandsStorage : public THashList {
 public:
  QEL_CLASSNAME(TCommandsStorage)
  explicit TCommandsStorage(int32_t bucketCount = 251) : THashList(bucketCount) {}
  // Releases the parameters with the switches.
  void Dispose() override;
  TKeyItem* CreateKeyItem(THashItem* bucket, const std::u16string& key) override;
  // The switch of exactly that name (no case folding), else nil.
  TCommand* FindCommand(const std::u16string& name);
};

// Appends every token (the program path first) to tokens, without quotes.
void SplitCommandLine(const std::u16string& text, TStringList* tokens);
// The token at [start, start + count) (0-based) without its double quotes.
std::u16string DequoteToken(const std::u16string& text, int32_t start, int32_t count);
void ParseCommandLine(const std::u16string& text, TStringList* tokens, TCommandsStorage* storage);

// Program-wide state, filled at unit start from the process's command line.
extern std::u16string CommandLineProgramPath;
extern std::u16string CommandLineText;
TStringList* CommandLineTokens();
TCommandsStorage* CommandLineCommands();
// The switch of that name on the program's command line, else nil.
TCommand* FindCommandLineSwitch(const std::u16string& name);

void InitCommandLine();
void FinalizeCommandLine();

}  // namespace foundation
