#include "imaging/kvImage.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "ImagingTestEnv.h"
#include "foundation/kpExceptions.h"
#include "imaging/SysBitmapStore.h"

using namespace imaging;
using foundation::TRef;
using foundation::TStream;
using foundation::TStringStream;

namespace {

// Which loaders were asked, and where the stream stood when each was asked.
struct Call {
  std::string loader;
  int64_t position;
};
std::vector<Call> g_calls;

// Reads a header of 8 bytes and always declines, leaving the stream where it stopped.
TBitmapStore* GreedyDecliner(TStream* s, const std::u16string&, bool, TLevelProvider&) {
  g_calls.push_back({"greedy", s->GetPosition()});
  uint8_t buf[8];
  s->ReadBuf(buf, 8);
  return nullptr;
}

// Decodes "FAKE" w h followed by w*h grey bytes into an A8R8G8B8 image.
TBitmapStore* FakeDecoder(TStream* s, const std::u16string& name, bool owns, TLevelProvider& provider) {
  g_calls.push_back({"fake", s->GetPosition()});
  uint8_t head[6] = {};
  if (s->ReadBuf(head, 6) != 6 || std::string(reinterpret_cast<char*>(head), 4) != "FAKE" || head[4] == 0 ||
      head[5] == 0)
    return nullptr;
  auto* bmp = CreateSysBitmap(head[4], head[5], pfA8R8G8B8);
  for (int y = 0; y < head[5]; ++y)
    for (int x = 0; x < head[4]; ++x) StoreU32(bmp->Row(y) + 4 * x, 0xFF000000u | s->ReadByte());
  if (owns) s->Free();  // decoded at once: the taken-over reference is released
  return new TWrapperBitmapStore(name, bmp, true, provider);
}

TBitmapStore* PngOnly(TStream* s, const std::u16string&, bool, TLevelProvider&) {
  g_calls.push_back({"png", s->GetPosition()});
  return nullptr;
}

class ImageRegistry : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!ImageLoaders().empty()) return;
    RegisterImageLoader(GreedyDecliner, {u".fake", u"gif"});
    RegisterImageLoader(PngOnly, {u"*.png"});
    RegisterImageLoader(FakeDecoder, {u" *.FAKE", u".bmp"});
  }
  void SetUp() override { g_calls.clear(); }

  static std::string FakeData(int w, int h) {
    std::string d = "FAKE";
    d += char(w);
    d += char(h);
    for (int i = 0; i < w * h; ++i) d += char(10 + i);
    return d;
  }
};

TEST_F(ImageRegistry, ExtensionsNormaliseAndMatch) {
  EXPECT_EQ(NormaliseImageExtension(u" *.jpg"), u".jpg");
  EXPECT_EQ(NormaliseImageExtension(u".JPG"), u".JPG");
  EXPECT_EQ(NormaliseImageExtension(u"flac"), u".flac");
  EXPECT_EQ(NormaliseImageExtension(u""), u"");
  EXPECT_EQ(NormaliseImageExtension(u"\t*"), u"");
  EXPECT_EQ(ImageLoaders()[0].Extensions[1], u".gif");
  EXPECT_TRUE(LoaderHandlesExtension(ImageLoaders()[2], u".fake"));
  EXPECT_FALSE(LoaderHandlesExtension(ImageLoaders()[2], u".fak"));
  EXPECT_EQ(ImageNameExtension(u"a\\b.c\\name"), u"");
  EXPECT_EQ(ImageNameExtension(u"x.gif|framesatlas"), u".gif|framesatlas");
}

TEST_F(ImageRegistry, DeclinedStreamIsRewoundForTheNextLoader) {
  auto* s = new TStringStream("xyz" + FakeData(2, 1));
  s->SetPosition(3);
  s->_AddRef();  // our own reference, to watch the count
  TImage* img = LoadImage(s, u"dir\\pic.fake", true);
  ASSERT_NE(img, nullptr);
  ASSERT_EQ(g_calls.size(), 2u);
  EXPECT_EQ(g_calls[0].loader, "greedy");
  EXPECT_EQ(g_calls[1].loader, "fake");
  EXPECT_EQ(g_calls[1].position, 3);  // not 11, where the first loader left it
  EXPECT_EQ(s->RefCount(), 1);        // the loader released the reference it took over
  EXPECT_EQ(img->Params.Width, 2);
  EXPECT_EQ(img->Params.Name, u"dir\\pic.fake");
  TBitmap* b = img->GetBitmap();
  EXPECT_EQ(b->PixelFormat, pfA8R8G8B8);
  EXPECT_EQ(static_cast<TSysBitmap*>(b)->Row(0)[4], 11);
  // Every mip level in any format and class.
  TBitmap* l1 = img->Store->GetBitmap(1, pfR5G6B5, TDirectBitmap::StaticClass());
  EXPECT_EQ(l1->PixelFormat, pfR5G6B5);
  EXPECT_STREQ(l1->ClassName(), "TDirectBitmap");
  EXPECT_EQ(l1->Width, 1);
  TBitmap* grey = img->Store->GetBitmap(0, pfY8, nullptr);
  EXPECT_EQ(grey->Width, 2);
  img->Free();
  s->Free();
}

TEST_F(ImageRegistry, NoLoaderReleasesOnlyAnOwnedStream) {
  auto* s = new TStringStream("nothing here");
  s->_AddRef();
  EXPECT_EQ(LoadImage(s, u"a.fake", false), nullptr);
  EXPECT_EQ(s->RefCount(), 2);
  EXPECT_EQ(LoadImage(s, u"a.fake", true), nullptr);
  EXPECT_EQ(s->RefCount(), 1);
  s->Free();
  EXPECT_EQ(LoadImageFromString("junk", u"unknown.ext"), nullptr);  // no loader for the extension
}

TEST_F(ImageRegistry, PngSignatureAndNamesWithoutExtension) {
  std::string png = "\x89PNG\r\n\x1a\n rest";
  auto* s = new TStringStream(png);
  EXPECT_TRUE(StreamHasPngSignature(s));
  EXPECT_EQ(s->GetPosition(), 0);
  EXPECT_EQ(LoadImage(s, u"shot.bmp", false), nullptr);
  ASSERT_EQ(g_calls.size(), 1u);
  EXPECT_EQ(g_calls[0].loader, "png");  // ".bmp" carrying a PNG goes to the ".png" loaders
  g_calls.clear();
  EXPECT_EQ(LoadImage(s, u"shot.BMP", false), nullptr);  // upper case: no signature test
  ASSERT_EQ(g_calls.size(), 1u);
  EXPECT_EQ(g_calls[0].loader, "fake");
  s->Free();
  auto* shortStream = new TStringStream("\x89PN");
  EXPECT_FALSE(StreamHasPngSignature(shortStream));
  EXPECT_EQ(shortStream->GetPosition(), 0);
  shortStream->Free();
  g_calls.clear();
  TImage* img = LoadImageFromString(FakeData(1, 1), u"");
  ASSERT_NE(img, nullptr);
  ASSERT_EQ(g_calls.size(), 3u);  // every loader in order
  img->Free();
}

TEST_F(ImageRegistry, LoadFromFileThroughTheHook) {
  auto saved = foundation::ReadFile;
  foundation::ReadFile = [](const std::u16string& name) -> TStream* {
    if (name != u"Z:\\pics\\a.fake") return nullptr;
    return new TStringStream("FAKE\x01\x01\x05");
  };
  TImage* img = LoadImageFromFile(u"Z:\\pics\\a.fake");
  EXPECT_EQ(LoadImageFromFile(u"Z:\\missing.fake"), nullptr);
  foundation::ReadFile = saved;
  ASSERT_NE(img, nullptr);
  TImage* copy = img->Clone();
  EXPECT_EQ(copy->Store, img->Store);
  TImage* none = nullptr;
  EXPECT_FALSE(FreeImageAndNil(none));
  TImage* images[3] = {img, copy, nullptr};
  EXPECT_EQ(FreeImagesAndNil(images, 3, -1), 0);
  EXPECT_NE(images[0], nullptr);
  EXPECT_EQ(FreeImagesAndNil(images, 3, INT_MAX), 3);
  EXPECT_EQ(images[0], nullptr);
  EXPECT_EQ(images[1], nullptr);
}

TEST(MipSelection, SmallestLevelStillLarger) {
  EXPECT_EQ(SelectMipLevel(TSize{1000, 800}, 300, 300), 1);
  EXPECT_EQ(SelectMipLevel(TSize{600, 600}, 300, 300), 0);
  EXPECT_EQ(SelectMipLevel(TSize{100, 100}, 300, 300), 0);
  EXPECT_EQ(SelectMipLevel(TSize{4000, 4000}, 10, 3000), 0);
  EXPECT_EQ(SelectMipLevel(TSize{4096, 4096}, 10, 10), 8);
  EXPECT_THROW(SelectMipLevel(TSize{10, 10}, 0, 5), foundation::EAssertionFailed);
}

// A store whose level answers can be chosen by the test.
class ScriptedStore : public TBitmapStore {
 public:
  QEL_CLASSNAME(TScriptedStore)
  TBitmap* give = nullptr;
  int32_t answerLevel = 0;
  int calls = 0;
  void GetMipLevel(TMipLevelResult& r, int32_t, TPixelFormat*, TBitmapClass) override {
    ++calls;
    r.Bitmap = give;
    r.Owned = true;
    r.Level = answerLevel;
  }
};

class Attached : public foundation::TRefObject {};
class AttachedChild : public Attached {};

TEST(BitmapStore, CachesAndConverts) {
  auto* store = new ScriptedStore;
  store->give = CreateSysBitmap(3, 2, pfR8G8B8);
  TBitmap* native = store->GetBitmap(0, nullptr, nullptr);
  EXPECT_EQ(native, store->give);
  EXPECT_EQ(store->GetBitmap(0, pfR8G8B8, TSysBitmap::StaticClass()), native);
  TBitmap* argb = store->GetBitmap(0, pfA8R8G8B8, nullptr);
  EXPECT_NE(argb, native);
  EXPECT_EQ(argb->PixelFormat, pfA8R8G8B8);
  EXPECT_EQ(store->GetBitmap(0, pfA8R8G8B8, nullptr), argb);
  EXPECT_EQ(store->calls, 1);
  TBitmap* direct = store->GetBitmap(0, nullptr, TDirectBitmap::StaticClass());
  EXPECT_STREQ(direct->ClassName(), "TDirectBitmap");
  // Attachments are found by class and released with the store.
  store->AddAttachment(new AttachedChild);
  EXPECT_NE(TBitmapStore::FindAttachment<Attached>(store), nullptr);
  EXPECT_EQ(TBitmapStore::FindAttachment<AttachedChild>(nullptr), nullptr);
  store->give = nullptr;
  try {
    store->GetBitmap(2, nullptr, nullptr);
    FAIL();
  } catch (const foundation::EAssertionFailed& e) {
    EXPECT_STREQ(e.what(), "\"TScriptedStore.GetMipLevel(2)\" Not Assigned");
  }
  store->give = CreateSysBitmap(1, 1, pfR8G8B8);
  store->answerLevel = 0;
  try {
    store->GetBitmap(3, nullptr, nullptr);
    FAIL();
  } catch (const foundation::EAssertionFailed& e) {
    EXPECT_STREQ(e.what(), "Incorrect MipLevelIndex");
  }
  store->Free();
  EXPECT_THROW(new TImage(nullptr), foundation::EAssertionFailed);
}

}  // namespace
