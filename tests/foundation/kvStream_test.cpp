#include "foundation/kvStream.h"

#include <gtest/gtest.h>

#include <cstring>
#include <numeric>
#include <string>
#include <vector>

using namespace foundation;

namespace {

// A stream over a byte vector whose announced size, accepted write count and
// delivered read count can be bent to show how callers react.
class TFakeStream : public TStream {
 public:
  std::vector<uint8_t> bytes;
  int64_t position = 0;
  int64_t announcedSize = -2;   // -2: the real size; -1: unknown
  int32_t maxWrite = INT32_MAX;  // bytes accepted per Write
  int32_t readCalls = 0;

  int64_t GetPosition() override { return position; }
  void SetPosition(int64_t p) override { position = p; }
  int64_t GetSize() override { return announcedSize == -2 ? static_cast<int64_t>(bytes.size()) : announcedSize; }
  void SetSize(int64_t n) override { bytes.resize(static_cast<size_t>(std::max<int64_t>(n, 0))); }
  int32_t Read(std::span<uint8_t> buffer, int32_t offset, int32_t count) override {
    ++readCalls;
    const int64_t avail = static_cast<int64_t>(bytes.size()) - position;
    const int32_t n = static_cast<int32_t>(std::max<int64_t>(0, std::min<int64_t>(count, avail)));
    if (n > 0) std::memcpy(buffer.data() + offset, bytes.data() + position, static_cast<size_t>(n));
    position += n;
    return n;
  }
  int32_t Write(std::span<const uint8_t> buffer, int32_t offset, int32_t count) override {
    const int32_t n = std::min(count, maxWrite);
    if (n <= 0) return 0;
    if (static_cast<int64_t>(bytes.size()) < position + n) bytes.resize(static_cast<size_t>(position + n));
    std::memcpy(bytes.data() + position, buffer.data() + offset, static_cast<size_t>(n));
    position += n;
    return n;
  }
};

std::vector<uint8_t> Iota(size_t n) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(i * 7 + 1);
  return v;
}

template <class S>
std::vector<uint8_t> Content(S& s) {
  std::vector<uint8_t> out(static_cast<size_t>(s.GetSize()));
  const int64_t p = s.GetPosition();
  s.SetPosition(0);
  if (!out.empty()) {
    EXPECT_EQ(s.ReadBuf(out.data(), static_cast<int32_t>(out.size())), s.GetSize());
  }
  s.SetPosition(p);
  return out;
}

template <class S>
int64_t CapacityOf(S& s) {
  if constexpr (std::is_same_v<S, TMemoryStream>) {
    return s.Capacity();
  } else {
    return static_cast<int64_t>(s.Buffer().size());
  }
}

}  // namespace

TEST(StreamErrors, DefaultMessageNamesTheClass) {
  EXPECT_STREQ(EStreamWriteError().what(), "Orvane Exception: \"EStreamWriteError\"");
  EXPECT_STREQ(EStreamReadError().what(), "Orvane Exception: \"EStreamReadError\"");
  try {
    throw EStreamSeekError();
  } catch (const EStreamError& e) {
    EXPECT_STREQ(e.what(), "Orvane Exception: \"EStreamSeekError\"");
  }
}

TEST(StreamTypedIO, ReadersDecodeBothByteOrders) {
  TRef<TMemoryStream> s = MakeRef<TMemoryStream>();
  const uint8_t bytes[] = {0x01, 0x02, 0x03, 0x04, 0xFF, 0xFE, 0xFF, 0xFE, 0x00, 0x00, 0xC0, 0x3F};
  s->WriteBuf(bytes, sizeof bytes);
  s->SetPosition(0);
  EXPECT_EQ(s->ReadDWordBE(), 0x01020304u);
  EXPECT_EQ(s->ReadWordBE(), 0xFFFEu);
  EXPECT_EQ(s->ReadSmallIntBE(), -2);
  EXPECT_EQ(s->ReadSingle(), 1.5f);
  s->SetPosition(0);
  EXPECT_EQ(s->ReadDWord(), 0x04030201u);
  EXPECT_EQ(s->ReadWord(), 0xFEFFu);
  EXPECT_EQ(s->ReadByte(), 0xFF);
  s->SetPosition(0);
  EXPECT_EQ(s->ReadInt64(), static_cast<int64_t>(0xFEFFFEFF04030201ull));
  s->SetPosition(8);
  EXPECT_EQ(s->ReadInteger(), 0x3FC00000);
}

TEST(StreamTypedIO, ShortReadRaisesAndLeavesPositionAfterPartialTransfer) {
  TRef<TMemoryStream> s = MakeRef<TMemoryStream>();
  const auto bytes = Iota(7);
  s->WriteBuf(bytes.data(), 7);
  s->SetPosition(0);
  EXPECT_THROW(s->ReadInt64(), EStreamReadError);
  EXPECT_EQ(s->GetPosition(), 7);
  EXPECT_THROW(s->ReadByte(), EStreamReadError);
}

TEST(StreamTypedIO, WritersAreLittleEndianAndRaiseOnShortWrite) {
  TRef<TMemoryStream> s = MakeRef<TMemoryStream>();
  s->WriteByte(0xAB);
  s->WriteWord(0x1234);
  s->WriteDWord(0xA1B2C3D4u);
  s->WriteInteger(-2);
  s->WriteSingle(1.5f);
  const std::vector<uint8_t> want = {0xAB, 0x34, 0x12, 0xD4, 0xC3, 0xB2, 0xA1, 0xFE,
                                     0xFF, 0xFF, 0xFF, 0x00, 0x00, 0xC0, 0x3F};
  EXPECT_EQ(Content(*s), want);

  TRef<TFakeStream> f = MakeRef<TFakeStream>();
  f->maxWrite = 3;
  EXPECT_THROW(f->WriteDWord(1), EStreamWriteError);
  EXPECT_THROW(f->WriteSingle(1.0f), EStreamWriteError);
  EXPECT_NO_THROW(f->WriteWord(1));
}

TEST(StreamStrings, RangesAreClampedAndChunked) {
  struct Row {
    int32_t start, count;
    std::string want;
  } rows[] = {{1, INT32_MAX, "abcdef"}, {-3, 2, "ab"}, {3, 2, "cd"}, {5, 100, "ef"}, {7, 1, ""}, {2, 0, ""}};
  for (const auto& r : rows) {
    TRef<TMemoryStream> s = MakeRef<TMemoryStream>();
    s->WriteAnsiRange("abcdef", r.start, r.count);
    const auto c = Content(*s);
    EXPECT_EQ(std::string(c.begin(), c.end()), r.want) << r.start << "," << r.count;
  }
  TRef<TMemoryStream> u = MakeRef<TMemoryStream>();
  u->WriteUnicodeRange(u"xy\u00E9z", 2, 2);
  EXPECT_EQ(Content(*u), (std::vector<uint8_t>{'y', 0, 0xE9, 0}));

  // A long text goes out in 2,048-byte chunks; a chunk not taken whole raises.
  TRef<TFakeStream> f = MakeRef<TFakeStream>();
  f->maxWrite = 2048;
  const std::string big(5000, 'q');
  EXPECT_NO_THROW(f->WriteAnsiString(big));
  EXPECT_EQ(f->bytes.size(), 5000u);
  f->maxWrite = 2047;
  EXPECT_THROW(f->WriteAnsiString(big), EStreamWriteError);
  EXPECT_THROW(f->WriteUnicodeString(std::u16string(1500, u'q')), EStreamWriteError);
}

TEST(StreamStrings, ReadersFillInPlaceAndStopShort) {
  TRef<TMemoryStream> s = MakeRef<TMemoryStream>();
  s->WriteAnsiString("hello");
  s->SetPosition(0);
  std::string empty;
  EXPECT_EQ(s->ReadAnsiString(empty, 1, 10), 0);
  EXPECT_EQ(s->GetPosition(), 0);

  std::string buf = "........";
  EXPECT_EQ(s->ReadAnsiString(buf, 3, 100), 5);  // count cut to 6, source holds 5
  EXPECT_EQ(buf, "..hello.");

  // UTF-16: an odd trailing byte is not a code unit.
  TRef<TMemoryStream> u = MakeRef<TMemoryStream>();
  const uint8_t b[] = {'A', 0, 0x3A, 0x04, 'Z'};
  u->WriteBuf(b, sizeof b);
  u->SetPosition(0);
  std::u16string w(4, u'-');
  EXPECT_EQ(u->ReadUnicodeString(w, 1, 4), 2);
  EXPECT_EQ(w, u"A\u043A--");
}

// ---------------------------------------------------------------------------
// Both in-memory streams follow the same rules.

template <class S>
class MemoryStoreTest : public ::testing::Test {};
using StoreTypes = ::testing::Types<TMemoryStream, TStringStream>;
TYPED_TEST_SUITE(MemoryStoreTest, StoreTypes);

TYPED_TEST(MemoryStoreTest, PositionIsClampedToContent) {
  TRef<TypeParam> s = MakeRef<TypeParam>();
  const auto bytes = Iota(20);
  s->WriteBuf(bytes.data(), 20);
  for (auto [set, want] : std::vector<std::pair<int64_t, int64_t>>{{-5, 0}, {7, 7}, {20, 20}, {30, 20}}) {
    s->SetPosition(set);
    EXPECT_EQ(s->GetPosition(), want) << set;
  }
}

TYPED_TEST(MemoryStoreTest, WriteOverwritesInsideAndGrowsPastTheEnd) {
  TRef<TypeParam> s = MakeRef<TypeParam>();
  s->WriteAnsiString("abcdef");
  s->SetPosition(2);
  s->WriteAnsiString("XY");
  EXPECT_EQ(s->GetSize(), 6);
  EXPECT_EQ(s->GetPosition(), 4);
  s->WriteAnsiString("1234");
  EXPECT_EQ(s->GetSize(), 8);
  const auto c = Content(*s);
  EXPECT_EQ(std::string(c.begin(), c.end()), "abXY1234");
}

TYPED_TEST(MemoryStoreTest, CapacityGrowsInSteps) {
  TRef<TypeParam> s = MakeRef<TypeParam>();
  std::vector<int64_t> seen;
  for (int i = 0; i < 400; ++i) {
    s->WriteByte(static_cast<uint8_t>(i));
    if (seen.empty() || seen.back() != CapacityOf(*s)) seen.push_back(CapacityOf(*s));
  }
  EXPECT_EQ(seen, (std::vector<int64_t>{16, 32, 48, 112, 176, 240, 304, 608}));
  // SetSize reserves exactly and never shortens the store.
  TRef<TypeParam> t = MakeRef<TypeParam>();
  t->SetSize(1000);
  EXPECT_EQ(CapacityOf(*t), 1000);
  t->SetSize(10);
  EXPECT_EQ(CapacityOf(*t), 1000);
  EXPECT_EQ(t->GetSize(), 10);
  t->SetSize(0);
  EXPECT_EQ(CapacityOf(*t), 0);
}

TYPED_TEST(MemoryStoreTest, ReserveRefusesTheLimitAndWriteThenTransfersNothing) {
  TRef<TypeParam> s = MakeRef<TypeParam>();
  s->WriteAnsiString("abc");
  EXPECT_FALSE(s->Reserve(0x1FFFFFFF));
  EXPECT_EQ(s->GetSize(), 3);
  EXPECT_TRUE(s->Reserve(100));
  EXPECT_EQ(s->GetSize(), 100);

  // A write whose end would pass the limit: the span claims more bytes than
  // the small array holds, but a refused write never touches them.
  TRef<TypeParam> t = MakeRef<TypeParam>();
  t->WriteAnsiString("abc");
  uint8_t tiny[4] = {};
  std::span<const uint8_t> claimed(tiny, 0x1FFFFFFD);
  EXPECT_EQ(t->Write(claimed, 0, 0x1FFFFFFD), 0);
  EXPECT_EQ(t->GetSize(), 3);
  EXPECT_EQ(t->GetPosition(), 3);
}

TYPED_TEST(MemoryStoreTest, WriteNeverTrustsOffsetOrCount) {
  TRef<TypeParam> s = MakeRef<TypeParam>();
  const uint8_t src[4] = {1, 2, 3, 4};
  struct Row {
    int32_t offset, count, wantResult;
  } rows[] = {{0, 4, 4}, {-2, 2, 2}, {4, 1, 0}, {1, -5, 0}, {0, 0, 0}, {2, 100, 2}};
  for (const auto& r : rows) {
    s->Clear();
    EXPECT_EQ(s->Write(std::span<const uint8_t>(src), r.offset, r.count), r.wantResult)
        << r.offset << "," << r.count;
    EXPECT_EQ(s->GetSize(), r.wantResult);
  }
  uint8_t dst[4] = {};
  s->Clear();
  s->WriteBuf(src, 4);
  s->SetPosition(0);
  EXPECT_EQ(s->Read(std::span<uint8_t>(dst), 4, 2), 0);
  EXPECT_EQ(s->Read(std::span<uint8_t>(dst), -1, 2), 2);
  EXPECT_EQ(s->Read(std::span<uint8_t>(dst), 3, 10), 1);
  EXPECT_EQ(s->Read(std::span<uint8_t>(dst), 0, -3), 0);
  EXPECT_EQ(dst[0], 1);
  EXPECT_EQ(dst[3], 3);
}

TYPED_TEST(MemoryStoreTest, CopyFromIsBoundedByTheSourceAndTheStore) {
  struct Row {
    const char* what;
    size_t sourceBytes;
    int64_t sourcePos, announced, count;
    int64_t wantResult;
    bool wantWriteError, wantReadError;
  } rows[] = {
      {"whole source", 100, 0, -2, 1000, 100, false, false},
      {"count limits", 100, 10, -2, 30, 30, false, false},
      {"rest of source", 100, 60, -2, 1000, 40, false, false},
      {"position past end", 100, 150, -2, 1000, 0, false, false},
      {"negative count", 100, 0, -2, -4, 0, false, false},
      {"unknown size copies until dry", 70000, 0, -1, INT64_MAX, 70000, false, false},
      {"announced beyond the store limit", 10, 0, 0x20000000, INT64_MAX, 0, true, false},
      {"source shorter than announced", 10, 0, 20, 20, 0, false, true},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.what);
    TRef<TFakeStream> src = MakeRef<TFakeStream>();
    src->bytes = Iota(r.sourceBytes);
    src->position = r.sourcePos;
    src->announcedSize = r.announced;
    TRef<TypeParam> s = MakeRef<TypeParam>();
    s->WriteAnsiString("ab");
    if (r.wantWriteError) {
      EXPECT_THROW(s->CopyFrom(src.Get(), r.count), EStreamWriteError);
      EXPECT_EQ(src->readCalls, 0);
      EXPECT_EQ(s->GetSize(), 2);
      continue;
    }
    if (r.wantReadError) {
      EXPECT_THROW(s->CopyFrom(src.Get(), r.count), EStreamReadError);
      continue;
    }
    EXPECT_EQ(s->CopyFrom(src.Get(), r.count), r.wantResult);
    EXPECT_EQ(s->GetSize(), 2 + r.wantResult);
    EXPECT_EQ(s->GetPosition(), 2 + r.wantResult);
    if (r.wantResult > 0) {
      const auto c = Content(*s);
      EXPECT_TRUE(std::equal(c.begin() + 2, c.end(), src->bytes.begin() + r.sourcePos));
    }
  }
}

TYPED_TEST(MemoryStoreTest, LoadFromStreamRestoresBothPositions) {
  TRef<TFakeStream> src = MakeRef<TFakeStream>();
  src->bytes = Iota(300);
  src->position = 100;
  TRef<TypeParam> s = MakeRef<TypeParam>();
  s->WriteAnsiString("old content");
  s->LoadFromStream(src.Get());
  EXPECT_EQ(src->position, 100);
  EXPECT_EQ(s->GetPosition(), 0);
  EXPECT_EQ(Content(*s), src->bytes);

  // A source that announces more than it holds fails, positions restored.
  src->announcedSize = 400;
  EXPECT_THROW(s->LoadFromStream(src.Get()), EStreamError);
  EXPECT_EQ(src->position, 100);
  EXPECT_EQ(s->GetPosition(), 0);

  // An unknown size copies until the source runs dry.
  src->announcedSize = -1;
  s->LoadFromStream(src.Get());
  EXPECT_EQ(Content(*s), src->bytes);
}

TEST(StreamCopy, BaseCopyStopsWhenDryAndRaisesOnShortWrite) {
  TRef<TFakeStream> src = MakeRef<TFakeStream>();
  src->bytes = Iota(40000);
  TRef<TFakeStream> dst = MakeRef<TFakeStream>();
  EXPECT_EQ(dst->TStream::CopyFrom(src.Get(), 100000), 40000);
  EXPECT_EQ(dst->bytes, src->bytes);

  src->position = 0;
  TRef<TFakeStream> shortDst = MakeRef<TFakeStream>();
  shortDst->maxWrite = 1000;
  EXPECT_THROW(shortDst->TStream::CopyFrom(src.Get(), 100000), EStreamWriteError);
}

TEST(StringStream, ReadsAGivenStringAndWritesIntoIt) {
  TRef<TStringStream> s = MakeRef<TStringStream>(std::string("key=value"));
  EXPECT_EQ(s->GetSize(), 9);
  EXPECT_EQ(s->GetPosition(), 0);
  std::string word(3, ' ');
  EXPECT_EQ(s->ReadAnsiString(word, 1, 3), 3);
  EXPECT_EQ(word, "key");
  s->SetPosition(9);
  s->WriteAnsiString("!");
  EXPECT_EQ(s->DataString(), "key=value!");
}

TEST(FileHooks, DefaultsFailAnAssertionAndReadFileBytesUsesTheHook) {
  ASSERT_NE(ReadFile, nullptr);
  const TReadFileFunc saved = ReadFile;
  EXPECT_THROW(ReadFile(u"x"), EAssertionFailed);
  EXPECT_THROW(WriteFile(u"x", true), EAssertionFailed);

  static int opened = 0;
  ReadFile = [](const std::u16string& name) -> TStream* {
    ++opened;
    if (name == u"missing") return nullptr;
    auto* m = new TMemoryStream();
    m->WriteAnsiString("payload");
    m->SetPosition(0);
    return m;
  };
  std::vector<uint8_t> bytes;
  const int live = LiveObjectCount();
  EXPECT_TRUE(ReadFileBytes(u"file", bytes));
  EXPECT_EQ(LiveObjectCount(), live);  // the stream is released
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "payload");
  EXPECT_FALSE(ReadFileBytes(u"missing", bytes));
  EXPECT_EQ(opened, 2);
  ReadFile = saved;
}
