// The object factory is a chain: the object unit installs the factory of
// every kind when the hook is empty, the mask and video units put theirs in
// front, each falling back to the hook it found. Whatever order the three
// units start in, every kind is still made.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <string>

#include "showmodel/kvQelObjects.h"
#include "showmodel/kvQelText.h"
#include "showmodel/kvQelVideo.h"
#include "showmodel/kvQelViewPort.h"
#include "tests/showmodel/ObjectFixture.h"

namespace {

using namespace showmodel;

std::string Block(const std::string& name, const std::string& kind, const std::string& keys = "") {
  return "object " + name + ": " + kind + "\nGUID={" + name + "}\nSize=100,100\n" + keys +
         "object K: KeyPoint\nTime=0\nend\nend\n";
}

// Leaves the hook empty and the chaining units unstarted, as in a process
// that has not started the show model yet.
void ForgetTheChain() {
  DoneQelVideo();
  DoneViewPorts();
  CreateObjectHook = nullptr;
}

TEST(ObjectFactoryChain, EveryStartOrderMakesEveryKind) {
  using Init = void (*)();
  struct Unit {
    const char* Name;
    Init Start;
  };
  std::array<Unit, 3> units = {
      Unit{"objects", InitQelObjects}, Unit{"video", InitQelVideo}, Unit{"viewports", InitViewPorts}};
  const auto byName = [](const Unit& a, const Unit& b) { return std::string(a.Name) < std::string(b.Name); };
  std::sort(units.begin(), units.end(), byName);
  int orders = 0;
  do {
    std::string order;
    for (const Unit& u : units) order += std::string(u.Name) + " ";
    SCOPED_TRACE(order);
    ForgetTheChain();
    for (const Unit& u : units) u.Start();
    ++orders;

    objtest::SlideFixture f(Block("B", "Box") + Block("I", "Image") + Block("T", "Text", "Text=Hello\n") + Block("V", "Video") +
                   Block("P", "ViewPort"));
    f.Build();
    EXPECT_NE(f.Get<TQelBox>("B"), nullptr);
    EXPECT_NE(f.Get<TQelImage>("I"), nullptr);
    EXPECT_NE(f.Get<TQelText>("T"), nullptr);
    EXPECT_NE(f.Get<TQelVideo>("V"), nullptr);
    EXPECT_NE(f.Get<TQelViewPort>("P"), nullptr);
  } while (std::next_permutation(units.begin(), units.end(), byName));
  EXPECT_EQ(orders, 6);
  ForgetTheChain();
}

}  // namespace
