// The one road from a slide index to its project section: every reader of a
// project (show source, slide producer, music plan, engine) asks here, so all
// of them agree which section is slide i. The player plays slides in their
// authored order: slide i is section "Slide<i+1>".
#pragma once

#include <cstdint>
#include <deque>

#include <string>

#include "foundation/kvIni.h"

namespace showmodel {

// The slide order of one project: entry k is the slide number shown k-th.
// Entries live in a deque, so growing the table never moves those another
// thread is reading; every access still takes the unit's lock.
// A plain record, not a counted object: the process keeps the tables until
// it ends, and they must not count as objects left alive.
class TSlideRandomList {
 public:
  // Entries 0 .. Times/"opt_slidescount" - 1; the project must have a Main
  // section (assertion).
  explicit TSlideRandomList(const foundation::TIniFile* Ini);
  std::deque<int32_t> Order;
};

// The section of slide i (i >= 0), or nil. Projects with a "ProjectFilePath"
// share one order table per path in the process.
foundation::TIniSection* GetSlideSection(const foundation::TIniFile* Ini, int32_t i);

// The number of order tables the process holds (tests).
int32_t SlideOrderTableCount();
// The length of the order table of a project path, -1 without one (tests).
int32_t SlideOrderLength(const std::u16string& projectPath);

}  // namespace showmodel
