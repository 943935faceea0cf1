#include "foundation/kvCommandLine.h"

#include "foundation/kpStringUtils.h"
#include "foundation/kvFileAPI.h"
#include "foundation/kvStringUtils.h"

namespace foundation {

std::u16string CommandLineProgramPath;
std::u16string CommandLineText;

namespace {
TStringList* g_tokens = nullptr;
TCommandsStorage* g_commands = nullptr;
}  // namespace

int32_t TCommandItem::AsIntegerDef(int32_t def) const { return StrToIntDef(Text, def); }

void TCommandsStorage::Dispose() {
  Clear(true);
  THashList::Dispose();
}

TKeyItem* TCommandsStorage::CreateKeyItem(THashItem* bucket, const std::u16string& key) {
  return new TCommand(bucket, key);
}

TCommand* TCommandsStorage::FindCommand(const std::u16string& name) {
  TKeyItem* entry = nullptr;
  return TryFind(name, entry) ? static_cast<TCommand*>(entry) : nullptr;
}

std::u16string DequoteToken(const std::u16string& text, int32_t start, int32_t count) {
  std::u16string token = text.substr(static_cast<size_t>(start), static_cast<size_t>(count));
  // The quotes at both ends go, and so does every quote inside.
  std::u16string result;
  result.reserve(token.size());
  for (char16_t c : token)
    if (c != u'"') result += c;
  return result;
}

void SplitCommandLine(const std::u16string& text, TStringList* tokens) {
  const size_t n = text.size();
  size_t i = 0;
  while (i < n) {
    while (i < n && text[i] <= 32) ++i;
    if (i >= n) break;
    const size_t start = i;
    bool quoted = false;
    while (i < n && (quoted || text[i] > 32)) {
      if (text[i] == u'"') quoted = !quoted;
      ++i;
    }
    tokens->Add(DequoteToken(text, static_cast<int32_t>(start), static_cast<int32_t>(i - start)));
  }
}

void ParseCommandLine(const std::u16string& text, TStringList* tokens, TCommandsStorage* storage) {
  const int32_t first = tokens->GetCount();
  SplitCommandLine(text, tokens);
  TKeyItem* current = nullptr;
  for (int32_t i = first; i < tokens->GetCount(); ++i) {
    const std::u16string token = tokens->GetString(i);
    if (!token.empty() && token[0] == u'-') {
      const std::u16string name = LowerCaseCopy(token, 2, static_cast<int>(token.size()) - 1);
      current = storage->FindOrAdd(name);
    } else {
      if (!current) current = storage->FindOrAdd(u"");
      current->Add(new TCommandItem(token));
    }
  }
}

TStringList* CommandLineTokens() { return g_tokens; }
TCommandsStorage* CommandLineCommands() { return g_commands; }

TCommand* FindCommandLineSwitch(const std::u16string& name) {
  return g_commands ? g_commands->FindCommand(name) : nullptr;
}

void InitCommandLine() {
  FinalizeCommandLine();
  CommandLineProgramPath = FileApi().GetModuleFileName(0);
  CommandLineText = FileApi().GetCommandLine();
  g_tokens = new TStringList;
  g_commands = new TCommandsStorage(251);
  ParseCommandLine(CommandLineText, g_tokens, g_commands);
}

void FinalizeCommandLine() {
  FreeAndNil(g_commands);
  FreeAndNil(g_tokens);
}

}  // namespace foundation
