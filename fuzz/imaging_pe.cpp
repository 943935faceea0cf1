// Arbitrary bytes as an executable's file: the resource list is read, and
// every resource found must lie where it can be looked up again by its type
// and name. Directories that loop or nest too deep end the walk, never the
// stack.
#include <cstddef>
#include <cstdint>

#include "foundation/kvStream.h"
#include "fuzz/FuzzSupport.h"
#include "imaging/Startup.h"
#include "imaging/kvPEResources.h"

using fuzzing::Check;
using fuzzing::StreamOf;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  imaging::StartImaging();
  return 0;
}

QEL_FUZZ_TARGET(data, size) {
  foundation::TMemoryStream* s = StreamOf(data, size);
  auto* list = new imaging::TPEResourceList;
  const bool ok = list->Load(s);
  if (!ok) Check(list->Count() == 0);
  for (int32_t i = 0; i < list->Count(); ++i) {
    imaging::TPEResourceItem* it = list->Items(i);
    Check(it->Owner == list);
    imaging::TPEResourceItem* found = list->FindResource(it->Type, it->Name);
    Check(found && found->Type == it->Type && found->Name == it->Name);
  }
  list->Free();
  s->Free();
  return 0;
}
