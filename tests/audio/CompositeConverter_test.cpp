// The composite converter: items mixed under their envelopes into 44.1 kHz
// stereo, cross-fades, seeks into items, concatenated descriptions,
// clipping, the master envelope, and items that cannot or need not play.
// Sources are constant-level WAV files, so every expected sample is the
// level times the envelopes' linear interpolation.
#include <cmath>
#include <map>
#include <vector>

#include <gtest/gtest.h>

#include "AudioTestEnv.h"
#include "audio/CompositeDecoder.h"
#include "audio/ConfigMusic.h"
#include "audio/MusicGeneral.h"
#include "tests/support/AudioFixtures.h"

using audio::TCompositeConverter;
using audio::TCompositeParams;
using audio_test::Bytes;

namespace {

Bytes ConstantWav(double seconds, int16_t value, uint32_t rate = 44100) {
  Bytes data;
  auto frames = static_cast<uint32_t>(std::lround(seconds * rate));
  for (uint32_t i = 0; i < frames * 2; ++i) audio_test::PutLe16(data, static_cast<uint16_t>(value));
  return audio_test::MakeWav(1, 2, rate, 16, data);
}

// Left sample: the source frame / 32 (a position mark).
Bytes PositionWav(double seconds) {
  Bytes data;
  auto frames = static_cast<uint32_t>(std::lround(seconds * 44100));
  for (uint32_t i = 0; i < frames; ++i) {
    audio_test::PutLe16(data, static_cast<uint16_t>(i / 32));
    audio_test::PutLe16(data, 0);
  }
  return audio_test::MakeWav(1, 2, 44100, 16, data);
}

foundation::TRef<TCompositeParams> NewParams() {
  return foundation::TRef<TCompositeParams>::Adopt(new TCompositeParams);
}

// The stream owner: serves the test's files and counts the opens.
class FileOwner : public audio::TMusicPlayer {
 public:
  bool IsReady() override { return true; }
  double GetClockTime() override { return 0.0; }
  audio::TChannel* CreateChannel(const std::u16string&, int32_t) override { return nullptr; }
  audio::TOpenStreamEvent GetOpenStreamEvent() override {
    return [this](void*, const std::u16string& name) -> foundation::TStream* {
      ++opens[name];
      auto it = files.find(name);
      return it == files.end() ? nullptr : audio_test::StreamOf(it->second);
    };
  }
  std::map<std::u16string, Bytes> files;
  std::map<std::u16string, int> opens;
};

class CompositeConverter : public ::testing::Test {
 protected:
  void SetUp() override {
    audio::CreateConverterHook = &audio::CreateMusicConverter;
    audio::InitCompositeDecoder();
    owner_ = new FileOwner;
  }
  void TearDown() override {
    owner_->Free();
    audio::DoneCompositeDecoder();
    audio::CreateConverterHook = nullptr;
  }

  // A converter for the description, opened as the player opens one.
  TCompositeConverter* Make(const std::u16string& description) {
    audio::TMediaInfo info{};
    EXPECT_TRUE(audio::MediaInfoHook(description, info));
    EXPECT_EQ(info.FormatCode, audio::mfcComposite);
    auto* c = static_cast<TCompositeConverter*>(audio::ConverterByNameHook(owner_, description));
    EXPECT_TRUE(c->Open(info));
    return c;
  }

  // The left samples of the next ms of output (silence once it ended).
  static std::vector<int16_t> Left(TCompositeConverter* c, int32_t ms) {
    auto bytes = static_cast<uint32_t>(audio::CompositeBytes(ms));
    c->Read(bytes);
    std::vector<int16_t> left(bytes / 4);
    const auto* s = reinterpret_cast<const int16_t*>(c->OutputBuffer->Data);
    for (size_t i = 0; i < left.size(); ++i) left[i] = s[2 * i];
    c->OutputBuffer->Consume(bytes);
    return left;
  }

  // Frame of a time in ms.
  static size_t At(double ms) { return static_cast<size_t>(std::llround(ms * 44.1)); }

  FileOwner* owner_ = nullptr;
};

}  // namespace

TEST_F(CompositeConverter, TwoItemsCrossFadeAndEveryItemFadesAtItsEdges) {
  owner_->files[u"a.wav"] = ConstantWav(12.0, 10000);
  owner_->files[u"b.wav"] = ConstantWav(12.0, 10000);
  foundation::TRef<TCompositeParams> pRef = NewParams();
  TCompositeParams& p = *pRef.Get();
  p.Duration = 18000;
  audio::TCompositeItem* a = p.AddItem(u"a.wav", 0);
  a->Duration = 10000;
  audio::TCompositeItem* b = p.AddItem(u"b.wav", 8000);
  b->Duration = 10000;
  audio::TVolumeParams* in = b->Envelopes->AddEnvelope();
  in->AddPoint(0, 0);
  in->AddPoint(2000, 1000);
  TCompositeConverter* c = Make(p.ToDescription());
  std::vector<int16_t> out = Left(c, 19000);
  struct Probe {
    double ms;
    int expected;
  };
  // Probe frames are round(ms x 44.1); a 10 ms edge is 441 frames.
  const Probe probes[] = {
      {0, 0},           // a's edge fade-in starts at silence
      {5, 5011},        // frame 221 of 441
      {1000, 10000},    // a alone
      {8500, 12500},    // a plus b at a quarter of its cross-fade
      {9000, 15000},    // half
      {9995, 14989},    // a at 220/441 of its edge fade-out; b at 0.9975, within 1 % of unity, adds unchanged
      {10500, 10000},   // b alone
      {17995, 4989},    // b's edge fade-out
      {18500, 0},       // the composite has ended
  };
  for (const Probe& probe : probes) EXPECT_NEAR(out[At(probe.ms)], probe.expected, 2) << probe.ms << " ms";
  c->Free();
}

TEST_F(CompositeConverter, SeekingIntoAnItemStartsItsFileAtBeginTimePlusTheElapsedTime) {
  owner_->files[u"pos.wav"] = PositionWav(20.0);
  foundation::TRef<TCompositeParams> pRef = NewParams();
  TCompositeParams& p = *pRef.Get();
  p.Duration = 12000;
  audio::TCompositeItem* item = p.AddItem(u"pos.wav", 1000);
  item->BeginTime = 4000;
  item->Duration = 10000;
  TCompositeConverter* c = Make(p.ToDescription());
  c->Seek(3000);
  std::vector<int16_t> out = Left(c, 100);
  // 2000 ms into the item, 4000 ms into its file: file time 6000 ms.
  EXPECT_NEAR(out[0] * 32, 6000 * 44.1, 33);
  EXPECT_NEAR(out[At(50)] * 32, 6050 * 44.1, 33);
  // Before the item: silence, and the item starts at its TimeLine.
  c->Seek(0);
  out = Left(c, 1100);
  EXPECT_EQ(out[At(500)], 0);
  EXPECT_NEAR(out[At(1050)] * 32, 4050 * 44.1, 33);
  c->Free();
}

TEST_F(CompositeConverter, ConcatenatedDescriptionsPlayOneAfterTheOther) {
  owner_->files[u"low.wav"] = ConstantWav(6.0, 3000);
  owner_->files[u"high.wav"] = ConstantWav(6.0, 7000);
  foundation::TRef<TCompositeParams> firstRef = NewParams();
  TCompositeParams& first = *firstRef.Get();
  foundation::TRef<TCompositeParams> secondRef = NewParams();
  TCompositeParams& second = *secondRef.Get();
  first.Duration = 5000;
  first.AddItem(u"low.wav", 0)->Duration = 5000;
  second.Duration = 4000;
  second.AddItem(u"high.wav", 0)->Duration = 4000;
  std::u16string both = first.ToDescription() + second.ToDescription();
  foundation::TRef<TCompositeParams> loadedRef = NewParams();
  TCompositeParams& loaded = *loadedRef.Get();
  ASSERT_TRUE(loaded.Load(both));
  EXPECT_EQ(loaded.Duration, 9000);
  ASSERT_EQ(loaded.Items.size(), 2u);
  EXPECT_EQ(loaded.Items[1]->TimeLine, 5000);
  TCompositeConverter* c = Make(both);
  std::vector<int16_t> out = Left(c, 9500);
  EXPECT_EQ(out[At(2500)], 3000);
  EXPECT_EQ(out[At(7000)], 7000);
  EXPECT_EQ(out[At(9400)], 0);
  c->Free();
}

TEST_F(CompositeConverter, MixesBeyondSixteenBitsAreClipped) {
  owner_->files[u"up.wav"] = ConstantWav(2.0, 30000);
  owner_->files[u"down.wav"] = ConstantWav(2.0, -30000);
  for (auto [file, expected] : {std::pair{u"up.wav", 32767}, {u"down.wav", -32768}}) {
    foundation::TRef<TCompositeParams> pRef = NewParams();
    TCompositeParams& p = *pRef.Get();
    p.Duration = 1000;
    p.AddItem(file, 0)->Duration = 1000;
    p.AddItem(file, 0)->Duration = 1000;
    TCompositeConverter* c = Make(p.ToDescription());
    std::vector<int16_t> out = Left(c, 600);
    EXPECT_EQ(out[At(500)], expected);
    c->Free();
  }
}

TEST_F(CompositeConverter, TheMasterEnvelopeFollowsASeekToItsPosition) {
  owner_->files[u"c.wav"] = ConstantWav(70.0, 20000);
  foundation::TRef<TCompositeParams> pRef = NewParams();
  TCompositeParams& p = *pRef.Get();
  p.Duration = 64000;
  p.AddItem(u"c.wav", 0)->Duration = 64000;
  audio::TVolumeParams* master = p.GetMainEnvelope();
  master->AddPoint(0, 1000);
  master->AddPoint(60000, 0);
  TCompositeConverter* c = Make(p.ToDescription());
  // 30 s into a fall from 1000 to 0 per mille over 60 s: half the level.
  c->Seek(30000);
  std::vector<int16_t> out = Left(c, 1000);
  EXPECT_NEAR(out[0], 10000, 10);
  EXPECT_NEAR(out[At(500)], 20000 * (1.0 - 30500.0 / 60000.0), 10);
  c->Seek(61000);
  out = Left(c, 500);
  EXPECT_EQ(out[At(100)], 0);
  c->Free();
}

TEST_F(CompositeConverter, SmallGainsAtTheRangeEdgesAreScaled) {
  owner_->files[u"c.wav"] = ConstantWav(2.0, 20000);
  struct Case {
    std::vector<int32_t> itemPerMille;  // flat item envelopes
    int32_t masterPerMille;             // 0: no master envelope
    int expected;
  };
  const Case cases[] = {
      {{}, 1, 20},             // master exactly 0.001: scaled, not full level
      {{}, 2, 40},             // master 0.002
      {{1, 10}, 0, 0},         // item exactly 0.00001: scaled to nothing
      {{10}, 0, 200},          // item 0.01
      {{995}, 0, 20000},       // near unity adds unchanged
      {{1020}, 0, 20400},    // above 1.01 is scaled up
  };
  for (const Case& k : cases) {
    foundation::TRef<TCompositeParams> pRef = NewParams();
    TCompositeParams& p = *pRef.Get();
    p.Duration = 1000;
    audio::TCompositeItem* item = p.AddItem(u"c.wav", 0);
    item->Duration = 1000;
    for (int32_t v : k.itemPerMille) {
      audio::TVolumeParams* e = item->Envelopes->AddEnvelope();
      e->AddPoint(0, v);
      e->AddPoint(1000, v);
    }
    if (k.masterPerMille) {
      audio::TVolumeParams* m = p.GetMainEnvelope();
      m->AddPoint(0, k.masterPerMille);
      m->AddPoint(1000, k.masterPerMille);
    }
    TCompositeConverter* c = Make(p.ToDescription());
    std::vector<int16_t> out = Left(c, 600);
    EXPECT_NEAR(out[At(500)], k.expected, 1) << "master " << k.masterPerMille << ", item envelopes "
                                              << k.itemPerMille.size();
    c->Free();
  }
}

TEST_F(CompositeConverter, ItemsThatCannotOrNeedNotPlayAreLeftOutWithoutRetries) {
  owner_->files[u"good.wav"] = ConstantWav(3.0, 4000);
  owner_->files[u"damaged.mp3"] = Bytes(3000, 0x5A);
  owner_->files[u"late.wav"] = ConstantWav(3.0, 9000);
  foundation::TRef<TCompositeParams> pRef = NewParams();
  TCompositeParams& p = *pRef.Get();
  p.Duration = 3000;
  p.AddItem(u"good.wav", 0)->Duration = 3000;
  p.AddItem(u"damaged.mp3", 0)->Duration = 3000;
  p.AddItem(u"missing.wav", 500)->Duration = 2000;
  // Compiled length 0: a later linked start at its own start.
  p.AddItem(u"late.wav", 1000)->Duration = 0;
  TCompositeConverter* c = Make(p.ToDescription());
  std::vector<int16_t> out = Left(c, 3000);
  EXPECT_EQ(out[At(100)], 4000);
  EXPECT_EQ(out[At(1000)], 4000) << "the zero-length item plays no ramp";
  EXPECT_EQ(out[At(1005)], 4000);
  EXPECT_EQ(out[At(2000)], 4000);
  EXPECT_EQ(owner_->opens[u"damaged.mp3"], 1) << "a failed item is not opened again on every block";
  EXPECT_EQ(owner_->opens[u"missing.wav"], 1);
  EXPECT_EQ(owner_->opens[u"late.wav"], 0);
  // A seek tries the failed items once more.
  c->Seek(100);
  Left(c, 500);
  EXPECT_EQ(owner_->opens[u"damaged.mp3"], 2);
  c->Free();
}

TEST_F(CompositeConverter, ACompositeItemPlaysInsideAnotherComposite) {
  owner_->files[u"c.wav"] = ConstantWav(3.0, 6000);
  foundation::TRef<TCompositeParams> innerRef = NewParams();
  TCompositeParams& inner = *innerRef.Get();
  inner.Duration = 2000;
  inner.AddItem(u"c.wav", 0)->Duration = 2000;
  foundation::TRef<TCompositeParams> outerRef = NewParams();
  TCompositeParams& outer = *outerRef.Get();
  outer.Duration = 3000;
  audio::TCompositeItem* nested = outer.AddItem(inner.ToDescription(), 500);
  nested->Duration = 2000;
  TCompositeConverter* c = Make(outer.ToDescription());
  std::vector<int16_t> out = Left(c, 3000);
  EXPECT_EQ(out[At(250)], 0);
  EXPECT_EQ(out[At(1500)], 6000);
  EXPECT_EQ(out[At(2600)], 0);
  c->Free();
}

TEST_F(CompositeConverter, DescriptionsWithoutItemsOrDurationAreNotComposites) {
  foundation::TRef<TCompositeParams> emptyRef = NewParams();
  TCompositeParams& empty = *emptyRef.Get();
  empty.Duration = 1000;
  foundation::TRef<TCompositeParams> noLengthRef = NewParams();
  TCompositeParams& noLength = *noLengthRef.Get();
  noLength.AddItem(u"c.wav", 0)->Duration = 100;
  audio::TMediaInfo info{};
  for (const std::u16string& d : {empty.ToDescription(), noLength.ToDescription(), std::u16string(u"plain.wav")})
    EXPECT_FALSE(audio::MediaInfoHook(d, info));
  EXPECT_TRUE(audio::IsVirtualNameHook(empty.ToDescription()));
  EXPECT_FALSE(audio::IsVirtualNameHook(u"plain.wav"));
}
