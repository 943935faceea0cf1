#include "decoders/kvjstream.h"

#include <algorithm>
#include <cstring>

namespace decoders {

void TJStream::SetSize(int32_t Count) {
  if (Count <= 0) {
    Size = 0;
    Position = 0;
    return;
  }
  if (Data.size() < static_cast<size_t>(Count)) Data.resize(static_cast<size_t>(Count));
  Size = Count;
  Position = std::min(Position, Size);
}

void TJStream::SetPosition(int32_t NewPosition) { Position = std::clamp(NewPosition, 0, Size); }

int32_t TJStream::Read(uint8_t* Buffer, int32_t Count) {
  const int32_t n = std::min(Count, Size - Position);
  if (n <= 0) return 0;
  std::memcpy(Buffer, Data.data() + Position, static_cast<size_t>(n));
  Position += n;
  return n;
}

}  // namespace decoders
