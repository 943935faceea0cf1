// One libmpg123 handle decoding MPEG audio from a stream to 16-bit PCM in
// the stream's own rate and channel count. TMP3Source feeds libmpg123 from
// the stream through a replaced reader that reads 32 KB blocks ahead; the
// whole file is scanned once at opening so the length and seeking are exact.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "foundation/SysObj.h"
#include "foundation/kvStream.h"

struct mpg123_handle_struct;

namespace audio {

class TMP3Source : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TMP3Source)
  // Takes a reference to the stream.
  explicit TMP3Source(foundation::TStream* stream);
  void Dispose() override;

  int64_t ReadBytes(void* buffer, size_t count);
  int64_t SeekTo(int64_t offset, int whence);
  // Marks the length scan; reads keep going through the read-ahead block.
  void SetCache(bool on);

  foundation::TStream* Stream = nullptr;
  int64_t Position = 0;

 private:
  static constexpr size_t kReadAhead = 32768;
  std::vector<uint8_t> FAhead;
  int64_t FAheadAt = -1;  // stream offset of FAhead[0]; -1 when empty
};

class TMP3Decoder : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TMP3Decoder)
  TMP3Decoder();
  void Dispose() override;

  bool Open(foundation::TStream* stream, const std::u16string& name);
  bool OpenHandle(foundation::TStream* stream);
  bool GetFormat();
  bool AllocBlock();
  // One block into Block (BytesDone bytes); true at the end with 0 bytes.
  bool Read();
  bool SeekSample(int64_t n);
  bool SeekMs(double ms);
  void Close();

  const uint8_t* BlockData() const { return reinterpret_cast<const uint8_t*>(Block.data()); }

  TMP3Source* Source = nullptr;
  mpg123_handle_struct* Handle = nullptr;
  bool InitFailed = false;
  double DurationMs = 0;
  int64_t SampleCount = 0;
  int32_t Channels = 0;
  int32_t Rate = 0;
  int32_t BitRate = 0;
  int32_t BytesPerSample = 2;
  int32_t Encoding = 0;
  int64_t BlockSize = 0;
  int32_t BlockWords = 0;
  std::vector<uint32_t> Block;
  int64_t BytesDone = 0;
  bool AtEnd = false;
  int64_t SamplePosition = 0;
};

// Unit start: mpg123_init; a failure is logged and makes every decoder fail.
void InitMp3Decoder();

}  // namespace audio
