// A decoder plug-in for the tests: a square-wave tone generator. Its stream
// starts with "QTON", the rate, the channel count and the length in ms (each
// uint32), and ends with "QEND"; it reads the stream only through the
// callback table, checking seek origin 2 ("size minus offset") on the way.
// Built with QEL_PLUGIN_NO_SETPOSITION it lacks "SetPosition".
#include <cstdint>
#include <cstring>
#include <vector>

#include "audio/DllDecoderApi.h"

using audio::TDllWriteCallback;
using audio::TStreamCallbacks;

namespace {

struct Header {
  uint32_t rate = 0, channels = 0, ms = 0;
};

bool ReadHeader(void* stream, const TStreamCallbacks* cb, Header& h) {
  uint8_t head[16];
  if (cb->Seek(stream, 0, 0) != 0 || cb->Read(stream, head, 16) != 16 || std::memcmp(head, "QTON", 4) != 0)
    return false;
  std::memcpy(&h.rate, head + 4, 4);
  std::memcpy(&h.channels, head + 8, 4);
  std::memcpy(&h.ms, head + 12, 4);
  int64_t size = cb->Size64(stream);
  uint8_t tail[4];
  if (cb->Seek(stream, 4, 2) != size - 4 || cb->Read64(stream, tail, 4) != 4 || std::memcmp(tail, "QEND", 4) != 0)
    return false;
  return h.rate > 0 && h.channels > 0;
}

struct Decoder {
  Header h;
  void* user;
  TDllWriteCallback write;
  uint64_t frame = 0;
};

}  // namespace

extern "C" {

// What the player passed last, for the tests to check.
__attribute__((visibility("default"))) uint32_t qel_plugin_last_flags = 0xFFFFFFFF;
__attribute__((visibility("default"))) int32_t qel_plugin_record_was_zero = -1;
__attribute__((visibility("default"))) int32_t qel_plugin_destroyed = 0;

__attribute__((visibility("default"))) uint8_t GetMediaInfo(void* stream, const TStreamCallbacks* cb,
                                                            int32_t* duration, int32_t* dataOffset, void* format) {
  // format points at offset 40 of a zeroed 96-byte record.
  const uint8_t* f = static_cast<const uint8_t*>(format);
  qel_plugin_record_was_zero = 1;
  for (int i = 0; i < 56; ++i)
    if (f[i] != 0) qel_plugin_record_was_zero = 0;
  Header h;
  if (!ReadHeader(stream, cb, h)) return 0;
  uint16_t ch = uint16_t(h.channels);
  uint16_t fmt[9] = {1, ch, uint16_t(h.rate & 0xFFFF), uint16_t(h.rate >> 16), 0, 0, uint16_t(2 * ch), 16, 0};
  uint32_t avg = h.rate * 2 * ch;
  fmt[4] = uint16_t(avg & 0xFFFF);
  fmt[5] = uint16_t(avg >> 16);
  std::memcpy(format, fmt, 18);
  *duration = int32_t(h.ms);
  *dataOffset = 16;
  return 1;
}

__attribute__((visibility("default"))) void* CreateDecoder(void* stream, const TStreamCallbacks* cb, uint32_t flags,
                                                           void* user, TDllWriteCallback write) {
  qel_plugin_last_flags = flags;
  Header h;
  if (!ReadHeader(stream, cb, h)) return nullptr;
  return new Decoder{h, user, write, 0};
}

__attribute__((visibility("default"))) void DestroyDecoder(void* handle) {
  ++qel_plugin_destroyed;
  delete static_cast<Decoder*>(handle);
}

// 100 ms per call; a square wave of period 100 frames, +-8000.
__attribute__((visibility("default"))) int32_t Decode(void* handle) {
  auto* d = static_cast<Decoder*>(handle);
  uint64_t total = uint64_t(d->h.rate) * d->h.ms / 1000;
  uint64_t n = std::min<uint64_t>(d->h.rate / 10, total - std::min(total, d->frame));
  if (n == 0) return 0;
  std::vector<int16_t> pcm;
  for (uint64_t i = 0; i < n; ++i, ++d->frame)
    for (uint32_t c = 0; c < d->h.channels; ++c) pcm.push_back((d->frame / 50) % 2 ? 8000 : -8000);
  d->write(d->user, pcm.data(), uint32_t(pcm.size() * 2));
  return 1;
}

#ifndef QEL_PLUGIN_NO_SETPOSITION
// Seeks to the 100 ms step at or before the position, and says so.
__attribute__((visibility("default"))) int32_t SetPosition(void* handle, uint32_t* ms) {
  auto* d = static_cast<Decoder*>(handle);
  *ms = *ms / 100 * 100;
  d->frame = uint64_t(d->h.rate) * *ms / 1000;
  return 1;
}
#endif
}
