// Decoded FFmpeg pictures into the program's frame targets (the planes of a
// YUV image, 24-bit bitmaps): the cached swscale converter, the plane copies
// that need no conversion, the luma-to-gray table; and three helpers of the
// demuxer and decoders: the aspect class, error texts and metadata values.
#pragma once

#include <cstdint>
#include <string>

#include "foundation/SysObj.h"
#include "imaging/SysBitmap.h"
#include "platform/ffmpeg/api.h"
#include "video/kvVideoSource.h"

namespace video {

struct TFrameSize {
  int32_t Width = 0, Height = 0;
};

// Converts pictures of one size from any source pixel format into one
// destination format; never scales.
class TFFVideoFormatConvertor : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TFFVideoFormatConvertor)
  TFFVideoFormatConvertor(int32_t dstFormat, int32_t flags);
  void Dispose() override;

  bool SetFrameSize(TFrameSize size);
  void UseExternalPlanes(TFrameSize size);
  void SetPlane(int32_t index, uint8_t* pointer, int32_t lineSize);
  bool Convert(const uint8_t* const* srcData, const int* srcLinesize, int32_t srcFormat);

  uint8_t* Buffer = nullptr;
  int32_t BufferSize = 0;
  int32_t ScaleFlags = 4;
  SwsContext* ScaleContext = nullptr;
  int32_t LastSourceFormat = -1;
  int32_t ContextWidth = 0, ContextHeight = 0;
  uint8_t* DstData[8] = {};
  int DstLinesize[8] = {};
  int32_t Width = 0, Height = 0;
  int32_t DstFormat = 0;
  int32_t ContextsMade = 0;  // contexts asked of swscale, for tests
};

// The R5G6B5 gray pixel of each luma value (i x 219/255 + 16).
const uint16_t* GrayTable();

bool CopyFrameToYUV(TYUVImage* image, const uint8_t* const* data, const int* linesize, int32_t pixelFormat,
                    TFFVideoFormatConvertor*& converter);
bool CopyFrameToBitmap(imaging::TSysBitmap* bitmap, const uint8_t* const* data, const int* linesize,
                       int32_t pixelFormat, TFFVideoFormatConvertor*& converter);

uint8_t AspectClassOf(float ratio);
// The table's text of an FFmpeg code ("Error number <code> occurred" when it
// has none), after "<prefix>: " when a prefix is given. Negative errno
// values of this system are looked up by their meaning.
std::u16string FormatErrorText(const std::u16string& prefix, int32_t code);
// A metadata value (FFmpeg's strings are UTF-8), or the default.
std::u16string DictValue(const AVDictionary* dictionary, const std::u16string& key, const std::u16string& def);

}  // namespace video
