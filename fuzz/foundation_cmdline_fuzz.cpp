// Splits arbitrary UTF-16 text as a command line and checks the storage
// against the tokens; formats a date with the same text as its pattern.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "foundation/DateFormatting.h"
#include "foundation/kvCommandLine.h"
#include "fuzz/FuzzSupport.h"

using namespace foundation;

QEL_FUZZ_TARGET(data, size) {
  std::u16string text;
  for (size_t i = 0; i + 1 < size; i += 2) text += static_cast<char16_t>(data[i] | (data[i + 1] << 8));
  auto* tokens = new TStringList;
  auto* storage = new TCommandsStorage(251);
  ParseCommandLine(text, tokens, storage);
  // Every token is stored once: as a switch name or as a parameter.
  int32_t params = 0, switches = 0;
  for (int32_t i = 0; i < tokens->GetCount(); ++i) {
    const std::u16string token = tokens->GetString(i);
    if (token.find(u'"') != std::u16string::npos) std::abort();
    if (!token.empty() && token[0] == u'-')
      ++switches;
    else
      ++params;
  }
  int32_t stored = 0;
  TCommand* nameless = storage->FindCommand(u"");
  if (params > 0 && !nameless && switches == 0) std::abort();
  for (int32_t b = 0; b < storage->BucketCount(); ++b) {
    THashItem* bucket = storage->BucketAt(b);
    for (TKeyItem* e = bucket ? bucket->First : nullptr; e; e = e->Next()) stored += e->Count();
  }
  if (stored != params) std::abort();
  storage->Free();
  tokens->Free();

  TSystemTime t;
  t.year = 2026;
  t.month = static_cast<uint16_t>(size % 15);
  t.day = static_cast<uint16_t>(size % 33);
  const std::u16string pattern = text.substr(0, 256);
  (void)FormatDate(t, pattern);
  return 0;
}
