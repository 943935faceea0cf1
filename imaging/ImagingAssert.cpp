#include "imaging/ImagingAssert.h"

#include "foundation/kpExceptions.h"

namespace imaging {

void ImagingAssertFail(const std::string& Message, const char* File, int Line) {
  throw foundation::EAssertionFailed(foundation::MessageFromUtf8(Message), File, Line);
}

}  // namespace imaging
