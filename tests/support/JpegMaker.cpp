#include "tests/support/JpegMaker.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include <jpeglib.h>

namespace testsupport {

namespace {

struct ErrorMgr {
  jpeg_error_mgr pub;
  jmp_buf jump;
  int code;
};

void ErrorExitJump(j_common_ptr cinfo) {
  ErrorMgr* err = reinterpret_cast<ErrorMgr*>(cinfo->err);
  err->code = cinfo->err->msg_code;
  longjmp(err->jump, 1);
}

void SilentMessage(j_common_ptr, int) {}

// The error manager for a codec: errors jump back to the setjmp, messages are dropped.
jpeg_error_mgr* SilentErrors(ErrorMgr& err) {
  jpeg_error_mgr* pub = jpeg_std_error(&err.pub);
  err.pub.error_exit = ErrorExitJump;
  err.pub.emit_message = SilentMessage;
  err.code = 0;
  return pub;
}

// The compressor part without C++ objects between setjmp and longjmp.
int CompressRaw(const JpegSpec& spec, const uint8_t* pixels, unsigned char** out, unsigned long* outSize) {
  jpeg_compress_struct cinfo;
  ErrorMgr err;
  std::memset(&cinfo, 0, sizeof cinfo);
  cinfo.err = SilentErrors(err);
  if (setjmp(err.jump)) {
    jpeg_destroy_compress(&cinfo);
    return err.code ? err.code : -1;
  }
  jpeg_create_compress(&cinfo);
  jpeg_mem_dest(&cinfo, out, outSize);
  cinfo.image_width = static_cast<JDIMENSION>(spec.width);
  cinfo.image_height = static_cast<JDIMENSION>(spec.height);
  cinfo.input_components = spec.components;
  cinfo.in_color_space = spec.components == 1   ? JCS_GRAYSCALE
                         : spec.components == 3 ? JCS_RGB
                         : spec.components == 4 ? JCS_CMYK
                                                : JCS_UNKNOWN;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, spec.quality, TRUE);
  if (spec.components == 3 && !spec.subsample) {
    for (int c = 0; c < 3; ++c) cinfo.comp_info[c].h_samp_factor = cinfo.comp_info[c].v_samp_factor = 1;
  }
  if (spec.progressive) jpeg_simple_progression(&cinfo);
  cinfo.restart_interval = static_cast<unsigned int>(spec.restartInterval);
  jpeg_start_compress(&cinfo, TRUE);
  const size_t stride = size_t(spec.width) * size_t(spec.components);
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(pixels + stride * cinfo.next_scanline);
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  return 0;
}

struct RawDecode {
  int width, height, components;
  unsigned char* pixels;  // malloc'ed
};

int DecompressRaw(const Bytes& jpeg, int scaleLog2, int mode, RawDecode* result) {
  jpeg_decompress_struct cinfo;
  ErrorMgr err;
  std::memset(&cinfo, 0, sizeof cinfo);
  cinfo.err = SilentErrors(err);
  result->pixels = nullptr;
  if (setjmp(err.jump)) {
    jpeg_destroy_decompress(&cinfo);
    std::free(result->pixels);
    result->pixels = nullptr;
    return err.code ? err.code : -1;
  }
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, jpeg.data(), static_cast<unsigned long>(jpeg.size()));
  jpeg_read_header(&cinfo, TRUE);
  cinfo.scale_num = 1;
  cinfo.scale_denom = 1u << scaleLog2;
  cinfo.dct_method = JDCT_IFAST;
  cinfo.do_block_smoothing = TRUE;
  switch (mode) {
    case 0: cinfo.out_color_space = JCS_RGB; break;
    case 1: cinfo.out_color_space = JCS_GRAYSCALE; break;
    case 2:
      cinfo.out_color_space = JCS_GRAYSCALE;
      cinfo.quantize_colors = TRUE;
      cinfo.desired_number_of_colors = 236;
      cinfo.two_pass_quantize = FALSE;
      cinfo.dither_mode = JDITHER_ORDERED;
      break;
    default: cinfo.out_color_space = JCS_CMYK; break;
  }
  jpeg_start_decompress(&cinfo);
  result->width = static_cast<int>(cinfo.output_width);
  result->height = static_cast<int>(cinfo.output_height);
  result->components = cinfo.output_components;
  const size_t stride = size_t(cinfo.output_width) * size_t(cinfo.output_components);
  result->pixels = static_cast<unsigned char*>(std::malloc(stride * cinfo.output_height + 1));
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW row = result->pixels + stride * cinfo.output_scanline;
    jpeg_read_scanlines(&cinfo, &row, 1);
  }
  if (mode == 2 && cinfo.colormap) {
    const size_t n = stride * cinfo.output_height;
    for (size_t i = 0; i < n; ++i) result->pixels[i] = cinfo.colormap[0][result->pixels[i]];
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  return 0;
}

size_t SegmentEnd(const Bytes& jpeg, size_t pos) {
  // pos at 0xFF of a marker with a length field
  if (pos + 3 >= jpeg.size()) throw std::runtime_error("JpegMaker: marker segment cut short");
  return pos + 2 + ((size_t(jpeg[pos + 2]) << 8) | jpeg[pos + 3]);
}

// Offset of the 0xFF of the first marker `marker` (or of any SOFn when marker is 0xC0 and sof is set).
size_t FindMarker(const Bytes& jpeg, uint8_t marker, bool anySof) {
  if (jpeg.size() < 4 || jpeg[0] != 0xFF || jpeg[1] != 0xD8) throw std::runtime_error("JpegMaker: not a JPEG");
  size_t pos = 2;
  while (pos + 1 < jpeg.size()) {
    if (jpeg[pos] != 0xFF) throw std::runtime_error("JpegMaker: marker expected");
    uint8_t m = jpeg[pos + 1];
    bool isSof = m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC;
    if (m == marker || (anySof && isSof)) return pos;
    if (m == 0xDA) break;
    pos = SegmentEnd(jpeg, pos);
  }
  throw std::runtime_error("JpegMaker: marker not found");
}

}  // namespace

Bytes PatternPixels(int width, int height, int components, uint32_t seed) {
  Bytes pixels(size_t(width) * size_t(height) * size_t(components));
  size_t i = 0;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      for (int c = 0; c < components; ++c) {
        uint32_t v = (uint32_t(x) * (40u + 30u * c) / uint32_t(width > 1 ? width - 1 : 1) * 4u +
                      uint32_t(y) * (60u + 20u * c) / uint32_t(height > 1 ? height - 1 : 1) * 2u + seed * 17u * c);
        if (((x / 16) + (y / 16) + c) % 5 == 0) v += 90;  // a few hard edges
        pixels[i++] = static_cast<uint8_t>(v & 0xFF);
      }
  return pixels;
}

Bytes NoisyScenePixels(int width, int height, uint32_t seed) {
  Bytes pixels(size_t(width) * size_t(height) * 3);
  // A sky-to-ground gradient, a few soft discs and bars, and sensor-like
  // noise from a small linear congruential generator.
  uint32_t state = seed * 2654435761u + 12345u;
  auto noise = [&] {
    state = state * 1664525u + 1013904223u;
    return static_cast<int>((state >> 24) % 29) - 14;
  };
  const int cx[3] = {width / 4, width / 2, 3 * width / 4}, cy[3] = {height / 3, 2 * height / 3, height / 2};
  const int64_t r2 = int64_t(std::max(1, std::min(width, height) / 6)) * std::max(1, std::min(width, height) / 6);
  size_t i = 0;
  for (int y = 0; y < height; ++y) {
    const int sky = 255 * y / std::max(1, height - 1);
    for (int x = 0; x < width; ++x) {
      int c[3] = {90 + sky / 3, 120 + sky / 4, 200 - sky / 2};
      for (int k = 0; k < 3; ++k) {
        const int64_t dx = x - cx[k], dy = y - cy[k];
        if (dx * dx + dy * dy < r2) c[k] = (c[k] + 40 * (k + 1)) & 0xFF;
      }
      if ((x / 97 + y / 61) % 7 == 0) c[1] = 255 - c[1];
      const int n = noise();
      for (int k = 0; k < 3; ++k) pixels[i++] = static_cast<uint8_t>(std::clamp(c[k] + n + noise() / 2, 0, 255));
    }
  }
  return pixels;
}

Bytes MakeJpeg(const JpegSpec& spec, const Bytes& pixels) {
  if (pixels.size() < size_t(spec.width) * size_t(spec.height) * size_t(spec.components))
    throw std::runtime_error("JpegMaker: too few pixels");
  unsigned char* out = nullptr;
  unsigned long outSize = 0;
  int code = CompressRaw(spec, pixels.data(), &out, &outSize);
  Bytes result;
  if (code == 0 && out) result.assign(out, out + outSize);
  std::free(out);
  if (code != 0) throw std::runtime_error("JpegMaker: compressor error " + std::to_string(code));
  return result;
}

Bytes MakeJpeg(const JpegSpec& spec) {
  return MakeJpeg(spec, PatternPixels(spec.width, spec.height, spec.components));
}

Bytes InsertBytes(const Bytes& jpeg, size_t offset, const Bytes& bytes) {
  Bytes out(jpeg.begin(), jpeg.begin() + static_cast<std::ptrdiff_t>(offset));
  out.insert(out.end(), bytes.begin(), bytes.end());
  out.insert(out.end(), jpeg.begin() + static_cast<std::ptrdiff_t>(offset), jpeg.end());
  return out;
}

Bytes SpliceSegment(const Bytes& jpeg, uint8_t marker, const Bytes& payload, SplicePlace where) {
  if (payload.size() + 2 > 0xFFFF) throw std::runtime_error("JpegMaker: payload too long for one segment");
  Bytes segment{0xFF, marker, static_cast<uint8_t>((payload.size() + 2) >> 8),
                static_cast<uint8_t>((payload.size() + 2) & 0xFF)};
  segment.insert(segment.end(), payload.begin(), payload.end());
  size_t at = 2;
  if (where == SplicePlace::BeforeSos) at = FindMarker(jpeg, 0xDA, false);
  if (where == SplicePlace::AfterSosHeader) at = ScanDataOffset(jpeg);
  return InsertBytes(jpeg, at, segment);
}

Bytes IccApp2Payload(const Bytes& profile, uint8_t sequence, uint8_t count) {
  static const char id[] = "ICC_PROFILE";
  Bytes payload(id, id + sizeof id);  // with its terminating zero
  payload.push_back(sequence);
  payload.push_back(count);
  payload.insert(payload.end(), profile.begin(), profile.end());
  return payload;
}

Bytes SetJpegFrameSize(const Bytes& jpeg, int width, int height) {
  Bytes out = jpeg;
  size_t sof = FindMarker(out, 0xC0, true);
  out[sof + 5] = static_cast<uint8_t>(height >> 8);
  out[sof + 6] = static_cast<uint8_t>(height & 0xFF);
  out[sof + 7] = static_cast<uint8_t>(width >> 8);
  out[sof + 8] = static_cast<uint8_t>(width & 0xFF);
  return out;
}

size_t ScanDataOffset(const Bytes& jpeg) { return SegmentEnd(jpeg, FindMarker(jpeg, 0xDA, false)); }

DecodedJpeg DecodeJpegReference(const Bytes& jpeg, int scaleLog2, const std::string& colorSpace) {
  int mode = colorSpace == "rgb" ? 0 : colorSpace == "gray" ? 1 : colorSpace == "gray236" ? 2 : 3;
  RawDecode raw{};
  int code = DecompressRaw(jpeg, scaleLog2, mode, &raw);
  if (code != 0) throw std::runtime_error("JpegMaker: decoder error " + std::to_string(code));
  DecodedJpeg result;
  result.width = raw.width;
  result.height = raw.height;
  result.components = raw.components;
  result.pixels.assign(raw.pixels, raw.pixels + size_t(raw.width) * size_t(raw.height) * size_t(raw.components));
  std::free(raw.pixels);
  return result;
}

}  // namespace testsupport
