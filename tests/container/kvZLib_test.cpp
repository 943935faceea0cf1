#include "container/kvZLib.h"

#include "imaging/kvImage.h"

#include <gtest/gtest.h>

#include "tests/container/ContainerTestUtil.h"
#include "tests/support/ContainerBuilder.h"

namespace {

using container::EZDecompressionError;
using container::TInflateStream;
using container::TInflator;
using foundation::EStreamReadError;
using foundation::TMemoryStream;
using foundation::TRef;
using namespace containertest;

// A deflate block with BFINAL=1 and the reserved type 11: zlib answers
// "data error" for it, deterministically.
const std::string kCorrupt = std::string("\xFF\xFF\xFF\xFF", 4);

TRef<TInflateStream> Inflate(TStream* source, int64_t declared = -1) {
  return TRef<TInflateStream>::Adopt(new TInflateStream(source, declared));
}

struct RoundTrip {
  const char* name;
  size_t size;
  int32_t piece;
};

void PrintTo(const RoundTrip& r, std::ostream* os) { *os << r.name; }

class InflateRoundTrip : public ::testing::TestWithParam<RoundTrip> {};

TEST_P(InflateRoundTrip, ReadsTheOriginalBytesInAnyPieceSize) {
  const RoundTrip& c = GetParam();
  const std::string original = TestBytes(c.size, static_cast<uint32_t>(c.size));
  auto src = MemStream(testsupport::RawDeflate(original));
  auto z = Inflate(src.Get());
  EXPECT_EQ(ReadAll(z.Get(), c.piece), original);
  EXPECT_EQ(z->GetPosition(), static_cast<int64_t>(original.size()));
  // Past the end the stream keeps answering 0, without an error.
  uint8_t b[4];
  EXPECT_EQ(z->ReadBuf(b, 4), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, InflateRoundTrip,
    ::testing::Values(RoundTrip{"empty", 0, 100}, RoundTrip{"one", 1, 1}, RoundTrip{"bytewise", 5000, 1},
                      RoundTrip{"odd", 200000, 4093}, RoundTrip{"large", 300000, 1 << 20}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(InflateStream, ReportsDeclaredSize) {
  auto src = MemStream(testsupport::RawDeflate("abc"));
  EXPECT_EQ(Inflate(src.Get(), 3)->GetSize(), 3);
  EXPECT_EQ(Inflate(src.Get(), -1)->GetSize(), -1);
}

TEST(InflateStream, SeekingRules) {
  const std::string original = TestBytes(50000);
  auto src = MemStream(testsupport::RawDeflate(original));
  auto z = Inflate(src.Get());

  EXPECT_EQ(ReadN(z.Get(), 100), original.substr(0, 100));
  z->SetPosition(100);  // the current position: nothing happens
  EXPECT_EQ(ReadN(z.Get(), 10), original.substr(100, 10));

  z->SetPosition(0);  // restart
  EXPECT_EQ(z->GetPosition(), 0);
  EXPECT_EQ(ReadN(z.Get(), 20), original.substr(0, 20));

  z->SetPosition(30000);  // forward: inflated and discarded
  EXPECT_EQ(z->GetPosition(), 30000);
  EXPECT_EQ(ReadN(z.Get(), 50), original.substr(30000, 50));

  try {
    z->SetPosition(10);
    FAIL() << "moving backwards must raise";
  } catch (const EZDecompressionError& e) {
    EXPECT_STREQ(e.what(), "Invalid ZStream operation!");
  }
  EXPECT_THROW(z->SetPosition(60000), EStreamReadError);  // beyond the inflated data
}

TEST(InflateStream, WritingAndResizingAreRefused) {
  auto src = MemStream(testsupport::RawDeflate("abc"));
  auto z = Inflate(src.Get());
  uint8_t b[1] = {0};
  EXPECT_THROW(z->Write(b, 0, 1), EZDecompressionError);
  EXPECT_THROW(z->SetSize(5), EZDecompressionError);
}

TEST(InflateStream, LoadFromStreamCopiesTheWholeContentOfUnknownSize) {
  const std::string original = TestBytes(100000);
  auto src = MemStream(testsupport::RawDeflate(original));
  auto z = Inflate(src.Get(), -1);
  auto dest = MemStream("");
  dest->LoadFromStream(z.Get());
  EXPECT_EQ(Contents(dest.Get()), original);
}

TEST(InflateStream, StopsAtTheEndOfTheDeflateData) {
  const std::string original = TestBytes(70000);
  const std::string deflated = testsupport::RawDeflate(original);
  auto src = MemStream(deflated + "unrelated trailing bytes");
  auto z = Inflate(src.Get());
  EXPECT_EQ(ReadAll(z.Get(), 333), original);
}

TEST(InflateStream, StartsWhereTheSourceWasAndReseeksAMovedSource) {
  const std::string original = TestBytes(200000);
  const std::string prefix = "0123456789";
  auto src = MemStream(prefix + testsupport::RawDeflate(original));
  src->SetPosition(10);
  auto z = Inflate(src.Get());
  EXPECT_EQ(ReadN(z.Get(), 1000), original.substr(0, 1000));
  src->SetPosition(3);  // somebody else used the source in between
  EXPECT_EQ(ReadN(z.Get(), 150000), original.substr(1000, 150000));
  z->SetPosition(0);  // restarts at the source position of construction
  EXPECT_EQ(ReadAll(z.Get()), original);
}

TEST(InflateStream, CorruptDataRaisesZlibsText) {
  auto src = MemStream(kCorrupt);
  auto z = Inflate(src.Get());
  try {
    ReadAll(z.Get());
    FAIL() << "corrupt data must raise";
  } catch (const EZDecompressionError& e) {
    EXPECT_STREQ(e.what(), "data error");
  }
}

TEST(InflateStream, CutShortDataGivesAShortReadWithoutError) {
  const std::string original = TestBytes(100000);
  const std::string deflated = testsupport::RawDeflate(original);
  auto src = MemStream(deflated.substr(0, deflated.size() / 2));
  auto z = Inflate(src.Get());
  const std::string got = ReadAll(z.Get());
  EXPECT_LT(got.size(), original.size());
  EXPECT_EQ(got, original.substr(0, got.size()));
  EXPECT_TRUE(z->CutShort());
  // Complete data, even followed by other bytes, is not cut short.
  auto whole = MemStream(deflated + "tail");
  auto full = Inflate(whole.Get());
  EXPECT_EQ(ReadAll(full.Get()), original);
  EXPECT_FALSE(full->CutShort());
}

TEST(InflateStream, ReportsProgressPerInputChunk) {
  const std::string original = TestBytes(400000, 7);
  const std::string deflated = testsupport::RawDeflate(original, 0);  // stored blocks: input > 64 KB
  auto src = MemStream(deflated);
  auto z = Inflate(src.Get());
  int calls = 0;
  z->OnProgress = [&](foundation::TStream* s) {
    EXPECT_EQ(s, z.Get());
    ++calls;
  };
  ReadAll(z.Get());
  EXPECT_EQ(calls, static_cast<int>((deflated.size() + 65535) / 65536));
}

TEST(ZCheck, NegativeCodesRaiseZlibsOwnText) {
  const struct {
    int code;
    const char* text;
  } rows[] = {{Z_STREAM_ERROR, "stream error"},    {Z_DATA_ERROR, "data error"},
              {Z_MEM_ERROR, "insufficient memory"}, {Z_BUF_ERROR, "buffer error"},
              {Z_VERSION_ERROR, "incompatible version"}, {Z_ERRNO, "file error"}};
  for (const auto& r : rows) {
    try {
      container::ZCheck(r.code);
      ADD_FAILURE() << r.code << " did not raise";
    } catch (const EZDecompressionError& e) {
      EXPECT_STREQ(e.what(), r.text);
    }
  }
  EXPECT_EQ(container::ZCheck(Z_OK), Z_OK);
  EXPECT_EQ(container::ZCheck(Z_STREAM_END), Z_STREAM_END);
  // The fixed text, not the installed library's: the init calls accept it.
  EXPECT_STREQ(container::GetZlibVersion(), "1.2.11");
}

TEST(Inflator, CopiesTheWholeStream) {
  const std::string original = TestBytes(150000, 3);
  auto src = MemStream(testsupport::RawDeflate(original));
  auto dest = MemStream("");
  auto inflator = TRef<TInflator>::Adopt(new TInflator());
  int calls = 0;
  inflator->OnProgress = [&](foundation::TStream*) { ++calls; };
  inflator->Inflate(src.Get(), dest.Get());
  EXPECT_EQ(Contents(dest.Get()), original);
  EXPECT_GT(calls, 2);
}

TEST(Inflator, FailuresRaiseDecompressionErrors) {
  const std::string original = TestBytes(50000, 3);
  auto inflator = TRef<TInflator>::Adopt(new TInflator());
  {
    // A destination that refuses writes stops zlib.
    auto src = MemStream(testsupport::RawDeflate(original));
    auto dest = TRef<TProbeStream>::Adopt(new TProbeStream(""));
    dest->maxWrite = 0;
    EXPECT_THROW(inflator->Inflate(src.Get(), dest.Get()), EZDecompressionError);
  }
  {
    auto src = MemStream(kCorrupt);
    auto dest = MemStream("");
    try {
      inflator->Inflate(src.Get(), dest.Get());
      FAIL() << "corrupt data must raise";
    } catch (const EZDecompressionError& e) {
      EXPECT_STREQ(e.what(), "data error");
    }
  }
  {
    // The inflater stays usable after a failure.
    auto src = MemStream(testsupport::RawDeflate(original));
    auto dest = MemStream("");
    inflator->Inflate(src.Get(), dest.Get());
    EXPECT_EQ(Contents(dest.Get()), original);
  }
}

TEST(Inflator, StreamErrorsFromTheSourcePropagate) {
  class TFailing : public TProbeStream {
   public:
    TFailing() : TProbeStream("") {}
    int32_t Read(std::span<uint8_t>, int32_t, int32_t) override { throw foundation::EStreamReadError(); }
  };
  auto src = TRef<TFailing>::Adopt(new TFailing());
  auto dest = MemStream("");
  auto inflator = TRef<TInflator>::Adopt(new TInflator());
  EXPECT_THROW(inflator->Inflate(src.Get(), dest.Get()), foundation::EStreamReadError);
}

}  // namespace

namespace {

TEST(ZInflateWrappers, InflateZlibFormatData) {
  const std::string original = TestBytes(10000);
  uLongf packedSize = compressBound(static_cast<uLong>(original.size()));
  std::string packed(packedSize, '\0');
  ASSERT_EQ(compress(reinterpret_cast<Bytef*>(packed.data()), &packedSize,
                     reinterpret_cast<const Bytef*>(original.data()), static_cast<uLong>(original.size())),
            Z_OK);
  z_stream s{};
  ASSERT_EQ(container::ZInflateInit(s, container::GetZlibVersion(), static_cast<int>(sizeof(z_stream))), Z_OK);
  std::string out(original.size(), '\0');
  s.next_in = reinterpret_cast<Bytef*>(packed.data());
  s.avail_in = static_cast<uInt>(packedSize);
  s.next_out = reinterpret_cast<Bytef*>(out.data());
  s.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(container::ZInflate(s, Z_NO_FLUSH), Z_STREAM_END);
  EXPECT_EQ(container::ZInflateEnd(s), Z_OK);
  EXPECT_EQ(out, original);
  // A code the decoders turn into their own error texts.
  z_stream bad{};
  ASSERT_EQ(container::ZInflateInit(bad, container::GetZlibVersion(), static_cast<int>(sizeof(z_stream))), Z_OK);
  const std::string junk = "\x78\x9C\xFF\xFF\xFF";
  bad.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(junk.data()));
  bad.avail_in = static_cast<uInt>(junk.size());
  bad.next_out = reinterpret_cast<Bytef*>(out.data());
  bad.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(container::ZInflate(bad, Z_NO_FLUSH), Z_DATA_ERROR);
  container::ZInflateEnd(bad);
}

}  // namespace
