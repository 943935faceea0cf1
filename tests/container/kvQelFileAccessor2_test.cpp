// Path aliases, file sources, the accessor and shared image handles.
#include "container/kvQelFileAccessor2.h"

#include <gtest/gtest.h>

#include "AccessTestEnv.h"
#include "container/kvPartialStream.h"
#include "foundation/kvFileUtils.h"
#include "tests/support/TempTree.h"

namespace {

using accesstest::PlaceholderRecorder;
using container::TFileAccessor;
using container::TRealFileSource;
using foundation::TRef;

TRef<TFileAccessor> RealAccessor() {
  TRef<TRealFileSource> source = TRef<TRealFileSource>::Adopt(new TRealFileSource());
  return TRef<TFileAccessor>::Adopt(new TFileAccessor(source.Get()));
}

struct AliasGuard {
  ~AliasGuard() { container::InstallPathAliases({}); }
};

// ---- Path aliases ----

TEST(PathAliases, InsertKeepsOrderAndRefusesBadIndexes) {
  container::TPathModifiersList table;
  EXPECT_EQ(container::AddPathAlias(table, u"%B%", u"Z:\\b", false), 0);
  EXPECT_EQ(container::InsertPathAlias(table, 0, u"a", u"Z:\\a\\", true), 0);
  EXPECT_EQ(container::InsertPathAlias(table, 3, u"c", u"Z:\\c", false), -1);
  EXPECT_EQ(container::InsertPathAlias(table, -1, u"c", u"Z:\\c", false), -1);
  for (int i = 0; i < 20; ++i) container::AddPathAlias(table, u"n", u"Z:\\n", false);
  ASSERT_EQ(table.Count, 22);
  EXPECT_GE(table.Items.size(), 22u);
  EXPECT_EQ(table.Items[0].Name, u"%a%");
  EXPECT_EQ(table.Items[0].Folder, u"Z:\\a");  // trailing backslash removed
  EXPECT_TRUE(table.Items[0].Default);
  EXPECT_EQ(table.Items[1].Name, u"%b%");      // case-folded
  container::ClearPathAliases(table);
  EXPECT_EQ(table.Count, 0);
}

TEST(PathAliases, DefaultEntryGivesWayToALaterExistingOne) {
  qeltest::TempTree t;
  t.write("second/pic.jpg", "x");
  container::TPathModifiersList table;
  container::AddPathAlias(table, u"%pics%", t.internal("first"), true);
  container::AddPathAlias(table, u"%pics%", t.internal("second"), false);
  EXPECT_EQ(container::ExpandPathAliases(table, u"%PICS%\\pic.jpg"), t.internal("second/pic.jpg"));
  container::TPathModifiersList onlyDefault;
  container::AddPathAlias(onlyDefault, u"%pics%", t.internal("first"), true);
  EXPECT_EQ(container::ExpandPathAliases(onlyDefault, u"%pics%\\pic.jpg"), t.internal("first/pic.jpg"));
  // Not a default and no file: the token stays.
  container::TPathModifiersList none;
  container::AddPathAlias(none, u"%pics%", t.internal("first"), false);
  EXPECT_EQ(container::ExpandPathAliases(none, u"%pics%\\pic.jpg"), u"%pics%\\pic.jpg");
  // Existence is judged on the part before "|".
  EXPECT_EQ(container::ExpandPathAliases(table, u"%pics%\\pic.jpg|frame2"), t.internal("second/pic.jpg|frame2"));
}

TEST(PathAliases, StoreTokensAlwaysGoToTheVirtualFiles) {
  container::TPathModifiersList table;
  container::AddPathAlias(table, u"%styles%", u"Z:\\mine", true);
  EXPECT_EQ(container::ExpandPathAliases(table, u"%styles%\\Frame.png"), u"Slide Styles\\Frame.png");
  EXPECT_EQ(container::ExpandPathAliases(table, u"%Effects%\\Wipe.fx"), u"Transitions\\Wipe.fx");
  EXPECT_EQ(container::ExpandPathAliases(table, u"%store%\\x.png"), u"x.png");
}

TEST(PathAliases, InstalledTableServesResolveAndExists) {
  qeltest::TempTree t;
  t.write("media/a.png", "x");
  AliasGuard guard;
  container::TPathModifiersList table;
  container::AddPathAlias(table, u"media", t.internal("media"), false);
  container::InstallPathAliases(table);
  EXPECT_EQ(container::ResolvePathAlias(u"%MEDIA%\\a.png"), t.internal("media/a.png"));
  EXPECT_TRUE(container::AliasedFileExists(u"%media%\\a.png"));
  EXPECT_FALSE(container::AliasedFileExists(u"%media%\\b.png"));
}

// ---- Sources and accessor ----

TEST(FileAccessor, RealSourceOpensFilesAndTheTextBeforeABar) {
  qeltest::TempTree t;
  t.write("clip.mp4", "video bytes");
  TRef<TFileAccessor> accessor = RealAccessor();
  TRef<foundation::TStream> s = TRef<foundation::TStream>::Adopt(accessor->OpenStream(t.internal("clip.mp4") + u"|extra"));
  ASSERT_TRUE(s);
  EXPECT_EQ(accesstest::ReadStreamText(s.Get()), "video bytes");
  // Streams come wrapped so that reading paces the loading thread.
  auto* window = dynamic_cast<container::TPartialStream*>(s.Get());
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(window->ChunkSize(), 32768);
  EXPECT_EQ(accessor->OpenStream(t.internal("missing.mp4")), nullptr);
}

TEST(FileAccessor, LooseNamesFindFilesWhateverTheirCase) {
  qeltest::TempTree t;
  t.write("Show/Pictures/Beach.JPG", "x");
  TRef<TFileAccessor> accessor = RealAccessor();
  TRef<foundation::TStream> s =
      TRef<foundation::TStream>::Adopt(accessor->OpenStream(t.internal("Show") + u"\\pictures\\BEACH.jpg"));
  EXPECT_TRUE(s);
}

TEST(FileAccessor, ResolvePathTriesAliasThenBaseFolder) {
  qeltest::TempTree t;
  t.write("show/pic.jpg", "x");
  TRef<TFileAccessor> accessor = RealAccessor();
  accessor->BaseFolder = t.internal("show") + u"\\";
  std::u16string name = u"C:\\old\\pic.jpg";
  EXPECT_TRUE(accessor->ResolvePath(name));
  EXPECT_EQ(name, t.internal("show/pic.jpg"));
  std::u16string missing = u"C:\\old\\none.jpg";
  EXPECT_FALSE(accessor->ResolvePath(missing));
  EXPECT_EQ(missing, u"C:\\old\\none.jpg");
  TRef<foundation::TStream> s = TRef<foundation::TStream>::Adopt(accessor->OpenFile(u"C:\\old\\pic.jpg"));
  EXPECT_TRUE(s);
  TRef<TFileAccessor> clone = TRef<TFileAccessor>::Adopt(accessor->Clone());
  EXPECT_EQ(clone->Source, accessor->Source);
  EXPECT_EQ(clone->BaseFolder, accessor->BaseFolder);
}

TEST(FileAccessor, OpenHookAndFallback) {
  qeltest::TempTree t;
  t.write("a.txt", "from disk");
  TRef<TFileAccessor> accessor = RealAccessor();
  accessor->FallbackOpen = [](const std::u16string&) -> foundation::TStream* {
    auto* m = new foundation::TMemoryStream();
    m->WriteBuf("fallback", 8);
    m->SetPosition(0);
    return m;
  };
  accessor->OpenHook = [](const std::u16string&, foundation::TStream*& stream) {
    stream->Free();
    auto* m = new foundation::TMemoryStream();
    m->WriteBuf("hooked", 6);
    m->SetPosition(0);
    stream = m;
  };
  TRef<foundation::TStream> a = TRef<foundation::TStream>::Adopt(accessor->OpenStream(t.internal("a.txt")));
  EXPECT_EQ(accesstest::ReadStreamText(a.Get()), "hooked");
  TRef<foundation::TStream> b = TRef<foundation::TStream>::Adopt(accessor->OpenStream(t.internal("none.txt")));
  EXPECT_EQ(accesstest::ReadStreamText(b.Get()), "fallback");
}

// ---- Image handles ----

TEST(ImageHandles, OneDecodePerSourceAndName) {
  qeltest::TempTree t;
  t.write("a.fake", "FAKE 8 4 77");
  TRef<TRealFileSource> source = TRef<TRealFileSource>::Adopt(new TRealFileSource());
  TRef<TFileAccessor> one = TRef<TFileAccessor>::Adopt(new TFileAccessor(source.Get()));
  TRef<TFileAccessor> two = TRef<TFileAccessor>::Adopt(new TFileAccessor(source.Get()));
  TRef<TFileAccessor> other = RealAccessor();
  const int before = accesstest::gFakeDecodes.load();
  const int handlesBefore = container::LiveImageHandleCount();
  {
    TRef<imaging::TImage> a = TRef<imaging::TImage>::Adopt(TFileAccessor::LoadImage(one.Get(), t.internal("a.fake")));
    TRef<imaging::TImage> b = TRef<imaging::TImage>::Adopt(
        TFileAccessor::LoadImage(two.Get(), t.internal("") + u"\\A.FAKE"));
    ASSERT_TRUE(a && b);
    EXPECT_EQ(a->Store, b->Store);
    EXPECT_EQ(accesstest::gFakeDecodes.load(), before + 1);
    EXPECT_EQ(accesstest::FirstGrey(a.Get()), 77);
    TRef<imaging::TImage> c = TRef<imaging::TImage>::Adopt(TFileAccessor::LoadImage(other.Get(), t.internal("a.fake")));
    EXPECT_NE(c->Store, a->Store);
    EXPECT_EQ(accesstest::gFakeDecodes.load(), before + 2);
    TRef<imaging::TImage> clone = TRef<imaging::TImage>::Adopt(a->Clone());
    EXPECT_NE(dynamic_cast<container::TQelImage*>(clone.Get()), nullptr);
    EXPECT_EQ(clone->Store, a->Store);
    EXPECT_EQ(container::LiveImageHandleCount(), handlesBefore + 2);
    // The store's progress forwards to the load callback and never stops a decode.
    ASSERT_TRUE(a->Store->Progress);
    EXPECT_TRUE(a->Store->Progress(0.5f));
  }
  EXPECT_EQ(container::LiveImageHandleCount(), handlesBefore);
  // With every image gone the handle went too: the next request decodes again.
  TRef<imaging::TImage> again = TRef<imaging::TImage>::Adopt(TFileAccessor::LoadImage(one.Get(), t.internal("a.fake")));
  EXPECT_EQ(accesstest::gFakeDecodes.load(), before + 3);
}

TEST(ImageHandles, MissingAndUndecodableFilesGivePlaceholders) {
  qeltest::TempTree t;
  t.write("bad.fake", "not a picture");
  t.write("damaged.boom", "anything");
  t.write("noloader.xyz", "anything");
  TRef<TFileAccessor> accessor = RealAccessor();
  struct Row {
    std::string file;
    std::u16string line1, line2;
  } rows[] = {
      {"x.jpg", u" Image not found ", u" x.jpg "},
      {"bad.fake", u" Image load error: ", u" bad.fake "},
      {"damaged.boom", u" Image load error: ", u" damaged.boom "},
      {"noloader.xyz", u" Image load error: ", u" noloader.xyz "},
  };
  for (const Row& r : rows) {
    PlaceholderRecorder recorder;
    TRef<imaging::TImage> image;
    ASSERT_NO_THROW(image = TRef<imaging::TImage>::Adopt(TFileAccessor::LoadImage(accessor.Get(), t.internal(r.file))))
        << r.file;
    ASSERT_TRUE(image) << r.file;
    EXPECT_EQ(PlaceholderRecorder::Line1, r.line1) << r.file;
    EXPECT_EQ(PlaceholderRecorder::Line2, r.line2) << r.file;
    // The recorder answers the plain grey picture (the vector-text one is tested with the fonts).
    EXPECT_EQ(accesstest::FirstGrey(image.Get()), 100) << r.file;
    EXPECT_EQ(image->Params.Width, container::kPlaceholderWidth);
    // Tried once per handle: a second request while the first lives gets the same placeholder.
    TRef<imaging::TImage> second = TRef<imaging::TImage>::Adopt(TFileAccessor::LoadImage(accessor.Get(), t.internal(r.file)));
    EXPECT_EQ(second->Store, image->Store);
    EXPECT_EQ(PlaceholderRecorder::Count, 1);
  }
}

TEST(ImageHandles, VideoPlaceholderTexts) {
  PlaceholderRecorder recorder;
  TRef<imaging::TImage> a =
      TRef<imaging::TImage>::Adopt(container::CreatePlaceholderImage(u"C:\\clips\\film.mp4", false, true));
  EXPECT_EQ(PlaceholderRecorder::Line1, u" Video not found ");
  EXPECT_EQ(PlaceholderRecorder::Line2, u" film.mp4 ");
  TRef<imaging::TImage> b = TRef<imaging::TImage>::Adopt(container::CreatePlaceholderImage(u"film.mp4", true, true));
  EXPECT_EQ(PlaceholderRecorder::Line1, u" Video load error: ");
}

TEST(ImageHandles, LoadImageWithoutAccessorIsAnInternalError) {
  try {
    TFileAccessor::LoadImage(nullptr, u"a.jpg");
    FAIL() << "no assertion";
  } catch (const foundation::EAssertionFailed& e) {
    EXPECT_EQ(foundation::MessageToUtf8(e.Message()), "TFileAccessor not Assigned for fn: \"a.jpg\"");
  }
}

TEST(ImageHandles, ImageCallbacksComeFirstInRegistrationOrder) {
  TRef<TRealFileSource> source = TRef<TRealFileSource>::Adopt(new TRealFileSource());
  TRef<TFileAccessor> accessor = TRef<TFileAccessor>::Adopt(new TFileAccessor(source.Get()));
  auto makeImage = [](int grey) {
    return [grey](const std::u16string& name) -> imaging::TImage* {
      if (name.rfind(u"Shadow: ", 0) != 0) return nullptr;
      imaging::TSysBitmap* b = imaging::CreateSysBitmap(2, 2, imaging::pfA8R8G8B8);
      for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 8; ++x) b->Row(y)[x] = static_cast<uint8_t>(grey);
      return imaging::WrapBitmapAsImage(b, true, name);
    };
  };
  TRef<container::TCallbackHandle> first = TRef<container::TCallbackHandle>::Adopt(source->AddImageCallback(makeImage(10)));
  TRef<container::TCallbackHandle> second = TRef<container::TCallbackHandle>::Adopt(source->AddImageCallback(makeImage(20)));
  {
    TRef<imaging::TImage> img = TRef<imaging::TImage>::Adopt(TFileAccessor::LoadImage(accessor.Get(), u"Shadow: 1,2,3"));
    EXPECT_EQ(accesstest::FirstGrey(img.Get()), 10);
  }
  first.Reset();
  {
    TRef<imaging::TImage> img = TRef<imaging::TImage>::Adopt(TFileAccessor::LoadImage(accessor.Get(), u"Shadow: 1,2,3"));
    EXPECT_EQ(accesstest::FirstGrey(img.Get()), 20);
  }
  second.Reset();
}

}  // namespace

namespace {

// A source whose every open raises, with something that is or is not a std::exception.
class TRaisingSource : public container::TFileSource {
 public:
  bool Foreign = false;
  foundation::TStream* DoOpen(const std::u16string&) override {
    if (Foreign) throw 42;
    throw foundation::TCommonException(std::string_view("refused"));
  }
};

TEST(ImageHandles, NothingASourceAGeneratorOrAPlaceholderRaisesEscapes) {
  qeltest::TempTree t;
  t.write("ok.fake", "FAKE 4 4 66");
  enum Fault { kSourceRaises, kSourceRaisesForeign, kGeneratorRaises, kProducerRaises, kProducerGivesNone };
  struct Row {
    Fault fault;
    const char* file;
    int grey;  // of the image handed back
  } rows[] = {
      {kSourceRaises, "ok.fake", 100},
      {kSourceRaisesForeign, "ok.fake", 100},
      {kGeneratorRaises, "ok.fake", 66},   // the name is still opened as a file
      {kProducerRaises, "none.fake", 100},  // the plain placeholder stands in
      {kProducerGivesNone, "none.fake", 100},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(static_cast<int>(r.fault));
    TRef<container::TFileSource> source;
    if (r.fault == kSourceRaises || r.fault == kSourceRaisesForeign) {
      auto* raising = new TRaisingSource();
      raising->Foreign = r.fault == kSourceRaisesForeign;
      source = TRef<container::TFileSource>::Adopt(raising);
    } else {
      source = TRef<container::TFileSource>::Adopt(new TRealFileSource());
    }
    TRef<TFileAccessor> accessor = TRef<TFileAccessor>::Adopt(new TFileAccessor(source.Get()));
    TRef<container::TCallbackHandle> generator;
    if (r.fault == kGeneratorRaises)
      generator = TRef<container::TCallbackHandle>::Adopt(source->AddImageCallback(
          [](const std::u16string&) -> imaging::TImage* { throw std::runtime_error("generator failed"); }));
    const container::TPlaceholderProducer previous = container::PlaceholderProducerHook;
    if (r.fault == kProducerRaises)
      container::PlaceholderProducerHook = [](const std::u16string&, const std::u16string&) -> imaging::TImage* {
        throw foundation::TCommonException(std::string_view("no fonts"));
      };
    if (r.fault == kProducerGivesNone)
      container::PlaceholderProducerHook = [](const std::u16string&, const std::u16string&) -> imaging::TImage* {
        return nullptr;
      };
    const int handles = container::LiveImageHandleCount();
    TRef<imaging::TImage> image;
    EXPECT_NO_THROW(image = TRef<imaging::TImage>::Adopt(TFileAccessor::LoadImage(accessor.Get(), t.internal(r.file))));
    container::PlaceholderProducerHook = previous;
    ASSERT_TRUE(image);
    EXPECT_EQ(accesstest::FirstGrey(image.Get()), r.grey);
    // The source's lock was left (this thread no longer owns it).
    EXPECT_FALSE(source->Lock->Leave());
    image.Reset();
    EXPECT_EQ(container::LiveImageHandleCount(), handles);
    generator.Reset();
  }
}

}  // namespace
