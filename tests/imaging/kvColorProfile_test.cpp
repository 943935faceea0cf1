#include "imaging/kvColorProfile.h"

#include <gtest/gtest.h>
#include <lcms2.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "ImagingTestEnv.h"
#include "foundation/kpExceptions.h"
#include "imaging/kvICCColorProfile.h"
#include "platform/color/api.h"
#include "platform/os/paths.h"

using namespace imaging;
using foundation::TRef;

namespace {

// A transform that leaves the table as it is, or swaps red and blue.
class FakeTransform : public TColorTransform {
 public:
  FakeTransform(TColorProfile* s, TColorProfile* d, bool swap) : TColorTransform(s, d), swap_(swap) {}
  bool TransformBitmap(TSysBitmap* b) override {
    ++calls;
    if (swap_)
      for (int y = 0; y < b->Height; ++y)
        for (int x = 0; x < b->Width; ++x) std::swap(b->Rows24(y)[x].B, b->Rows24(y)[x].R);
    return true;
  }
  static inline int calls = 0;

 private:
  bool swap_;
};

bool g_swap = false;
TColorTransform* FakeHook(TColorProfile* s, TColorProfile* d) { return new FakeTransform(s, d, g_swap); }

class HookScope {
 public:
  explicit HookScope(TCreateColorTransform hook) : saved_(CreateColorTransformHook) { CreateColorTransformHook = hook; }
  ~HookScope() { CreateColorTransformHook = saved_; }

 private:
  TCreateColorTransform saved_;
};

TRef<TColorProfile> NewProfile(const char16_t* name) {
  return TRef<TColorProfile>::Adopt(CreateColorProfileFromBytes({1, 2, 3}, name));
}

TFColor Tc(const TColorProfile* p, TFColor c) {
  TFColor r{};
  const_cast<TColorProfile*>(p)->TransformColor(r, c);
  return r;
}

bool Same(TFColor a, TFColor b) { return a.B == b.B && a.G == b.G && a.R == b.R; }

TEST(ColorProfile, BuiltInProfiles) {
  ASSERT_NE(SRGBColorProfile, nullptr);
  EXPECT_NE(SRGBColorProfile, YUVsRGBColorProfile);
  EXPECT_EQ(SRGBColorProfile->Data, YUVsRGBColorProfile->Data);
  EXPECT_EQ(YUVsRGBColorProfile->Name, u"YUVsRGB");
  EXPECT_GE(FindBytes(SRGBColorProfile->Data, "sRGB IEC61966-2.1", 512), 0);
  for (TColorProfile* p : {SRGBColorProfile, AdobeRGBColorProfile, RaderAZOColorProfile}) {
    cmsHPROFILE h = cmsOpenProfileFromMem(p->Data.data(), static_cast<cmsUInt32Number>(p->Data.size()));
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(cmsGetColorSpace(h), cmsSigRgbData);
    EXPECT_EQ(cmsGetDeviceClass(h), cmsSigDisplayClass);
    cmsCloseProfile(h);
  }
  cmsHPROFILE h = cmsOpenProfileFromMem(RaderAZOColorProfile->Data.data(),
                                        static_cast<cmsUInt32Number>(RaderAZOColorProfile->Data.size()));
  EXPECT_NEAR(cmsGetProfileVersion(h), 2.4, 0.001);
  auto* red = static_cast<cmsCIEXYZ*>(cmsReadTag(h, cmsSigRedColorantTag));
  ASSERT_NE(red, nullptr);
  EXPECT_NEAR(red->X, 0.3850, 0.0002);
  EXPECT_NEAR(red->Y, 0.7170, 0.0002);
  auto* curve = static_cast<cmsToneCurve*>(cmsReadTag(h, cmsSigGreenTRCTag));
  ASSERT_NE(curve, nullptr);
  EXPECT_EQ(cmsGetToneCurveEstimatedTableEntries(curve), 129u);
  auto* tech = static_cast<cmsTechnologySignature*>(cmsReadTag(h, cmsSigTechnologyTag));
  ASSERT_NE(tech, nullptr);
  EXPECT_EQ(*tech, cmsSigCRTDisplay);
  cmsCloseProfile(h);
}

TEST(ColorProfile, EmbeddedStandardProfileIsShared) {
  const std::string text = "sRGB IEC61966-2.1";
  std::vector<uint8_t> at400(700, 0), at600(700, 0), at495(700, 0);
  std::memcpy(at400.data() + 400, text.data(), text.size());
  std::memcpy(at600.data() + 600, text.data(), text.size());
  std::memcpy(at495.data() + 495, text.data(), text.size());  // ends exactly at byte 512
  TColorProfile* a = CreateColorProfile(at400, u"a");
  EXPECT_EQ(a, SRGBColorProfile);
  a->Free();
  TColorProfile* b = CreateColorProfile(at600, u"b");
  EXPECT_NE(b, SRGBColorProfile);
  EXPECT_EQ(b->Name, u"b");
  b->Free();
  TColorProfile* c = CreateColorProfile(at495, u"c");
  EXPECT_EQ(c, SRGBColorProfile);
  c->Free();
  EXPECT_EQ(FindBytes(at495, text, 511), -1);
  EXPECT_EQ(CreateColorProfile({}, u"none"), nullptr);
}

TEST(ColorProfile, TransformChoiceAndDisplayProfile) {
  EXPECT_EQ(GetDisplayColorProfile().Get(), SRGBColorProfile);
  EXPECT_EQ(GetColorTransform(nullptr, nullptr), nullptr);  // both sides sRGB
  {
    HookScope none(nullptr);
    EXPECT_EQ(GetColorTransform(nullptr, AdobeRGBColorProfile), nullptr);
  }
  const int before = AdobeRGBColorProfile->RefCount();
  SetDisplayColorProfile(AdobeRGBColorProfile, false);
  EXPECT_EQ(AdobeRGBColorProfile->RefCount(), before + 1);
  EXPECT_EQ(GetDisplayColorProfile().Get(), AdobeRGBColorProfile);
  TColorTransform* t = GetColorTransform(nullptr, nullptr);
  ASSERT_NE(t, nullptr);
  EXPECT_NE(dynamic_cast<TICCColorTransform*>(t), nullptr);
  EXPECT_EQ(t->Source, SRGBColorProfile);
  EXPECT_EQ(t->Destination, AdobeRGBColorProfile);
  t->Free();
  SetDisplayColorProfile(nullptr, false);
  EXPECT_EQ(AdobeRGBColorProfile->RefCount(), before);
  EXPECT_THROW(CreateICCColorTransform(nullptr, SRGBColorProfile), foundation::EAssertionFailed);
}

TEST(ColorProfile, IdentityTableReproducesNodes) {
  HookScope hook(FakeHook);
  g_swap = false;
  auto p = NewProfile(u"identity");
  FakeTransform::calls = 0;
  EXPECT_TRUE(Same(Tc(p.Get(), {0, 0, 0}), {0, 0, 0}));
  EXPECT_TRUE(Same(Tc(p.Get(), {255, 255, 255}), {255, 255, 255}));
  EXPECT_EQ(FakeTransform::calls, 1);  // the table is built once
  ASSERT_NE(p->Table, nullptr);
  for (int i = 0; i < 32; ++i)
    for (int j = 0; j < 32; ++j)
      for (int k = 0; k < 32; ++k) {
        const TFColor e = p->Table->Rows24(i * 32 + j)[k];
        ASSERT_TRUE(Same(e, {uint8_t(ColorLUTLevel(i)), uint8_t(ColorLUTLevel(j)), uint8_t(ColorLUTLevel(k))}));
      }
  // Level 24 (node 3) sits just below node 3 on the 7967 scale: 16 + (60138 x 8 + 32767) / 65536 = 23.
  EXPECT_TRUE(Same(Tc(p.Get(), {24, 24, 24}), {23, 23, 23}));
  EXPECT_TRUE(Same(Tc(p.Get(), {0, 255, 9}), {0, 255, 9}));
  EXPECT_TRUE(Same(Tc(p.Get(), {255, 0, 255}), {255, 0, 255}));
  ASSERT_NE(p->Table, nullptr);
  EXPECT_EQ(p->Table->Width, 32);
  EXPECT_EQ(p->Table->Height, 1024);
  // Entry (blue i, green j, red k) is pixel k of row 32i + j.
  EXPECT_EQ(p->Table->Rows24(3 * 32 + 5)[7].B, ColorLUTLevel(3));
  EXPECT_EQ(p->Table->Rows24(3 * 32 + 5)[7].G, ColorLUTLevel(5));
  EXPECT_EQ(p->Table->Rows24(3 * 32 + 5)[7].R, ColorLUTLevel(7));
}

TEST(ColorProfile, InterpolationArithmetic) {
  HookScope hook(FakeHook);
  g_swap = true;  // output blue follows the red axis and red the blue axis
  auto p = NewProfile(u"swap");
  // Between nodes 1 (8) and 2 (16) with weight 6168: 8 + (6168 x 8 + 32767) / 65536 = 9.
  EXPECT_TRUE(Same(Tc(p.Get(), {9, 100, 255}), {255, 100, 9}));
  // A reference computation of the three axes for a handful of colours.
  auto axis = [](int v, int& i, int& w) {
    const int c = v * 7967;
    i = c >> 16;
    w = (c & 65535) + i;
  };
  auto lerp = [](int a, int b, int w) { return w == 0 ? a : w == 65535 ? b : a + (w * (b - a) + 32767) / 65536; };
  for (int v : {1, 7, 100, 128, 200, 254}) {
    int i, w;
    axis(v, i, w);
    const int expect = lerp(ColorLUTLevel(i), ColorLUTLevel(i + 1), w);
    const TFColor r = Tc(p.Get(), {uint8_t(v), 0, uint8_t(v)});
    EXPECT_EQ(r.B, expect) << v;
    EXPECT_EQ(r.R, expect) << v;
  }
  // With no display profile a call on none copies the colour.
  TFColor out{};
  TransformColor(nullptr, out, TFColor{1, 2, 3});
  EXPECT_TRUE(Same(out, {1, 2, 3}));
}

TEST(ColorProfile, RealTransformRotatesColours) {
  // sRGB red is the RaderAZO blue colorant.
  const TFColor r = Tc(RaderAZOColorProfile, TFColor{0, 0, 255});
  EXPECT_GT(r.B, 200);
  EXPECT_LT(r.R, 60);
  EXPECT_LT(r.G, 60);
  // sRGB into itself: no transform, no table.
  EXPECT_TRUE(Same(Tc(SRGBColorProfile, TFColor{10, 20, 30}), {10, 20, 30}));
  EXPECT_EQ(SRGBColorProfile->Table, nullptr);
}

TEST(IccTransform, BitmapsAndFallbacks) {
  auto make = [](TPixelFormat* f) {
    auto b = TRef<TSysBitmap>::Adopt(CreateSysBitmap(64, 4, f));
    for (int y = 0; y < 4; ++y)
      for (int i = 0; i < 64 * f->BytesPerPixel; ++i) b->Row(y)[i] = uint8_t(i * 7 + y * 13);
    return b;
  };
  auto rows = [](TSysBitmap* b) {
    std::vector<uint8_t> v;
    for (int y = 0; y < b->Height; ++y) v.insert(v.end(), b->Row(y), b->Row(y) + b->Width * b->BytesPerPixel());
    return v;
  };
  TColorTransform* t = CreateICCColorTransform(SRGBColorProfile, AdobeRGBColorProfile);
  for (TPixelFormat* f : {pfR8G8B8, pfA8R8G8B8}) {
    auto b = make(f);
    const auto before = rows(b.Get());
    EXPECT_TRUE(t->TransformBitmap(b.Get()));
    const auto after = rows(b.Get());
    EXPECT_NE(after, before);
    if (f == pfA8R8G8B8) {
      for (size_t i = 3; i < after.size(); i += 4) ASSERT_EQ(after[i], before[i]);  // alpha carried along
    }
  }
  t->Free();
  // No ICC bytes, bytes LittleCMS cannot open, or a 16-bit bitmap: False and unchanged.
  auto empty = TRef<TColorProfile>::Adopt(new TColorProfile({}, u"dump"));
  std::vector<uint8_t> half(AdobeRGBColorProfile->Data.begin(),
                            AdobeRGBColorProfile->Data.begin() + AdobeRGBColorProfile->Data.size() / 3);
  auto cut = TRef<TColorProfile>::Adopt(new TColorProfile(half, u"cut"));
  for (TColorProfile* bad : {empty.Get(), cut.Get()}) {
    TColorTransform* u = CreateICCColorTransform(SRGBColorProfile, bad);
    auto b = make(pfR8G8B8);
    const auto before = rows(b.Get());
    EXPECT_FALSE(u->TransformBitmap(b.Get()));
    EXPECT_EQ(rows(b.Get()), before);
    u->Free();
  }
  TColorTransform* u = CreateICCColorTransform(SRGBColorProfile, AdobeRGBColorProfile);
  auto w = make(pfR5G6B5);
  const auto before = rows(w.Get());
  EXPECT_FALSE(u->TransformBitmap(w.Get()));
  EXPECT_EQ(rows(w.Get()), before);
  u->Free();
}

TEST(IccTransform, FallbackCopyBetweenBitmaps) {
  auto src = TRef<TSysBitmap>::Adopt(CreateSysBitmap(20, 2, pfA8R8G8B8));
  auto dst = TRef<TSysBitmap>::Adopt(CreateSysBitmap(20, 2, pfA8R8G8B8));
  for (int y = 0; y < 2; ++y)
    for (int i = 0; i < 80; ++i) src->Row(y)[i] = uint8_t(i + y * 100);
  EXPECT_FALSE(TransformBitmapRect(dst.Get(), src.Get(), TRect{0, 0, 20, 2}, TPoint{10, 0}, {}, {}, 0));
  EXPECT_EQ(dst->Row(0)[0], 40);  // each row starts 40 bytes into the source row
  EXPECT_EQ(dst->Row(1)[39], 100 + 79);
  EXPECT_EQ(dst->Row(1)[40], 0);  // beyond the clipped width nothing is written
  // In place with the source above the destination: rows copied bottom-up.
  EXPECT_FALSE(TransformBitmapRect(src.Get(), src.Get(), TRect{0, 1, 20, 2}, TPoint{0, 0}, {}, {}, 0));
  EXPECT_EQ(src->Row(1)[5], 5);
  EXPECT_EQ(LcmsTransformFlags(false, 0, false), 0u);
  EXPECT_EQ(LcmsTransformFlags(true, 2, true), 0x2000u | 0x400u | 0x200u);
}

class TempFile {
 public:
  explicit TempFile(const std::string& name) : path_("/tmp/" + name + "-" + std::to_string(::getpid())) {
    std::ofstream(path_) << "icc";
  }
  ~TempFile() { std::remove(path_.c_str()); }
  const std::string& path() const { return path_; }
  std::u16string internal() const { return platform::os::fromPosixPath(path_); }

 private:
  std::string path_;
};

class FakeColorBackend : public platform::color::ColorBackend {
 public:
  std::u16string monitor, dir, standard;
  std::u16string monitorProfilePath() override { return monitor; }
  std::u16string colorDirectory() override { return dir; }
  std::u16string standardColorSpaceProfile(int32_t) override { return standard; }
};

TEST(MonitorProfile, PathsFromTheBackend) {
  TempFile file("qel-monitor.icc");
  FakeColorBackend fake;
  platform::color::ColorBackend* saved = platform::color::setColorBackend(&fake);
  ResetColorDirectoryCache();
  std::u16string text;
  fake.monitor = file.internal();
  EXPECT_TRUE(GetMonitorColorProfilePath(text, 0));
  EXPECT_EQ(text, file.internal());
  // A bare name is found in the colour folder (a trailing "\" is added).
  fake.monitor = platform::os::fromPosixPath(file.path().substr(5));
  fake.dir = u"Z:\\tmp";
  ResetColorDirectoryCache();
  EXPECT_EQ(GetColorDirectory(), u"Z:\\tmp\\");
  EXPECT_TRUE(GetMonitorColorProfilePath(text, 0));
  EXPECT_EQ(text, file.internal());
  // Nothing offered: empty, so sRGB holds.
  fake.monitor = u"";
  EXPECT_FALSE(GetMonitorColorProfilePath(text, 0));
  EXPECT_TRUE(text.empty());
  fake.standard = file.internal();
  EXPECT_TRUE(GetMonitorColorProfilePath(text, 2));
  platform::color::setColorBackend(saved);
  ResetColorDirectoryCache();
}

TEST(MonitorProfile, LinuxBackendReadsTheEnvironment) {
  TempFile file("qel-env.icc");
  platform::color::ColorBackend* backend = platform::color::linuxColorBackend();
  ::setenv("QEL_MONITOR_ICC", file.path().c_str(), 1);
  EXPECT_EQ(backend->monitorProfilePath(), file.internal());
  ::setenv("QEL_MONITOR_ICC", "/nonexistent/qel.icc", 1);
  EXPECT_EQ(backend->monitorProfilePath(), u"");
  ::unsetenv("QEL_MONITOR_ICC");
  EXPECT_EQ(backend->monitorProfilePath(), u"");
  EXPECT_EQ(backend->standardColorSpaceProfile(1), u"");
}

}  // namespace
