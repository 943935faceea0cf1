// The MPEG audio probe: finds the first of two consecutive valid frame
// headers (after any ID3v2 tag), reads a Xing or VBRI header, drops an ID3v1
// trailer and fills the media-info record with the data range, the playing
// time and the 16-bit PCM format the decoder delivers.
#pragma once

#include <cstdint>

#include "audio/MusicTypes.h"

namespace audio {

struct TMpegFrameHeader {
  uint8_t Version = 0;  // 0 MPEG-2.5, 2 MPEG-2, 3 MPEG-1
  uint8_t Layer = 0;    // 1 layer III, 2 layer II, 3 layer I
  bool Protected = false;
  uint8_t BitRateIndex = 0;
  uint8_t SampleRateIndex = 0;
  bool Padding = false;
  bool Private = false;
  uint8_t ChannelMode = 0;  // 3 mono
  uint8_t ModeExtension = 0;
  bool Copyright = false;
  bool Original = false;
  uint8_t Emphasis = 0;

  // Fills the fields from 4 bytes; answers whether the header is valid.
  bool Parse(const uint8_t* b);
  uint32_t BitRateKbps() const;
  uint32_t SampleRate() const;
  // Samples per frame divided by 8.
  uint32_t SamplesPerFrameDiv8() const;
  // floor(bit rate x S x 1000 / rate) + padding; 0 without a rate.
  double FrameLength() const;
  uint32_t Channels() const { return ChannelMode == 3 ? 1 : 2; }
  // Offset of a VBR header from the frame's first byte.
  uint32_t SideInfoOffset() const;
};

struct TMpegVbrHeader {
  bool Present = false;
  char Tag[4] = {};
  uint32_t Frames = 0;
  uint32_t Bytes = 0;
  uint8_t Quality = 0;
  uint8_t Encoder[8] = {};
};

class TMpegInfo {
 public:
  // bitRateHint in bit/s, 0 when none. Works through StreamWrapper.
  static bool Read(foundation::TStream* stream, TMediaInfo& info, uint32_t bitRateHint);
};

}  // namespace audio
