// Feeds arbitrary bytes to the INI loaders and checks what must hold for any
// input: loading never fails on readable bytes, lookups on the tree answer,
// and the written text is a fixed point (parsed and written again it comes
// out the same), also through the escaped single-line form.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "foundation/kvIni.h"
#include "foundation/kvIniParser.h"
#include "foundation/kvIniWriter.h"
#include "foundation/kvStream.h"
#include "fuzz/FuzzSupport.h"

using namespace foundation;

namespace {

using fuzzing::Check;

std::string Written(TIniFile* ini) {
  TRef<TMemoryStream> s = MakeRef<TMemoryStream>();
  Check(SaveIniToStream(ini, s.Get(), true));
  return std::string(reinterpret_cast<const char*>(s->Data()), static_cast<size_t>(s->GetSize()));
}

bool LoadBytes(TIniFile* ini, const uint8_t* data, size_t size) {
  TRef<TMemoryStream> s = MakeRef<TMemoryStream>();
  if (size) s->WriteBuf(data, static_cast<int32_t>(size));
  s->SetPosition(0);
  return LoadIniFromStream(ini, s.Get());
}

int Depth(const TIniList* list) {
  int depth = 0;
  for (const TIniObject* o = TIniList::FirstObject(list); o; o = TIniList::FirstObject(o)) ++depth;
  return depth;
}

}  // namespace

QEL_FUZZ_TARGET(data, size) {
  TRef<TIniFile> ini = MakeRef<TIniFile>();
  Check(LoadBytes(ini.Get(), data, size));
  // Written before anything asked for a node (lines written from the text)
  // and after the walks below made some: the same text.
  const std::string untouched = size <= 4096 ? Written(ini.Get()) : std::string();

  // Lookups over whatever came out.
  for (int32_t i = 0; i < ini->GetSectionList()->GetCount(); ++i) {
    TIniSection* s = ini->GetSectionList()->GetSection(i);
    const std::u16string name = TIniItem::GetName(s);
    if (!name.empty()) Check(TIniFile::FindSection(ini.Get(), name) != nullptr);
    TIniItem::GetInteger(TIniList::FindKey(s, u"opt_x"), 0);
    TIniList::FindPath(ini.Get(), u"main:a:b", u':', false);
  }

  // The single-line form of the same bytes.
  TRef<TIniFile> fromBytes = MakeRef<TIniFile>();
  LoadIniFromBytes(fromBytes.Get(), std::vector<uint8_t>(data, data + size));

  // Written text indents by depth; keep the round trip to trees whose text
  // stays small.
  if (Depth(ini.Get()) > 1500) return 0;
  const std::string first = Written(ini.Get());
  Check(untouched.empty() || untouched == first);
  TRef<TIniFile> again = MakeRef<TIniFile>();
  Check(LoadBytes(again.Get(), reinterpret_cast<const uint8_t*>(first.data()), first.size()));
  Check(Written(again.Get()) == first);

  const std::vector<uint8_t> line = SaveIniToBytes(again.Get());
  TRef<TIniFile> back = MakeRef<TIniFile>();
  Check(LoadIniFromBytes(back.Get(), line));
  Check(Written(back.Get()) == first);
  return 0;
}
