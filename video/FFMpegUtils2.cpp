#include "video/FFMpegUtils2.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <mutex>
#include <string>

#include "foundation/kpExceptions.h"

namespace video {

namespace ff = platform::ffmpeg;

TFFVideoFormatConvertor::TFFVideoFormatConvertor(int32_t dstFormat, int32_t flags)
    : ScaleFlags(flags), DstFormat(dstFormat) {}

void TFFVideoFormatConvertor::Dispose() {
  if (Buffer) ff::avFree(Buffer);
  Buffer = nullptr;
  if (ScaleContext) ff::swsFree(ScaleContext);
  ScaleContext = nullptr;
  foundation::TRefObject::Dispose();
}

bool TFFVideoFormatConvertor::SetFrameSize(TFrameSize size) {
  if (size.Width <= 0 || size.Height <= 0) return false;
  if (size.Width == Width && size.Height == Height && Buffer) return true;
  // Rows aligned to 64 bytes and some slack: swscale's vector code writes
  // whole steps past a row's last pixel.
  int need = ff::imageBufferSize(DstFormat, size.Width, size.Height, 64);
  if (need <= 0) return false;
  need += 256;
  if (!Buffer || BufferSize < need) {
    if (Buffer) ff::avFree(Buffer);
    Buffer = static_cast<uint8_t*>(ff::avMalloc(static_cast<size_t>(need)));
    BufferSize = Buffer ? need : 0;
    if (!Buffer) return false;
  }
  std::memset(DstData, 0, sizeof DstData);
  std::memset(DstLinesize, 0, sizeof DstLinesize);
  ff::imageFillArrays(DstData, DstLinesize, Buffer, DstFormat, size.Width, size.Height, 64);
  Width = size.Width;
  Height = size.Height;
  LastSourceFormat = -1;
  return true;
}

void TFFVideoFormatConvertor::UseExternalPlanes(TFrameSize size) {
  if (Buffer) {
    ff::avFree(Buffer);
    Buffer = nullptr;
    BufferSize = 0;
    Width = size.Width;
    Height = size.Height;
    LastSourceFormat = -1;
  } else if (size.Width != Width || size.Height != Height) {
    Width = size.Width;
    Height = size.Height;
    LastSourceFormat = -1;
  }
}

void TFFVideoFormatConvertor::SetPlane(int32_t index, uint8_t* pointer, int32_t lineSize) {
  DstData[index] = pointer;
  DstLinesize[index] = lineSize;
}

bool TFFVideoFormatConvertor::Convert(const uint8_t* const* srcData, const int* srcLinesize, int32_t srcFormat) {
  if (srcFormat == -1 || Width <= 0 || Height <= 0) return false;
  if (srcFormat != LastSourceFormat || Width != ContextWidth || Height != ContextHeight || !ScaleContext) {
    ScaleContext = ff::swsCachedContext(ScaleContext, Width, Height, srcFormat, DstFormat, ScaleFlags);
    ++ContextsMade;
    LastSourceFormat = srcFormat;
    ContextWidth = Width;
    ContextHeight = Height;
  }
  if (!ScaleContext) {
    LastSourceFormat = -1;
    return false;
  }
  ff::swsScale(ScaleContext, srcData, srcLinesize, Height, DstData, DstLinesize);
  return true;
}

const uint16_t* GrayTable() {
  static uint16_t table[256];
  static std::once_flag once;
  std::call_once(once, [] {
    for (int i = 0; i < 256; ++i) {
      int v = static_cast<int>(std::trunc(i * 0.8588235294117647 + 16));
      table[i] = static_cast<uint16_t>(((v / 8) << 11) | ((v / 4) << 5) | (v / 8));
    }
  });
  return table;
}

namespace {

// swscale writes a plane as one block from its first row at the pitch, and
// its vector code writes rows in whole steps of up to 64 bytes. A bitmap is
// converted into directly only when its rows follow each other at a pitch
// with that much room; others are filled row by row from the converter's
// padded buffer.
bool RowsContiguous(const imaging::TSysBitmap* b) {
  const int32_t rowBytes = b->Width * b->BytesPerPixel();
  if (b->Pitch < ((rowBytes + 63) & ~63) || b->Height <= 0) return false;
  for (int32_t y = 1; y < b->Height; ++y)
    if (b->Row(y) != b->Row(0) + static_cast<ptrdiff_t>(y) * b->Pitch) return false;
  return true;
}

void CopyRows(imaging::TSysBitmap* dst, const uint8_t* src, int srcPitch, int32_t rowBytes, int32_t rows) {
  rows = std::min(rows, dst->Height);
  for (int32_t y = 0; y < rows; ++y) std::memcpy(dst->Row(y), src + static_cast<ptrdiff_t>(y) * srcPitch, rowBytes);
}

void GrayRows(imaging::TSysBitmap* dst, const uint8_t* src, int srcPitch, int32_t width, int32_t rows) {
  const uint16_t* table = GrayTable();
  rows = std::min(rows, dst->Height);
  for (int32_t y = 0; y < rows; ++y) {
    auto* out = reinterpret_cast<uint16_t*>(dst->Row(y));
    const uint8_t* in = src + static_cast<ptrdiff_t>(y) * srcPitch;
    for (int32_t x = 0; x < width; ++x) out[x] = table[in[x]];
  }
}

// The planar 4:2:0 copy (or, in gray mode, the luma through the table).
void CopyPlanar(TYUVImage* image, imaging::TSysBitmap* const* planes, const uint8_t* const* data,
                const int* linesize) {
  const int32_t w = image->Width, h = image->Height;
  if (image->GrayMode) {
    GrayRows(planes[0], data[0], linesize[0], w, h);
    return;
  }
  CopyRows(planes[0], data[0], linesize[0], w, h);
  CopyRows(planes[1], data[1], linesize[1], w / 2, h / 2);
  CopyRows(planes[2], data[2], linesize[2], w / 2, h / 2);
}

}  // namespace

bool CopyFrameToYUV(TYUVImage* image, const uint8_t* const* data, const int* linesize, int32_t pixelFormat,
                    TFFVideoFormatConvertor*& converter) {
  if (pixelFormat == -1 || !data || !image) return false;
  int32_t wanted[3];
  int32_t count = 0;
  if (image->RGBAMode) wanted[count++] = kPlaneRGBA;
  else if (image->GrayMode) wanted[count++] = kPlaneGray;
  else wanted[0] = kPlaneY, wanted[1] = kPlaneU, wanted[2] = kPlaneV, count = 3;
  imaging::TSysBitmap* planes[3] = {};
  for (int32_t i = 0; i < count; ++i) {
    planes[i] = image->LockPlane(wanted[i]);
    if (!planes[i]) {
      for (int32_t j = 0; j < i; ++j) image->UnlockPlane(wanted[j], planes[j]);
      return false;
    }
  }
  // A plane smaller than the image (a target of another size) would be
  // written past its rows; such a frame is refused.
  const int32_t w = image->Width, h = image->Height;
  bool ok = w > 0 && h > 0;
  for (int32_t i = 0; i < count && ok; ++i) {
    int32_t pw = wanted[i] == kPlaneU || wanted[i] == kPlaneV ? w / 2 : w;
    int32_t ph = wanted[i] == kPlaneU || wanted[i] == kPlaneV ? h / 2 : h;
    ok = planes[i]->Width >= pw && planes[i]->Height >= ph;
  }
  if (ok) {
    switch (pixelFormat) {
      case ff::kPixYUV420P:
      case ff::kPixYUVJ420P:
        if (image->RGBAMode) ok = false;
        else CopyPlanar(image, planes, data, linesize);
        break;
      case ff::kPixNV12:
        if (image->RGBAMode) {
          ok = false;
        } else if (image->GrayMode) {
          GrayRows(planes[0], data[0], linesize[0], w, h);
        } else {
          CopyRows(planes[0], data[0], linesize[0], w, h);
          for (int32_t y = 0; y < h / 2; ++y) {
            const uint8_t* in = data[1] + static_cast<ptrdiff_t>(y) * linesize[1];
            uint8_t* u = planes[1]->Row(y);
            uint8_t* v = planes[2]->Row(y);
            for (int32_t k = 0; k < w / 2; ++k) {
              u[k] = in[2 * k];
              v[k] = in[2 * k + 1];
            }
          }
        }
        break;
      case ff::kPixBGRA:
        if (count == 1 && !image->GrayMode) CopyRows(planes[0], data[0], linesize[0], w * 4, h);
        else ok = false;
        break;
      default:
        if (image->RGBAMode) {
          ok = false;
          break;
        }
        if (!converter) converter = new TFFVideoFormatConvertor(ff::kPixYUV420P, 4);
        if (!image->GrayMode && RowsContiguous(planes[0]) && RowsContiguous(planes[1]) && RowsContiguous(planes[2])) {
          converter->UseExternalPlanes({w, h});
          for (int32_t i = 0; i < 3; ++i) converter->SetPlane(i, planes[i]->Row(0), planes[i]->Pitch);
          ok = converter->Convert(data, linesize, pixelFormat);
        } else {
          ok = converter->SetFrameSize({w, h}) && converter->Convert(data, linesize, pixelFormat);
          if (ok) CopyPlanar(image, planes, converter->DstData, converter->DstLinesize);
        }
        break;
    }
  }
  for (int32_t i = 0; i < count; ++i)
    if (!image->UnlockPlane(wanted[i], planes[i])) ok = false;
  return ok;
}

bool CopyFrameToBitmap(imaging::TSysBitmap* bitmap, const uint8_t* const* data, const int* linesize,
                       int32_t pixelFormat, TFFVideoFormatConvertor*& converter) {
  if (!bitmap || bitmap->BytesPerPixel() != 3 || !data || pixelFormat == -1) return false;
  if (!converter) converter = new TFFVideoFormatConvertor(ff::kPixBGR24, 4);
  const int32_t w = bitmap->Width, h = bitmap->Height;
  if (RowsContiguous(bitmap)) {
    converter->UseExternalPlanes({w, h});
    converter->SetPlane(0, bitmap->Row(0), bitmap->Pitch);
    return converter->Convert(data, linesize, pixelFormat);
  }
  if (!converter->SetFrameSize({w, h}) || !converter->Convert(data, linesize, pixelFormat)) return false;
  for (int32_t y = 0; y < h; ++y)
    std::memcpy(bitmap->Row(y), converter->DstData[0] + static_cast<ptrdiff_t>(y) * converter->DstLinesize[0], w * 3);
  return true;
}

uint8_t AspectClassOf(float ratio) {
  if (ratio == 0) return 0;
  if (std::fabs(ratio - 1.7777777777777777) < 0.001) return 2;
  if (std::fabs(ratio - 1.3333333333333333) < 0.001) return 1;
  return 0;
}

namespace {

struct ErrorEntry {
  int32_t code;
  const char* text;
};
const ErrorEntry kErrorTable[] = {
#include "video/FFMpegErrors.inc"
};

// The table numbers errno values as the C run-time it was written for does;
// where this system's numbers differ, a code is looked up by its meaning.
struct ErrnoName {
  int linuxValue;
  int tableValue;
};
const ErrnoName kErrnoMap[] = {
    {EDEADLK, 36},       {ENAMETOOLONG, 38},    {ENOLCK, 39},       {ENOSYS, 40},       {ENOTEMPTY, 41},
    {EILSEQ, 42},        {EADDRINUSE, 100},     {EADDRNOTAVAIL, 101}, {EAFNOSUPPORT, 102}, {EALREADY, 103},
    {ECANCELED, 105},    {ECONNABORTED, 106},   {ECONNREFUSED, 107}, {ECONNRESET, 108},  {EDESTADDRREQ, 109},
    {EHOSTUNREACH, 110}, {EINPROGRESS, 112},    {EISCONN, 113},     {ELOOP, 114},       {EMSGSIZE, 115},
    {ENETDOWN, 116},     {ENETRESET, 117},      {ENETUNREACH, 118}, {ENOBUFS, 119},     {ENOPROTOOPT, 123},
    {ENOTCONN, 126},     {ENOTSOCK, 128},    {EOPNOTSUPP, 130},  {EOVERFLOW, 132},
    {EOWNERDEAD, 133},   {EPROTO, 134},         {EPROTONOSUPPORT, 135}, {EPROTOTYPE, 136}, {ETIMEDOUT, 138},
};

std::u16string Decimal(int32_t v) {
  std::string s = std::to_string(v);
  return std::u16string(s.begin(), s.end());
}

}  // namespace

std::u16string FormatErrorText(const std::u16string& prefix, int32_t code) {
  int32_t key = code;
  if (code < 0 && code > -200) {
    for (const ErrnoName& e : kErrnoMap)
      if (-e.linuxValue == code) {
        key = -e.tableValue;
        break;
      }
  }
  std::u16string text;
  for (const ErrorEntry& e : kErrorTable)
    if (e.code == key) {
      text = foundation::MessageFromUtf8(e.text);
      break;
    }
  if (text.empty()) text = u"Error number " + Decimal(code) + u" occurred";
  return prefix.empty() ? text : prefix + u": " + text;
}

std::u16string DictValue(const AVDictionary* dictionary, const std::u16string& key, const std::u16string& def) {
  const char* v = ff::dictGet(dictionary, foundation::MessageToUtf8(key).c_str());
  return v ? foundation::MessageFromUtf8(v) : def;
}

}  // namespace video
