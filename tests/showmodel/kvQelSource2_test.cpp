// The show description a locator hands out: made once from the locator's
// accessor and INI, owning neither.
#include "showmodel/kvQelSource2.h"

#include <gtest/gtest.h>

#include "container/kvQelLoader2.h"
#include "tests/container/AccessTestEnv.h"
#include "tests/support/ContainerBuilder.h"
#include "tests/support/TempTree.h"

namespace {

using foundation::TRef;

TEST(QelSource, LocatorMakesItsSourceOnceWithoutGivingItOwnership) {
  showmodel::InitQelSource();
  qeltest::TempTree t;
  t.write("Project.qel", "\xEF\xBB\xBF[Main]\r\nQelVersion=1.0\r\n[Times]\r\n");
  TRef<container::TQelShowLocator> locator =
      TRef<container::TQelShowLocator>::Adopt(container::OpenPreviewProject(t.internal("Project.qel")));
  ASSERT_TRUE(locator);
  showmodel::TQelSource* source = locator->GetSource();
  ASSERT_NE(source, nullptr);
  EXPECT_EQ(locator->GetSource(), source);
  EXPECT_EQ(source->Accessor, locator->Accessor);
  EXPECT_EQ(source->Ini, locator->ProjectIni);
  EXPECT_FALSE(source->OwnsIni);
  EXPECT_FALSE(source->OwnsAccessor);
  // Releasing the locator releases the source first, then the INI and the
  // accessor once each (a double release would be caught by the object model).
  const int live = foundation::LiveObjectCount();
  locator.Reset();
  EXPECT_LT(foundation::LiveObjectCount(), live);
}

TEST(QelSource, AnOwningSourceReleasesWhatItOwns) {
  auto* source = new container::TRealFileSource();
  auto* accessor = new container::TFileAccessor(source);
  source->Free();
  auto* ini = new foundation::TIniFile();
  const int live = foundation::LiveObjectCount();
  auto* qs = new showmodel::TQelSource(accessor, ini, true);
  qs->OwnsAccessor = true;
  qs->Free();
  // The source, the INI, the accessor and the file source are gone.
  EXPECT_LE(foundation::LiveObjectCount(), live - 3);
}

}  // namespace

namespace {

TEST(QelSource, AccessorAndIniMustBeGiven) {
  auto* source = new container::TRealFileSource();
  foundation::TRef<container::TFileAccessor> accessor =
      foundation::TRef<container::TFileAccessor>::Adopt(new container::TFileAccessor(source));
  source->Free();
  foundation::TRef<foundation::TIniFile> ini = foundation::MakeRef<foundation::TIniFile>();
  struct Row {
    container::TFileAccessor* accessor;
    foundation::TIniFile* ini;
  } rows[] = {{nullptr, ini.Get()}, {accessor.Get(), nullptr}, {nullptr, nullptr}};
  for (const Row& r : rows) {
    const int live = foundation::LiveObjectCount();
    EXPECT_THROW(new showmodel::TQelSource(r.accessor, r.ini, false), foundation::EAssertionFailed);
    EXPECT_EQ(foundation::LiveObjectCount(), live);  // nothing left behind
  }
}

}  // namespace
