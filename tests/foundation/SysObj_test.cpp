#include "foundation/SysObj.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <random>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "foundation/kpExceptions.h"
#include "tests/support/AssertionText.h"

using namespace foundation;
namespace fs = std::filesystem;

namespace {

struct Probe : TRefObject {
  QEL_CLASSNAME(Probe)
  int* disposed;
  int* before = nullptr;
  explicit Probe(int* d) : disposed(d) {}
  void Dispose() override {
    ++*disposed;
    TRefObject::Dispose();
  }
  void BeforeDestruction() override {
    if (before) ++*before;
  }
};

struct TNoInheritedDispose : TRefObject {
  void Dispose() override {}  // forgets the base call
};

struct TThrowingDispose : TRefObject {
  void Dispose() override {
    TRefObject::Dispose();
    throw TCommonException(u"boom");
  }
};

TEST(SysObj, NilReferencesDoNothing) {
  EXPECT_EQ(AddRefObj(nullptr), 0);
  EXPECT_EQ(ReleaseObj(nullptr), 0);
  FreeObj(nullptr);
  Probe* p = nullptr;
  FreeAndNil(p);
  EXPECT_EQ(p, nullptr);
}

TEST(SysObj, FreedThreeTimesDisposesOnceOnTheLast) {
  int disposed = 0;
  const int live = LiveObjectCount();
  auto* p = new Probe(&disposed);
  EXPECT_EQ(LiveObjectCount(), live + 1);
  EXPECT_EQ(p->RefCount(), 1);
  EXPECT_EQ(p->Flags() & (ofCreated | ofConstructed), ofCreated | ofConstructed);
  EXPECT_EQ(p->_AddRef(), 2);
  EXPECT_EQ(p->_AddRef(), 3);
  p->Free();
  p->Free();
  EXPECT_EQ(disposed, 0);
  EXPECT_EQ(p->RefCount(), 1);
  p->Free();
  EXPECT_EQ(disposed, 1);
  EXPECT_EQ(LiveObjectCount(), live);
}

TEST(SysObj, ReleaseReturnsRemainingCountAndDisposesAtZero) {
  int disposed = 0;
  auto* p = new Probe(&disposed);
  p->_AddRef();
  EXPECT_EQ(p->_Release(), 1);
  EXPECT_EQ(disposed, 0);
  EXPECT_EQ(p->_Release(), 0);
  EXPECT_EQ(disposed, 1);
}

TEST(SysObj, BeforeDestructionRunsOnEveryFree) {
  int disposed = 0, before = 0;
  auto* p = new Probe(&disposed);
  p->before = &before;
  p->_AddRef();
  p->Free();
  EXPECT_EQ(before, 1);
  p->Free();
  EXPECT_EQ(before, 2);
  EXPECT_EQ(disposed, 1);
}

TEST(SysObj, MissingInheritedDisposeIsReportedAndTheObjectStillGoes) {
  const int live = LiveObjectCount();
  auto* p = new TNoInheritedDispose;
  EXPECT_EQ(testsupport::AssertionMessageOf([&] { p->Free(); }),
            u"Error: inherited TNoInheritedDispose.Dispose not called!");
  EXPECT_EQ(LiveObjectCount(), live);
}

TEST(SysObj, ExceptionInDisposeBecomesAnAssertion) {
  const int live = LiveObjectCount();
  auto* p = new TThrowingDispose;
  std::string file;
  try {
    p->Free();
    FAIL() << "no assertion";
  } catch (const EAssertionFailed& e) {
    EXPECT_EQ(e.Message(), u"Unhandled Exception at \"TThrowingDispose\" Disposing");
    file = e.File();
  }
  EXPECT_NE(file.find("SysObj"), std::string::npos);
  EXPECT_EQ(LiveObjectCount(), live);
}

struct Resource : TRefObject {
  int* disposed;
  explicit Resource(int* d) : disposed(d) {}
  void Dispose() override {
    ++*disposed;
    TRefObject::Dispose();
  }
};

// A constructor that raises after acquiring a resource cleans up itself.
struct TFailingCtor : TRefObject {
  Resource* held = nullptr;
  TFailingCtor(int* d) {
    try {
      held = new Resource(d);
      throw TCommonException(u"constructor failed");
    } catch (...) {
      Dispose();
      throw;
    }
  }
  void Dispose() override {
    FreeAndNil(held);
    TRefObject::Dispose();
  }
};

TEST(SysObj, ConstructorFailureLeavesNothingLive) {
  int disposed = 0;
  const int live = LiveObjectCount();
  EXPECT_THROW(new TFailingCtor(&disposed), TCommonException);
  EXPECT_EQ(disposed, 1);
  EXPECT_EQ(LiveObjectCount(), live);
}

struct Polymorphic {
  virtual ~Polymorphic() = default;
  int x = 0;
};
struct TBaseNotFirst : Polymorphic, TRefObject {};

TEST(SysObj, TRefObjectMustBeTheFirstBase) {
  const int live = LiveObjectCount();
  EXPECT_THROW(new TBaseNotFirst, EAssertionFailed);
  EXPECT_EQ(LiveObjectCount(), live);
}

TEST(SysObj, ClassNameFromMacroOrTypeName) {
  int d = 0;
  auto* p = new Probe(&d);
  auto* q = new TNoInheritedDispose;
  EXPECT_STREQ(p->ClassName(), "Probe");
  EXPECT_STREQ(q->ClassName(), "TNoInheritedDispose");
  EXPECT_EQ(p->InstanceSize(), sizeof(Probe));
  p->Free();
  EXPECT_THROW(q->Free(), EAssertionFailed);
}

TEST(SysObj, UnknownInterfaceSharesTheObjectCount) {
  int disposed = 0;
  auto* p = new Probe(&disposed);
  void* intf = nullptr;
  EXPECT_EQ(p->QueryInterface(IID_IUnknown, &intf), S_OK);
  ASSERT_EQ(intf, static_cast<IUnknown*>(p));
  EXPECT_EQ(p->RefCount(), 2);
  EXPECT_EQ(TRefObject::FromUnknown(static_cast<IUnknown*>(intf)), p);
  TGUID other{1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
  void* none = p;
  EXPECT_EQ(p->QueryInterface(other, &none), E_NOINTERFACE);
  EXPECT_EQ(none, nullptr);
  IUnknown* u = static_cast<IUnknown*>(intf);
  EXPECT_EQ(u->AddRef(), 3u);
  EXPECT_EQ(u->Release(), 2u);
  EXPECT_EQ(u->Release(), 1u);
  EXPECT_EQ(disposed, 0);
  EXPECT_EQ(u->Release(), 0u);
  EXPECT_EQ(disposed, 1);
}

TEST(SysObj, TRefHoldsOneReference) {
  int disposed = 0;
  {
    TRef<Probe> a = MakeRef<Probe>(&disposed);
    EXPECT_EQ(a->RefCount(), 1);
    TRef<Probe> b = a;
    EXPECT_EQ(a->RefCount(), 2);
    TRef<Probe> c = TRef<Probe>::AddRef(a.Get());
    EXPECT_EQ(a->RefCount(), 3);
    b.Reset();
    c = nullptr;
    EXPECT_EQ(a->RefCount(), 1);
    TRef<TRefObject> base = std::move(a);
    EXPECT_FALSE(a);
    EXPECT_EQ(disposed, 0);
  }
  EXPECT_EQ(disposed, 1);
}

// ---- Leak report ----------------------------------------------------------

struct TLeakList : TRefObject {
  char payload[40];
};
struct TLeakStream : TRefObject {
  char payload[24];
};

template <int N>
struct TLeakN : TRefObject {};

// Runs the test body in a fresh folder and restores the working folder.
class LeakReport : public ::testing::Test {
 protected:
  void SetUp() override {
    old_ = fs::current_path();
    dir_ = fs::temp_directory_path() / ("qel_leaks_" + std::to_string(std::random_device()()) + "_" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    fs::current_path(dir_);
    baseline_ = BuildLeakReport();
    opened_.clear();
    openerResult_ = true;
  }
  void TearDown() override {
    for (TRefObject* o : objects_) o->Free();
    SetLeakReportOpener(nullptr);
    fs::current_path(old_);
    fs::remove_all(dir_);
  }
  template <class T>
  void Keep() {
    objects_.push_back(new T);
  }
  static bool Record(const char16_t* verb, const char16_t* program, const char16_t* parameter) {
    opened_.push_back(std::u16string(verb) + u"|" + program + u"|" + parameter);
    return openerResult_;
  }
  static std::string ReadFile(const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
  }
  fs::path old_, dir_;
  std::string baseline_;
  std::vector<TRefObject*> objects_;
  static inline std::vector<std::u16string> opened_;
  static inline bool openerResult_ = true;
};

TEST_F(LeakReport, NewestClassFirstWithCountsAndSizes) {
  ASSERT_EQ(baseline_, "");  // nothing else lives in this test program
  Keep<TLeakList>();
  Keep<TLeakList>();
  Keep<TLeakStream>();
  const std::string expected = "TLeakStream: 1 (" + std::to_string(sizeof(TLeakStream)) + " bytes)\r\n" +
                               "TLeakList: 2 (" + std::to_string(2 * sizeof(TLeakList)) + " bytes)\r\n";
  EXPECT_EQ(BuildLeakReport(), expected);

  SetLeakReportOpener(&Record);
  EXPECT_TRUE(ReportLeaks());
  EXPECT_EQ(ReadFile("memleaks.txt"), "Memory Leaks\r\n\r\n" + expected);
  ASSERT_EQ(opened_.size(), 1u);
  EXPECT_EQ(opened_[0], u"open|notepad.exe|memleaks.txt");

  openerResult_ = false;
  EXPECT_FALSE(ReportLeaks());
}

template <int... N>
void KeepMany(std::vector<TRefObject*>& out, std::integer_sequence<int, N...>) {
  (out.push_back(new TLeakN<N>), ...);
}

TEST_F(LeakReport, MoreThan128ClassesEndWithEllipsis) {
  KeepMany(objects_, std::make_integer_sequence<int, 130>());
  std::string text = BuildLeakReport();
  ASSERT_GE(text.size(), 3u);
  EXPECT_EQ(text.substr(text.size() - 3), "...");
  // The first 128 classes are counted, newest of them first.
  EXPECT_EQ(text.rfind("TLeakN<127>: 1", 0), 0u);
  EXPECT_NE(text.find("TLeakN<0>: 1"), std::string::npos);
  EXPECT_EQ(text.find("TLeakN<128>"), std::string::npos);
  size_t lines = 0;
  for (char c : text) lines += c == '\n';
  EXPECT_EQ(lines, 128u);
}

TEST_F(LeakReport, NothingWrittenWithoutLeaksOrWhenSwitchedOff) {
  SetLeakReportOpener(&Record);
  EXPECT_FALSE(ReportLeaks());
  EXPECT_FALSE(fs::exists("memleaks.txt"));
  Keep<TLeakList>();
  LeakReportDisabled = true;
  EXPECT_FALSE(ReportLeaks());
  LeakReportDisabled = false;
  EXPECT_FALSE(fs::exists("memleaks.txt"));
  EXPECT_TRUE(opened_.empty());
}

TEST_F(LeakReport, FileErrorReturnsFalseWithoutOpening) {
  fs::create_directory("memleaks.txt");  // cannot be created as a file
  SetLeakReportOpener(&Record);
  EXPECT_FALSE(WriteLeakReport("X: 1 (8 bytes)\r\n"));
  EXPECT_TRUE(opened_.empty());
}

TEST_F(LeakReport, DefaultOpenerOpensNothing) {
  EXPECT_FALSE(WriteLeakReport("X: 1 (8 bytes)\r\n"));
  EXPECT_EQ(ReadFile("memleaks.txt"), "Memory Leaks\r\n\r\nX: 1 (8 bytes)\r\n");
}

}  // namespace

namespace {

struct TRawBlock : TRefObject {
  uint8_t bytes[120];  // left as allocated: zero-filled
  TRawBlock() {}
};

struct TBigBlock : TRefObject {
  uint8_t bytes[4000];
  TBigBlock() {}
};

bool AllZero(const uint8_t* p, size_t n) {
  for (size_t i = 0; i < n; ++i)
    if (p[i]) return false;
  return true;
}

TEST(SysObj, ObjectsComeZeroFilledAndLiveWhateverTheirSize) {
  const int live = LiveObjectCount();
  // Enough small objects to fill several blocks of equal-sized memory, freed
  // in an order unlike their allocation, their memory dirtied first.
  std::vector<TRawBlock*> small;
  for (int i = 0; i < 3000; ++i) small.push_back(new TRawBlock());
  auto* big = new TBigBlock();
  EXPECT_EQ(LiveObjectCount(), live + 3001);
  EXPECT_EQ(small[0]->InstanceSize(), sizeof(TRawBlock));
  EXPECT_EQ(big->InstanceSize(), sizeof(TBigBlock));
  std::mt19937 gen(7);
  std::shuffle(small.begin(), small.end(), gen);
  for (size_t i = 0; i < small.size(); ++i) {
    std::memset(small[i]->bytes, 0xAB, sizeof small[i]->bytes);
    if (i % 2 == 0) small[i]->Free();
  }
  std::memset(big->bytes, 0xCD, sizeof big->bytes);
  big->Free();
  EXPECT_EQ(LiveObjectCount(), live + 1500);
  // New objects reuse the freed memory and still start zero-filled.
  std::vector<TRawBlock*> again;
  for (int i = 0; i < 2000; ++i) {
    again.push_back(new TRawBlock());
    EXPECT_TRUE(AllZero(again.back()->bytes, sizeof again.back()->bytes)) << i;
  }
  auto* big2 = new TBigBlock();
  EXPECT_TRUE(AllZero(big2->bytes, sizeof big2->bytes));
  big2->Free();
  for (size_t i = 1; i < small.size(); i += 2) small[i]->Free();
  for (TRawBlock* b : again) b->Free();
  EXPECT_EQ(LiveObjectCount(), live);
}

}  // namespace
