// A show source over project text (LF lines), with a scripted random source
// for the transition choice.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <string>

#include "container/kvQelFileAccessor2.h"
#include "showmodel/kvQelSource2.h"
#include "tests/showmodel/KeyFrameFixture.h"

namespace showtest {

// Answers the scripted numbers in turn (each limited to the range asked
// for), then 0; records every range asked for.
struct ScriptedRandom {
  std::deque<int32_t> Next;
  std::vector<int32_t> Ranges;
  showmodel::TRandomBelow Source() {
    return [this](int32_t range) {
      Ranges.push_back(range);
      int32_t v = 0;
      if (!Next.empty()) {
        v = Next.front();
        Next.pop_front();
      }
      return v < range ? v : range - 1;
    };
  }
};

struct Show {
  foundation::TRef<foundation::TIniFile> Ini;
  foundation::TRef<container::TFileAccessor> Accessor;
  foundation::TRef<showmodel::TQelSource> Source;
  ScriptedRandom Random;

  explicit Show(std::string_view text) {
    Ini = kftest::ParseIni(text);
    auto* files = new container::TRealFileSource();
    Accessor = foundation::TRef<container::TFileAccessor>::Adopt(new container::TFileAccessor(files));
    files->Free();
    Source = foundation::TRef<showmodel::TQelSource>::Adopt(
        new showmodel::TQelSource(Accessor.Get(), Ini.Get(), false, Random.Source()));
  }
  showmodel::TSlideTimes Times(int32_t i, int32_t* rep = nullptr) const {
    showmodel::TSlideTimes t;
    const int32_t r = Source->GetSlideTimes(i, t);
    if (rep) *rep = r;
    return t;
  }
};

}  // namespace showtest
