#include "container/kvPartialStream.h"

#include <gtest/gtest.h>

#include "container/ContainerKey.h"
#include "tests/container/ContainerTestUtil.h"
#include "tests/support/ContainerBuilder.h"

namespace {

using container::TCachedReadStream;
using container::TCryptStream;
using container::TPartialStream;
using foundation::EStreamError;
using foundation::EStreamWriteError;
using foundation::TRef;
using namespace containertest;

TRef<TPartialStream> Window(TStream* base, int64_t offset, int64_t size, bool owns = false) {
  return TRef<TPartialStream>::Adopt(new TPartialStream(base, offset, size, owns));
}

std::string MessageOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const foundation::Exception& e) {
    return e.what();
  }
  return "<no exception>";
}

// ---- window ---------------------------------------------------------------

TEST(PartialStream, WindowMustLieInsideTheBase) {
  auto base = MemStream(TestBytes(15));
  const struct {
    int64_t offset, size;
    bool opens;
  } rows[] = {{10, 5, true}, {0, 15, true}, {15, 0, true}, {11, 5, false}, {16, 0, false},
              {-1, 5, false}, {0, -1, false}, {INT64_MAX, INT64_MAX, false}, {5, INT64_MAX, false}};
  for (const auto& r : rows) {
    SCOPED_TRACE(::testing::Message() << r.offset << "," << r.size);
    if (r.opens) {
      auto w = Window(base.Get(), r.offset, r.size);
      EXPECT_EQ(w->GetSize(), r.size);
      EXPECT_EQ(w->GetPosition(), 0);
      EXPECT_EQ(base->GetPosition(), r.offset);
    } else {
      EXPECT_EQ(MessageOf([&] { Window(base.Get(), r.offset, r.size); }), "Insufficient Source Size");
    }
  }
}

TEST(PartialStream, ReadsOnlyItsWindowWithOneCallbackPerChunk) {
  const std::string bytes = TestBytes(2000);
  auto base = MemStream(bytes);
  auto w = Window(base.Get(), 10, 5);
  int calls = 0;
  w->SetReadCallback([&](TStream* s) {
    EXPECT_EQ(s, w.Get());
    ++calls;
  }, 1000);
  EXPECT_EQ(ReadN(w.Get(), 100), bytes.substr(10, 5));
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(ReadN(w.Get(), 100), "");  // at the end: nothing, and no chunk moved

  auto big = Window(base.Get(), 100, 1000);
  calls = 0;
  big->SetReadCallback([&](TStream*) { ++calls; }, 256);
  EXPECT_EQ(ReadN(big.Get(), 5000), bytes.substr(100, 1000));
  EXPECT_EQ(calls, 4);  // 256, 256, 256, 232
}

TEST(PartialStream, ChunkSizeIsClamped) {
  auto base = MemStream(TestBytes(10));
  auto w = Window(base.Get(), 0, 10);
  auto noop = [](TStream*) {};
  const struct {
    bool withMethod;
    int32_t asked, expected;
  } rows[] = {{true, 10, 256}, {true, 4096, 4096}, {true, 1 << 24, 1 << 20}, {false, 100, 32768}};
  for (const auto& r : rows) {
    w->SetReadCallback(r.withMethod ? container::TStreamCallback(noop) : nullptr, r.asked);
    EXPECT_EQ(w->ChunkSize(), r.expected);
    EXPECT_EQ(static_cast<bool>(w->ReadCallback()), r.withMethod);
  }
}

TEST(PartialStream, PositionRules) {
  const std::string bytes = TestBytes(100);
  auto base = MemStream(bytes);
  auto w = Window(base.Get(), 20, 5);
  w->SetPosition(5);  // at the end
  EXPECT_EQ(w->GetPosition(), 5);
  w->SetPosition(2);
  EXPECT_EQ(base->GetPosition(), 22);
  EXPECT_EQ(ReadN(w.Get(), 10), bytes.substr(22, 3));
  EXPECT_EQ(MessageOf([&] { w->SetPosition(6); }), "Incorrect Position");
  EXPECT_EQ(MessageOf([&] { w->SetPosition(-1); }), "Incorrect Position");
  EXPECT_EQ(MessageOf([&] { w->SetSize(3); }), "Stream Cannot be resized");
}

TEST(PartialStream, WritesStayInsideTheWindow) {
  auto base = TRef<TProbeStream>::Adopt(new TProbeStream(std::string(20, '.')));
  auto w = Window(base.Get(), 5, 5);
  const std::string payload = "ABCDEFGHIJ";
  EXPECT_EQ(w->WriteBuf(payload.data(), 10), 5);
  EXPECT_EQ(base->data_, ".....ABCDE..........");

  // CopyFrom is limited to the window as well, so a copy never spills into
  // the base beyond the window's end.
  w->SetPosition(2);
  auto src = MemStream("0123456789");
  EXPECT_EQ(w->CopyFrom(src.Get(), 10), 3);
  EXPECT_EQ(base->data_, ".....AB012..........");
}

TEST(PartialStream, CopyFromRaisesWhenTheBaseTakesLess) {
  auto base = TRef<TProbeStream>::Adopt(new TProbeStream(std::string(20, '.')));
  auto w = Window(base.Get(), 0, 20);
  base->maxWrite = 2;
  auto src = MemStream("0123456789");
  EXPECT_THROW(w->CopyFrom(src.Get(), 10), EStreamWriteError);
}

TEST(PartialStream, OwnedBaseIsReleasedWithTheWindowOnly) {
  bool disposed = false;
  auto* base = new TProbeStream(TestBytes(10), &disposed);
  // A refused window leaves the base to the caller.
  EXPECT_THROW(Window(base, 5, 10, true), EStreamError);
  EXPECT_FALSE(disposed);
  Window(base, 0, 10, true);  // released at once
  EXPECT_TRUE(disposed);
}

// ---- cipher ---------------------------------------------------------------

TEST(CryptStream, KeyDependsOnlyOnThePositionInTheBase) {
  auto base = MemStream(std::string(8, '\0'));
  auto c = TRef<TCryptStream>::Adopt(new TCryptStream(base.Get(), false, "XYZ"));
  EXPECT_EQ(ReadN(c.Get(), 4), "XYZX");
  c->SetPosition(2);
  EXPECT_EQ(ReadN(c.Get(), 4), "ZXYZ");
}

TEST(CryptStream, ContainerKeyReadsWholeOrInPiecesWithSeeksAlike) {
  const std::string plain = TestBytes(5000, 9);
  // The enciphered entry sits at an odd offset in the file; the key position
  // counts from the entry's first byte (the window's position).
  auto base = MemStream("prefix-" + testsupport::ContainerCipher(plain) + "-suffix");
  auto w = Window(base.Get(), 7, static_cast<int64_t>(plain.size()));
  auto c = TRef<TCryptStream>::Adopt(new TCryptStream(w.Get(), false, container::ContainerKey));
  EXPECT_EQ(ReadAll(c.Get()), plain);

  std::string pieces(plain.size(), '?');
  const int64_t order[][2] = {{4000, 1000}, {0, 7}, {7, 993}, {1000, 3000}};
  for (const auto& o : order) {
    c->SetPosition(o[0]);
    ASSERT_EQ(c->ReadBuf(pieces.data() + o[0], static_cast<int32_t>(o[1])), o[1]);
  }
  EXPECT_EQ(pieces, plain);
}

TEST(CryptStream, WriteEnciphersWithoutTouchingTheCallersBuffer) {
  auto base = MemStream("");
  auto c = TRef<TCryptStream>::Adopt(new TCryptStream(base.Get(), false, container::ContainerKey));
  const std::string plain = TestBytes(100);
  std::string buffer = plain;
  EXPECT_EQ(c->WriteBuf(buffer.data(), 100), 100);
  EXPECT_EQ(buffer, plain);
  EXPECT_EQ(Contents(base.Get()), testsupport::ContainerCipher(plain));
  c->SetPosition(0);
  EXPECT_EQ(ReadAll(c.Get()), plain);
}

// ---- cache ----------------------------------------------------------------

TEST(CachedReadStream, LoadsWholeBlocksOnceEach) {
  const std::string bytes = TestBytes(1000);
  auto base = TRef<TProbeStream>::Adopt(new TProbeStream(bytes));
  auto c = TRef<TCachedReadStream>::Adopt(new TCachedReadStream(base.Get(), false, 64));
  c->SetPosition(60);
  EXPECT_EQ(ReadN(c.Get(), 10), bytes.substr(60, 10));
  ASSERT_GE(c->BlockFill().size(), 2u);
  EXPECT_EQ(c->BlockFill()[0], 64);
  EXPECT_EQ(c->BlockFill()[1], 64);
  EXPECT_EQ(base->bytesRead, 128);

  // Reading everything, in odd pieces and out of order, never reads a byte
  // of the base twice and gives the base's bytes.
  std::string all(bytes.size(), '?');
  const int64_t order[][2] = {{500, 77}, {0, 500}, {577, 423}};
  for (const auto& o : order) {
    c->SetPosition(o[0]);
    ASSERT_EQ(c->ReadBuf(all.data() + o[0], static_cast<int32_t>(o[1])), o[1]);
  }
  EXPECT_EQ(all, bytes);
  for (int n : base->readCount) EXPECT_EQ(n, 1);
}

TEST(CachedReadStream, StopsAtTheBaseEnd) {
  const std::string bytes = TestBytes(100);
  auto base = TRef<TProbeStream>::Adopt(new TProbeStream(bytes));
  auto c = TRef<TCachedReadStream>::Adopt(new TCachedReadStream(base.Get(), false, 1));
  EXPECT_EQ(c->BlockSize(), 64);
  EXPECT_EQ(c->GetSize(), 100);
  c->SetPosition(95);
  EXPECT_EQ(ReadN(c.Get(), 20), bytes.substr(95));
  EXPECT_EQ(ReadN(c.Get(), 20), "");
  c->SetPosition(500);
  EXPECT_EQ(c->GetPosition(), 100);
}

TEST(CachedReadStream, BaseGivingShortReadsStillFillsTheCache) {
  const std::string bytes = TestBytes(300);
  auto base = TRef<TProbeStream>::Adopt(new TProbeStream(bytes));
  base->maxRead = 7;
  auto c = TRef<TCachedReadStream>::Adopt(new TCachedReadStream(base.Get(), false, 128));
  EXPECT_EQ(ReadAll(c.Get(), 50), bytes);
}

TEST(CachedReadStream, OwnedBaseIsReleased) {
  bool disposed = false;
  auto* base = new TProbeStream(TestBytes(10), &disposed);
  TRef<TCachedReadStream>::Adopt(new TCachedReadStream(base, true, 64));
  EXPECT_TRUE(disposed);
}

}  // namespace
