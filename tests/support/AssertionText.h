// The message of the assertion a piece of code raises, for tests that check
// the exact text; "<no assertion>" when it raises none.
#pragma once

#include <functional>
#include <string>

#include "foundation/kpExceptions.h"

namespace testsupport {

inline std::u16string AssertionMessageOf(const std::function<void()>& fn) {
  try {
    fn();
  } catch (const foundation::EAssertionFailed& e) {
    return e.Message();
  }
  return u"<no assertion>";
}

}  // namespace testsupport
