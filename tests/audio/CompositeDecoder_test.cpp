// Composite descriptions: reading, writing, concatenation and the compiled
// volume envelopes.
#include <cmath>

#include <gtest/gtest.h>

#include "audio/CompositeDecoder.h"

using audio::TCompositeParams;
using audio::TVolumeParams;
using audio::TVolumeParamsList;
using foundation::TRef;

namespace {

std::u16string describe(const std::u16string& ini) { return std::u16string(audio::kCompositeId) + ini; }

// The value of an envelope list at byte position p, found the way the mixer
// finds it: seek to the start, then advance frame by frame.
double valueAt(TVolumeParamsList* list, int64_t p) {
  list->Seek(0);
  bool atEnd = false;
  for (int64_t q = 0; q < p; q += 4) list->Advance(q, atEnd);
  bool unity = false;
  return list->Product(unity);
}

}  // namespace

TEST(CompositeDescription, BytePositionsFallOnWholeFrames) {
  EXPECT_EQ(audio::CompositeBytes(0), 0);
  EXPECT_EQ(audio::CompositeBytes(1000), 176400);
  EXPECT_EQ(audio::CompositeBytes(1), 44 * 4);
  EXPECT_EQ(audio::CompositeBytes(10), 441 * 4);
  EXPECT_EQ(audio::CompositeBytes(60000), 60000LL * 1764 / 10);
}

TEST(CompositeDescription, WrittenDescriptionReadsBackTheSame) {
  TRef<TCompositeParams> p = TRef<TCompositeParams>::Adopt(new TCompositeParams);
  p->Duration = 18000;
  audio::TCompositeItem* a = p->AddItem(u"audio\\one.wav", 0);
  a->Duration = 10000;
  a->BeginTime = 1500;
  TVolumeParams* fade = a->Envelopes->AddEnvelope();
  fade->AddPoint(0, 0);
  fade->AddPoint(500, 800);
  audio::TCompositeItem* b = p->AddItem(u"LoadFromDisk:Z:\\music\\two.mp3", 8000);
  b->Duration = 10000;
  p->GetMainEnvelope()->AddPoint(17000, 1000);
  std::u16string text = p->ToDescription();
  ASSERT_EQ(text.substr(0, 36), audio::kCompositeId);
  EXPECT_EQ(text.find(u'\n'), std::u16string::npos);  // one line: it fits in an INI value

  TRef<TCompositeParams> q = TRef<TCompositeParams>::Adopt(new TCompositeParams);
  ASSERT_TRUE(q->Load(text));
  EXPECT_EQ(q->Duration, 18000);
  ASSERT_EQ(q->Items.size(), 2u);
  EXPECT_EQ(q->Items[0]->FileName, u"audio\\one.wav");
  EXPECT_EQ(q->Items[0]->BeginTime, 1500u);
  EXPECT_EQ(q->Items[1]->FileName, u"LoadFromDisk:Z:\\music\\two.mp3");
  EXPECT_EQ(q->Items[1]->TimeLine, 8000);
  ASSERT_EQ(q->Items[0]->Envelopes->Count(), 1);
  ASSERT_EQ(q->Items[0]->Envelopes->Envelopes[0]->Points.size(), 2u);
  EXPECT_EQ(q->Items[0]->Envelopes->Envelopes[0]->Points[1].Volume, 800);
  EXPECT_EQ(q->Items[1]->Envelopes->Count(), 0);
  ASSERT_NE(q->MainVolume, nullptr);
  EXPECT_EQ(q->MainVolume->Envelopes[0]->Points[0].Time, 17000);
  // Generated envelopes (the edge fades) are never written.
  q->Items[0]->Envelopes->Compile(10000);
  EXPECT_EQ(q->Items[0]->Envelopes->Count(), 2);
  TRef<TCompositeParams> r = TRef<TCompositeParams>::Adopt(new TCompositeParams);
  ASSERT_TRUE(r->Load(q->ToDescription()));
  EXPECT_EQ(r->Items[0]->Envelopes->Count(), 1);
}

TEST(CompositeDescription, ConcatenatedBlocksPlayOneAfterTheOther) {
  std::u16string first = describe(u"[Main]\nDuration=5000\n[0]\nFileName=a.wav\nTimeLine=0\nDuration=5000\n");
  std::u16string second = describe(
      u"[Main]\nDuration=7000\n[0]\nFileName=b.wav\nTimeLine=1000\nDuration=6000\n[1]\nFileName=c.wav\n"
      u"TimeLine=0\n[MainVolume]\nFadeCount=1\n[Vol_MainVolume_0_0]\n0=0\n1=500\n");
  TRef<TCompositeParams> p = TRef<TCompositeParams>::Adopt(new TCompositeParams);
  ASSERT_TRUE(p->Load(first + second));
  EXPECT_EQ(p->Duration, 12000);
  ASSERT_EQ(p->Items.size(), 3u);
  EXPECT_EQ(p->Items[0]->TimeLine, 0);
  EXPECT_EQ(p->Items[1]->TimeLine, 6000);
  EXPECT_EQ(p->Items[2]->TimeLine, 5000);
  ASSERT_NE(p->MainVolume, nullptr);
  EXPECT_EQ(p->MainVolume->Envelopes[0]->Points[0].Volume, 500);
}

TEST(CompositeDescription, DescriptionsWithoutItemsOrDurationAreRefused) {
  struct Row {
    std::u16string text;
    bool loads;
  };
  const Row rows[] = {
      {describe(u"[Main]\nDuration=5000\n"), false},
      {describe(u"[Main]\nDuration=0\n[0]\nFileName=a.wav\n"), false},
      {describe(u"[0]\nFileName=a.wav\n"), false},
      {u"a.wav", false},
      {describe(u"garbage ][ = \n\n["), false},
      // Items are read until a number without a file name.
      {describe(u"[Main]\nDuration=10\n[0]\nFileName=a.wav\n[2]\nFileName=c.wav\n"), true},
      // A fade count outside 0..1000000 loads no envelope.
      {describe(u"[Main]\nDuration=10\n[0]\nFileName=a.wav\nFadeCount=2000000\n"), true},
  };
  for (const Row& r : rows) {
    TRef<TCompositeParams> p = TRef<TCompositeParams>::Adopt(new TCompositeParams);
    EXPECT_EQ(p->Load(r.text), r.loads);
    if (r.loads) {
      EXPECT_EQ(p->Items.size(), 1u);
      EXPECT_EQ(p->Items[0]->Envelopes->Count(), 0);
    }
  }
}

TEST(CompositeEnvelope, CrossFadeInAndEdgeFadesCompileToTheirValues) {
  // The second item of a cross-fade: (0, 0) -> (2000, 1000) over a 10 s item,
  // plus the generated 10 ms fades at both ends.
  TRef<TVolumeParamsList> list = TRef<TVolumeParamsList>::Adopt(new TVolumeParamsList(true));
  TVolumeParams* cross = list->AddEnvelope();
  cross->AddPoint(0, 0);
  cross->AddPoint(2000, 1000);
  list->Compile(10000);
  ASSERT_EQ(list->Count(), 2);
  const int64_t ms = 176400 / 1000;
  EXPECT_NEAR(valueAt(list.Get(), 1000 * 176400 / 1000), 0.5, 1e-3);
  EXPECT_NEAR(valueAt(list.Get(), 500 * 176400 / 1000), 0.25, 1e-3);
  // 5 ms in: the edge fade (half way) times the cross-fade (5/2000).
  EXPECT_NEAR(valueAt(list.Get(), 5 * ms), 0.5 * 0.0025, 1e-4);
  // After the cross-fade, unity until the last 10 ms.
  bool unity = false;
  list->Seek(audio::CompositeBytes(5000));
  EXPECT_NEAR(list->Product(unity), 1.0, 1e-9);
  EXPECT_TRUE(unity);
  list->Seek(audio::CompositeBytes(9995));
  EXPECT_NEAR(list->Product(unity), 0.5, 0.01);
  // Past the end every envelope reports it.
  bool atEnd = false;
  list->Advance(audio::CompositeBytes(10001), atEnd);
  EXPECT_TRUE(atEnd);
}

TEST(CompositeEnvelope, PointsAtTheSameTimeKeepTheLaterOne) {
  TRef<TVolumeParams> e = TRef<TVolumeParams>::Adopt(new TVolumeParams);
  e->AddPoint(0, 1000);
  e->AddPoint(1000, 200);
  e->AddPoint(1000, 600);
  e->Compile(2000);
  ASSERT_EQ(e->Segments.size(), 3u);  // 0, 1000, and the end point
  EXPECT_DOUBLE_EQ(e->Segments[1].Volume, 0.6);
  e->Seek(audio::CompositeBytes(500));
  EXPECT_NEAR(e->Current, 0.8, 1e-3);
  e->Seek(audio::CompositeBytes(1500));
  EXPECT_NEAR(e->Current, 0.6, 1e-9);
}
