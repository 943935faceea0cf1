#include "audio/Mp3Decoder.h"

#include <mpg123.h>

#include <atomic>
#include <algorithm>
#include <chrono>
#include <cstring>
#include <cmath>
#include <mutex>
#include <string>
#include <thread>

#include "audio/MusicTypes.h"
#include "foundation/kpLog.h"

namespace audio {

using foundation::GetLog;
using foundation::TStream;

namespace {

std::atomic<bool> gInitFailed{false};

std::u16string Num(int64_t v) {
  std::string s = std::to_string(v);
  return std::u16string(s.begin(), s.end());
}

std::u16string ThreadIdText() {
  std::string s = std::to_string(std::hash<std::thread::id>()(std::this_thread::get_id()) & 0xFFFFFFFF);
  return std::u16string(s.begin(), s.end());
}

ssize_t ReadCallback(void* handle, void* buffer, size_t count) {
  return static_cast<ssize_t>(static_cast<TMP3Source*>(handle)->ReadBytes(buffer, count));
}

off_t SeekCallback(void* handle, off_t offset, int whence) {
  return static_cast<off_t>(static_cast<TMP3Source*>(handle)->SeekTo(offset, whence));
}

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

void InitMp3Decoder() {
  if (mpg123_init() != MPG123_OK) {
    GetLog()->Add(u"mpg123_init() failed");
    gInitFailed = true;
  }
}

// --- TMP3Source ---------------------------------------------------------------

TMP3Source::TMP3Source(TStream* stream) : Stream(stream) {
  if (Stream) Stream->_AddRef();
}

void TMP3Source::Dispose() {
  foundation::FreeAndNil(Stream);
  TRefObject::Dispose();
}

void TMP3Source::SetCache(bool on) {
  // The scan's 32 KB window is the read-ahead block itself: every read, the
  // scan's included, goes through it, so a separate block cache over the
  // stream would only copy the file once more.
  (void)on;
  FAheadAt = -1;
}

int64_t TMP3Source::ReadBytes(void* buffer, size_t count) {
  TStream* from = Stream;
  if (!from) return 0;
  // libmpg123 asks for a few bytes at a time (a header, then a frame); each
  // stream access takes the wrapper's lock, so reads are served from a
  // read-ahead block of the stream instead.
  auto* out = static_cast<uint8_t*>(buffer);
  size_t done = 0;
  while (done < count) {
    if (FAheadAt >= 0 && Position >= FAheadAt && Position < FAheadAt + int64_t(FAhead.size())) {
      size_t n = std::min(count - done, size_t(FAheadAt + int64_t(FAhead.size()) - Position));
      std::memcpy(out + done, FAhead.data() + (Position - FAheadAt), n);
      Position += int64_t(n);
      done += n;
      continue;
    }
    std::lock_guard guard(*StreamWrapper->Lock());
    if (from->GetPosition() != Position) from->SetPosition(Position);
    if (count - done >= kReadAhead) {
      int64_t got = StreamWrapper->Read(from, out + done, int64_t(count - done));
      Position += got;
      done += size_t(got);
      break;
    }
    FAhead.resize(kReadAhead);
    int64_t got = StreamWrapper->Read(from, FAhead.data(), int64_t(kReadAhead));
    FAhead.resize(size_t(std::max<int64_t>(got, 0)));
    FAheadAt = Position;
    if (got <= 0) break;
  }
  return int64_t(done);
}

int64_t TMP3Source::SeekTo(int64_t offset, int whence) {
  if (whence < 0 || whence > 2 || !Stream) return 0;
  int64_t size = StreamWrapper->GetSize(Stream);
  int64_t target = whence == 0 ? offset : whence == 1 ? Position + offset : size + offset;
  if (target < 1) target = 0;
  if (target > size) target = size;
  Position = target;
  return Position;
}

// --- TMP3Decoder ----------------------------------------------------------------

TMP3Decoder::TMP3Decoder() { InitFailed = gInitFailed; }

void TMP3Decoder::Dispose() {
  Close();
  TRefObject::Dispose();
}

bool TMP3Decoder::Open(TStream* stream, const std::u16string& name) {
  GetLog()->Add(u"Open. Begin. ThreadID: " + ThreadIdText());
  if (InitFailed) return false;
  // A handle that failed to open is not kept: reading it would decode with
  // no format (no channel count to divide by).
  if (OpenHandle(stream)) return true;
  Close();
  return false;
}

bool TMP3Decoder::OpenHandle(TStream* stream) {
  int64_t started = NowMs();
  Close();
  Source = new TMP3Source(stream);
  int error = 0;
  Handle = mpg123_new(nullptr, &error);
  if (!Handle) {
    GetLog()->Add(u"mpg123_new() failed, result is nil");
    return false;
  }
  int r = mpg123_replace_reader_handle(Handle, ReadCallback, SeekCallback, nullptr);
  if (r != MPG123_OK) {
    GetLog()->Add(u"mpg123_replace_reader_handle() failed: " + Num(r));
    return false;
  }
  r = mpg123_open_handle(Handle, Source);
  if (r != MPG123_OK) {
    GetLog()->Add(u"mpg123_open_handle() failed: " + Num(r));
    return false;
  }
  Source->SetCache(true);
  int64_t scanStart = NowMs();
  r = mpg123_scan(Handle);
  GetLog()->Add(u"After mpg123_scan(). Time = " + Num(NowMs() - scanStart) + u" ms");
  if (r != MPG123_OK) GetLog()->Add(u"mpg123_scan() failed: " + Num(r));
  Source->SetCache(false);
  if (!GetFormat() || !AllocBlock()) return false;
  GetLog()->Add(u"Open. End (" + Num(NowMs() - started) + u" ms). ThreadID: " + ThreadIdText());
  return true;
}

bool TMP3Decoder::GetFormat() {
  long rate = 0;
  int channels = 0, encoding = 0;
  int r = mpg123_getformat(Handle, &rate, &channels, &encoding);
  if (r != MPG123_OK) {
    GetLog()->Add(u"mpg123_getformat() failed: " + Num(r));
    return false;
  }
  r = mpg123_format_none(Handle);
  if (r != MPG123_OK) {
    GetLog()->Add(u"mpg123_format_none() failed: " + Num(r));
    return false;
  }
  // The output is locked to the stream's own rate and channels, and to
  // 16-bit samples, which is what the converter's buffer format says.
  Encoding = MPG123_ENC_SIGNED_16;
  r = mpg123_format(Handle, rate, channels, Encoding);
  if (r != MPG123_OK) {
    GetLog()->Add(u"mpg123_format() failed: " + Num(r));
    return false;
  }
  mpg123_frameinfo info{};
  r = mpg123_info(Handle, &info);
  if (r != MPG123_OK) {
    GetLog()->Add(u"mpg123_info() failed: " + Num(r));
    return false;
  }
  Rate = int32_t(rate);
  Channels = channels;
  BitRate = info.bitrate;
  BytesPerSample = 2;
  SampleCount = mpg123_length(Handle);
  if (SampleCount < 1) {
    GetLog()->Add(u"Cannot detect SamplesCount for MP3. mpg123_length() returns 0");
    return false;
  }
  DurationMs = std::round(double(SampleCount) * 1000.0 / Rate);
  return true;
}

bool TMP3Decoder::AllocBlock() {
  BlockSize = int64_t(mpg123_outblock(Handle));
  if (BlockSize == 0) {
    GetLog()->Add(u"mpg123_outblock() failed. Size of buffer is 0.");
    return false;
  }
  BlockWords = int32_t((BlockSize + 3) / 4);
  Block.assign(size_t(BlockWords), 0);
  return true;
}

bool TMP3Decoder::Read() {
  if (InitFailed || !Handle) return false;
  size_t done = 0;
  int r = mpg123_read(Handle, Block.data(), size_t(BlockSize), &done);
  BytesDone = int64_t(done);
  if (r == MPG123_DONE) AtEnd = true;
  if (r == MPG123_OK || r == MPG123_DONE) {
    if (Channels > 0) SamplePosition += BytesDone / Channels / BytesPerSample;
    return true;
  }
  GetLog()->Add(u"mpg123_read() failed: " + Num(r));
  return false;
}

bool TMP3Decoder::SeekSample(int64_t n) {
  if (!Handle) return false;
  off_t r = mpg123_seek(Handle, off_t(n), SEEK_SET);
  if (r >= 0) {
    SamplePosition = n;
    AtEnd = false;
    return true;
  }
  GetLog()->Add(u"mpg123_seek() failed: " + Num(r));
  return false;
}

bool TMP3Decoder::SeekMs(double ms) { return SeekSample(std::llround(double(Rate) * ms / 1000.0)); }

void TMP3Decoder::Close() {
  AtEnd = false;
  SamplePosition = 0;
  if (Handle) {
    int r = mpg123_close(Handle);
    if (r != MPG123_OK) GetLog()->Add(u"mpg123_close() failed: " + Num(r));
    mpg123_delete(Handle);
    Handle = nullptr;
  }
  foundation::FreeAndNil(Source);
}

}  // namespace audio
