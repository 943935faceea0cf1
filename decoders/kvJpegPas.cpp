#include "decoders/kvJpegPas.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>

#include <jpeglib.h>
#include <jerror.h>

#include "foundation/SysLock.h"
#include "foundation/kpExceptions.h"
#include "foundation/kpLog.h"
#include "foundation/kvLog.h"
#include "imaging/kvFastDIB.h"
#include "imaging/kvPixelFormat.h"

namespace decoders {

using imaging::TRect;

const TJpegOptions JpegDefaults{};

namespace {

// ---- the decompressor record of one header read or decode ---------------------------

struct TJpegErrorMgr {
  jpeg_error_mgr pub;
  jmp_buf jump;
};

struct TJSourceMgr {
  jpeg_source_mgr pub;
  TJStream* stream;
  boolean startOfFile;
  JOCTET eoi[2];
};

struct TJpegProgressMgr {
  jpeg_progress_mgr pub;
  TJpegLoader* owner;
  uint32_t lastTick;
  int32_t lastPercent;
  int32_t lastScanLine;
};

// Plain data only: the library leaves its routines by a long jump to the
// guard below, which must not pass over anything that needs destroying.
struct TDecompressor {
  jpeg_decompress_struct cinfo;
  TJpegErrorMgr err;
  TJSourceMgr src;
  TJpegProgressMgr progress;
  bool created;
};

// ---- error manager: every library error leaves through the guard ---------------------

void JpegErrorExit(j_common_ptr cinfo) { longjmp(reinterpret_cast<TJpegErrorMgr*>(cinfo->err)->jump, 1); }
void JpegEmitMessage(j_common_ptr, int) {}
void JpegOutputMessage(j_common_ptr) {}
void JpegFormatMessage(j_common_ptr, char*) {}
void JpegResetErrorMgr(j_common_ptr cinfo) {
  cinfo->err->msg_code = 0;
  cinfo->err->num_warnings = 0;
}

void InitErrorMgr(TJpegErrorMgr& e) {
  std::memset(&e.pub, 0, sizeof e.pub);
  e.pub.error_exit = JpegErrorExit;
  e.pub.emit_message = JpegEmitMessage;
  e.pub.output_message = JpegOutputMessage;
  e.pub.format_message = JpegFormatMessage;
  e.pub.reset_error_mgr = JpegResetErrorMgr;
  e.pub.trace_level = 0;
}

using TJStep = void (*)(TDecompressor* d, void* arg);

// Runs one step of library calls; false when the library raised an error.
bool JpegGuard(TDecompressor* d, TJStep step, void* arg) {
  if (setjmp(d->err.jump)) return false;
  step(d, arg);
  return true;
}

[[noreturn]] void RaiseJpegError(int32_t code) {
  throw foundation::EAssertionFailed(JpegErrorText(code), "kvJpegPas", 162);
}

void Guarded(TDecompressor* d, TJStep step, void* arg = nullptr) {
  if (!JpegGuard(d, step, arg)) RaiseJpegError(d->err.pub.msg_code);
}

// ---- the in-memory source ---------------------------------------------------------------

void SrcInit(j_decompress_ptr cinfo) { reinterpret_cast<TJSourceMgr*>(cinfo->src)->startOfFile = TRUE; }

// Hands the library everything left in the buffer; at the end, like a file
// source: nothing at all is an error, a later end is a warning and an
// inserted end-of-image marker.
boolean SrcFill(j_decompress_ptr cinfo) {
  TJSourceMgr* src = reinterpret_cast<TJSourceMgr*>(cinfo->src);
  TJStream* s = src->stream;
  const int32_t left = s->Size - s->Position;
  if (left > 0) {
    src->pub.next_input_byte = s->Data.data() + s->Position;
    src->pub.bytes_in_buffer = static_cast<size_t>(left);
    s->Position = s->Size;
  } else {
    if (src->startOfFile) ERREXIT(cinfo, JERR_INPUT_EMPTY);
    WARNMS(cinfo, JWRN_JPEG_EOF);
    src->eoi[0] = 0xFF;
    src->eoi[1] = JPEG_EOI;
    src->pub.next_input_byte = src->eoi;
    src->pub.bytes_in_buffer = 2;
  }
  src->startOfFile = FALSE;
  return TRUE;
}

void SrcSkip(j_decompress_ptr cinfo, long count) {
  if (count <= 0) return;
  jpeg_source_mgr* src = cinfo->src;
  while (count > static_cast<long>(src->bytes_in_buffer)) {
    count -= static_cast<long>(src->bytes_in_buffer);
    SrcFill(cinfo);
  }
  src->next_input_byte += count;
  src->bytes_in_buffer -= static_cast<size_t>(count);
}

void SrcTerm(j_decompress_ptr) {}

void AttachSource(TDecompressor* d, TJStream* stream) {
  stream->SetPosition(0);
  std::memset(&d->src, 0, sizeof d->src);
  d->src.pub.init_source = SrcInit;
  d->src.pub.fill_input_buffer = SrcFill;
  d->src.pub.skip_input_data = SrcSkip;
  d->src.pub.resync_to_restart = jpeg_resync_to_restart;
  d->src.pub.term_source = SrcTerm;
  d->src.stream = stream;
  d->cinfo.src = &d->src.pub;
}

// ---- progress -----------------------------------------------------------------------------

void JpegProgressMonitor(j_common_ptr common) {
  j_decompress_ptr cinfo = reinterpret_cast<j_decompress_ptr>(common);
  if (cinfo->input_scan_number > JpegMaxScans) ERREXIT(cinfo, JERR_BAD_PROGRESSION);
  TJpegProgressMgr* p = reinterpret_cast<TJpegProgressMgr*>(cinfo->progress);
  if (!p->owner) return;
  const uint32_t now = foundation::SysTickMs();
  if (now - p->lastTick < 500) return;
  const uint32_t previous = p->lastTick;
  p->lastTick = now;
  if (previous == 0) return;
  TRect rect{0, p->lastScanLine, static_cast<int32_t>(cinfo->output_width),
             static_cast<int32_t>(cinfo->output_scanline)};
  if (static_cast<int32_t>(cinfo->output_scanline) < p->lastScanLine)
    rect.Bottom = static_cast<int32_t>(cinfo->output_height);
  const jpeg_progress_mgr& pub = p->pub;
  double fraction = pub.pass_limit > 0 ? double(pub.pass_counter) / double(pub.pass_limit) : 0.0;
  const int32_t percent = pub.total_passes > 0
                              ? static_cast<int32_t>((fraction + pub.completed_passes) * 100.0 / pub.total_passes)
                              : 0;
  if (percent == p->lastPercent) return;
  p->lastPercent = percent;
  p->lastScanLine = static_cast<int32_t>(cinfo->output_scanline);
  TJpegLoader* owner = p->owner;
  if (!owner->OnProgress) return;
  // An exception must not travel through the library's frames.
  try {
    owner->OnProgress(owner, 1, static_cast<uint8_t>(std::clamp(percent, 0, 255)), rect.Bottom - rect.Top > 3, rect,
                      std::u16string());
  } catch (...) {
  }
}

// ---- steps --------------------------------------------------------------------------------

void StepCreate(TDecompressor* d, void*) {
  jpeg_create_decompress(&d->cinfo);
  d->created = true;
}

void StepReadHeader(TDecompressor* d, void*) { jpeg_read_header(&d->cinfo, TRUE); }
void StepStart(TDecompressor* d, void*) { jpeg_start_decompress(&d->cinfo); }
void StepFinish(TDecompressor* d, void*) { jpeg_finish_decompress(&d->cinfo); }

struct TReadRows {
  uint8_t** rows;    // the bitmap's row table
  uint8_t* cmykRow;  // a row of 4-byte samples to convert, or null
};

void StepReadRows(TDecompressor* d, void* arg) {
  TReadRows* r = static_cast<TReadRows*>(arg);
  jpeg_decompress_struct* cinfo = &d->cinfo;
  if (r->cmykRow) {
    // Adobe CMYK, stored inverted: each channel value already is 255 - ink.
    while (cinfo->output_scanline < cinfo->output_height) {
      uint8_t* target = r->rows[cinfo->output_scanline];
      JSAMPROW row = r->cmykRow;
      if (jpeg_read_scanlines(cinfo, &row, 1) != 1) return;
      const uint8_t* s = r->cmykRow;
      for (JDIMENSION x = 0; x < cinfo->output_width; ++x, s += 4, target += 3) {
        const unsigned k = s[3];
        target[0] = static_cast<uint8_t>((s[2] * k + 127) / 255);
        target[1] = static_cast<uint8_t>((s[1] * k + 127) / 255);
        target[2] = static_cast<uint8_t>((s[0] * k + 127) / 255);
      }
    }
    return;
  }
  const JDIMENSION step = std::max(1, cinfo->rec_outbuf_height);
  while (cinfo->output_scanline < cinfo->output_height) {
    const JDIMENSION count = std::min(step, cinfo->output_height - cinfo->output_scanline);
    if (jpeg_read_scanlines(cinfo, r->rows + cinfo->output_scanline, count) == 0) return;
  }
}

void DestroyDecompressor(TDecompressor* d) {
  if (d->created) jpeg_destroy_decompress(&d->cinfo);
  d->created = false;
}

// Creates the decompressor over the loader's bytes and reads the header.
void OpenDecompressor(TDecompressor* d, TJStream* stream, TJpegLoader* progressOwner) {
  std::memset(&d->cinfo, 0, sizeof d->cinfo);
  InitErrorMgr(d->err);
  d->cinfo.err = &d->err.pub;
  Guarded(d, StepCreate);
  if (progressOwner) {
    std::memset(&d->progress, 0, sizeof d->progress);
    d->progress.pub.progress_monitor = JpegProgressMonitor;
    d->progress.owner = progressOwner;
    d->cinfo.progress = &d->progress.pub;
  }
  AttachSource(d, stream);
  Guarded(d, StepReadHeader);
}

class DecompressorHolder {
 public:
  DecompressorHolder() : d_(new TDecompressor()) { d_->created = false; }
  ~DecompressorHolder() { DestroyDecompressor(d_.get()); }
  TDecompressor* get() { return d_.get(); }

 private:
  std::unique_ptr<TDecompressor> d_;
};

}  // namespace

std::u16string JpegErrorText(int32_t Code) {
  static const std::u16string resource = u"JPEG error #%d";
  std::u16string code;
  for (char c : std::to_string(Code)) code.push_back(static_cast<char16_t>(c));
  std::u16string text = resource;
  const size_t at = text.find(u"%d");
  if (at == std::u16string::npos) return text + u" " + code;
  return text.replace(at, 2, code);
}

// ---- TJPEGData ----------------------------------------------------------------------------

TJPEGData::TJPEGData() : Stream(new TJStream()) {}

void TJPEGData::Dispose() {
  delete Stream;
  Stream = nullptr;
  TRefObject::Dispose();
}

// ---- TJpegLoader --------------------------------------------------------------------------

TJpegLoader::TJpegLoader() = default;

void TJpegLoader::Dispose() {
  foundation::FreeAndNil(Data);
  TRefObject::Dispose();
}

void TJpegLoader::GetSize(int32_t& Width, int32_t& Height) const {
  Width = Data ? Data->Width : 0;
  Height = Data ? Data->Height : 0;
}

void TJpegLoader::LoadHeader(foundation::TStream* Stream, int32_t Max) {
  const int64_t left = Stream->GetSize() - Stream->GetPosition();
  const int32_t count = static_cast<int32_t>(std::clamp<int64_t>(std::min<int64_t>(Max, left), 0, INT32_MAX));
  foundation::FreeAndNil(Data);
  Data = new TJPEGData();
  TJStream* js = Data->Stream;
  // Grown as bytes really arrive, so a stream that claims more than it holds
  // costs no more memory than it delivers.
  int32_t got = 0;
  while (got < count) {
    const int32_t chunk = std::min<int32_t>(count - got, std::max<int32_t>(got, 1 << 20));
    js->SetSize(got + chunk);
    const int32_t n = Stream->ReadBuf(js->Data.data() + got, chunk);
    if (n <= 0) break;
    got += n;
    if (n < chunk) break;
  }
  js->SetSize(got);
  if (got <= 0) return;

  DecompressorHolder holder;
  TDecompressor* d = holder.get();
  OpenDecompressor(d, js, nullptr);
  Data->Width = static_cast<int32_t>(d->cinfo.image_width);
  Data->Height = static_cast<int32_t>(d->cinfo.image_height);
  Data->Grayscale = d->cinfo.jpeg_color_space == JCS_GRAYSCALE;
  Options.Progressive = jpeg_has_multiple_scans(&d->cinfo) != 0;
}

imaging::TSysBitmap* TJpegLoader::Decode(uint8_t Scale) {
  PaletteCount = 0;
  const uint8_t savedScale = Options.Scale;
  Options.Scale = Scale;
  DecompressorHolder holder;
  TDecompressor* d = holder.get();
  imaging::TSysBitmap* bitmap = nullptr;
  bool mapped = false;
  auto finish = [&] {
    if (OnProgress) OnProgress(this, 2, 100, mapped, TRect{}, std::u16string());
    Options.Scale = savedScale;
  };
  try {
    if (!Data || Data->Stream->Size <= 0) RaiseJpegError(JERR_INPUT_EMPTY);
    // SetupDecompressor
    OpenDecompressor(d, Data->Stream, this);
    jpeg_decompress_struct& ci = d->cinfo;
    ci.scale_num = 1;
    ci.scale_denom = 1u << std::min<uint8_t>(Options.Scale, 3);
    ci.do_block_smoothing = Options.Smoothing ? TRUE : FALSE;
    bool cmyk = false;
    if (Options.Grayscale) {
      ci.out_color_space = JCS_GRAYSCALE;
    } else if (ci.jpeg_color_space == JCS_CMYK || ci.jpeg_color_space == JCS_YCCK) {
      // The library has no CMYK to RGB conversion: take CMYK and convert here.
      ci.out_color_space = JCS_CMYK;
      cmyk = true;
    } else if (ci.out_color_space != JCS_GRAYSCALE) {
      // Always three bytes per pixel: a file of no known colour space (2 or
      // more than 4 components) would otherwise be handed out with one byte
      // per component, more than a row holds; the library refuses that
      // conversion with its own error instead.
      ci.out_color_space = JCS_EXT_BGR;
    }
    if ((Options.PixelFormat == 1 && !cmyk) || ci.out_color_space == JCS_GRAYSCALE) {
      ci.quantize_colors = TRUE;
      ci.desired_number_of_colors = 236;
    }
    if (Options.Performance == 0) {
      ci.dct_method = JDCT_IFAST;
      ci.two_pass_quantize = FALSE;
      ci.dither_mode = JDITHER_ORDERED;
    }

    const int32_t bits = ci.quantize_colors ? 8 : 24;
    if (OnProgress) OnProgress(this, 0, 0, false, TRect{}, std::u16string());
    Guarded(d, StepStart);
    const int32_t w = static_cast<int32_t>(ci.output_width), h = static_cast<int32_t>(ci.output_height);
    if (!imaging::BitmapSizeAllowed(w, h, bits)) RaiseJpegError(JERR_IMAGE_TOO_BIG);
    // A top-down DIB whose rows the library fills in memory order: not
    // cleared first, as every pixel is written below.
    {
      auto* dib = new imaging::TFastDIB();
      dib->ZeroFill = false;
      try {
        dib->SetSize(w, -h, bits);
      } catch (...) {
        dib->Free();
        throw;
      }
      bitmap = imaging::CreateDibBitmapOf(dib, true);
    }
    std::vector<uint8_t*> rows(bitmap->ScanLines().begin(), bitmap->ScanLines().end());
    std::vector<uint8_t> cmykRow(cmyk ? size_t(w) * 4 : 0);
    TReadRows read{rows.data(), cmyk ? cmykRow.data() : nullptr};
    Guarded(d, StepReadRows, &read);
    // Rows the library did not deliver are blank, never old heap contents.
    for (int32_t y = static_cast<int32_t>(ci.output_scanline); y < h; ++y)
      std::memset(rows[static_cast<size_t>(y)], 0, static_cast<size_t>(w) * (bits / 8));
    if (ci.colormap && ci.actual_number_of_colors > 0) {
      const int32_t n = std::min(ci.actual_number_of_colors, 256);
      for (int32_t i = 0; i < n; ++i) {
        if (ci.out_color_components == 1) {
          Palette[i][0] = Palette[i][1] = Palette[i][2] = ci.colormap[0][i];
        } else {
          for (int c = 0; c < 3; ++c) Palette[i][c] = ci.colormap[c][i];
        }
      }
      PaletteCount = n;
      mapped = true;
    }
    Guarded(d, StepFinish);
  } catch (...) {
    foundation::FreeObj(bitmap);
    finish();
    throw;
  }
  finish();
  return bitmap;
}

// ---- the ICC marker scan ------------------------------------------------------------------

namespace {

// The scan reads through one of two sources with the same operations: a
// stream, or bytes already in memory (the loader's copy of the file), so
// finding a profile costs no further reads of the file.
class TStreamSource {
 public:
  explicit TStreamSource(foundation::TStream* s) : s_(s) {}
  int64_t Size() { return s_->GetSize(); }
  int64_t Position() { return s_->GetPosition(); }
  void SetPosition(int64_t p) { s_->SetPosition(p); }
  int32_t Read(uint8_t* b, int32_t n) { return s_->ReadBuf(b, n); }

 private:
  foundation::TStream* s_;
};

class TBytesSource {
 public:
  TBytesSource(const uint8_t* data, int64_t size, bool pastEndFails)
      : data_(data), size_(size), pastEndFails_(pastEndFails) {}
  int64_t Size() const { return size_; }
  int64_t Position() const { return pos_; }
  // As the stream the bytes came from: a position past the end is either
  // refused (which ends the scan) or kept, reads there giving nothing.
  void SetPosition(int64_t p) {
    if (p < 0 || (pastEndFails_ && p > size_)) throw std::out_of_range("position");
    pos_ = p;
  }
  int32_t Read(uint8_t* b, int32_t n) {
    const int64_t got = std::clamp<int64_t>(size_ - pos_, 0, n);
    if (got > 0) std::memcpy(b, data_ + pos_, static_cast<size_t>(got));
    pos_ += got;
    return static_cast<int32_t>(got);
  }

 private:
  const uint8_t* data_;
  int64_t size_;
  bool pastEndFails_;
  int64_t pos_ = 0;
};

template <class Source>
std::vector<uint8_t> ScanIcc(Source& src) {
  std::vector<uint8_t> result;
  try {
    if (src.Size() > 104857600) return result;
    src.SetPosition(0);
    foundation::TLog* log = foundation::GetLog();
    auto readByte = [&](uint8_t& b) { return src.Read(&b, 1) == 1; };
    bool first = true;
    for (;;) {
      uint8_t b = 0;
      if (!readByte(b)) {
        log->Add(u"Jpeg Marker expected");
        break;
      }
      if (b != 0xFF) {
        log->AddInt(u"Error: marker expected at ", static_cast<int32_t>(src.Position() - 1), u"");
        break;
      }
      uint8_t marker = 0;
      if (!readByte(marker)) break;
      bool cut = false;
      while (marker == 0xFF) {
        log->AddInt(u"Error: duplicate $FF encountered at ", static_cast<int32_t>(src.Position() - 1), u"");
        if (!readByte(marker)) {
          cut = true;
          break;
        }
      }
      if (cut) break;
      if (first && marker != 0xD8) break;
      first = false;
      int64_t length = 0;
      const bool hasLength = (marker >= 0xC0 && marker <= 0xCF) || (marker >= 0xDA && marker <= 0xDD) ||
                             (marker >= 0xE0 && marker <= 0xEF) || marker == 0xFE;
      int32_t field = -1;
      if (hasLength) {
        uint8_t len[2];
        if (src.Read(len, 2) == 2) {
          field = (len[0] << 8) | len[1];
          length = field - 2;
        }
      }
      const int64_t payloadStart = src.Position();
      if (marker == 0xE2) {
        // A length field below 16 leaves nothing after the identifier and
        // sequence bytes: no profile.
        if (field < 16) break;
        src.SetPosition(payloadStart + 14);
        result.assign(static_cast<size_t>(length - 14), 0);
        if (!result.empty()) src.Read(result.data(), static_cast<int32_t>(result.size()));
        break;
      }
      src.SetPosition(payloadStart + std::max<int64_t>(length, 0));
      if (marker == 0xDA || marker == 0) break;
    }
  } catch (...) {
  }
  return result;
}

}  // namespace

std::vector<uint8_t> ScanJpegIccProfile(foundation::TStream* Stream) {
  if (!Stream) return {};
  TStreamSource src(Stream);
  return ScanIcc(src);
}

std::vector<uint8_t> ScanJpegIccProfile(const uint8_t* Data, int64_t Size, bool PastEndFails) {
  TBytesSource src(Data, Size, PastEndFails);
  return ScanIcc(src);
}

}  // namespace decoders
