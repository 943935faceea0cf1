#include "foundation/kvTextSaver.h"

#include <algorithm>
#include <cstring>

#include "foundation/kpExceptions.h"

namespace foundation {

namespace {
constexpr int32_t kStreamBuffer = 32768;
constexpr int32_t kFirstBytesBuffer = 4096;

// UTF-8 length of one 16-bit unit, encoded by itself.
inline int UnitLength(char16_t u) { return u < 0x80 ? 1 : (u < 0x800 ? 2 : 3); }

inline uint8_t* EncodeUnit(uint8_t* p, char16_t u) {
  if (u < 0x80) {
    *p++ = static_cast<uint8_t>(u);
  } else if (u < 0x800) {
    *p++ = static_cast<uint8_t>(0xC0 | (u >> 6));
    *p++ = static_cast<uint8_t>(0x80 | (u & 0x3F));
  } else {
    *p++ = static_cast<uint8_t>(0xE0 | (u >> 12));
    *p++ = static_cast<uint8_t>(0x80 | ((u >> 6) & 0x3F));
    *p++ = static_cast<uint8_t>(0x80 | (u & 0x3F));
  }
  return p;
}

// Clips a 1-based range of a UTF-16 text; answers the 0-based first unit.
bool ClipText(size_t length, int32_t start, int32_t count, size_t& first, size_t& n) {
  if (start < 1) start = 1;
  first = static_cast<size_t>(start) - 1;
  if (count <= 0 || first >= length) return false;
  n = std::min<size_t>(static_cast<size_t>(count), length - first);
  return true;
}
}  // namespace

// ---------------------------------------------------------------------------
// TTextSaver

void TTextSaver::Dispose() {
  Finish();
  TRefObject::Dispose();
}

void TTextSaver::Finish() {}

void TTextSaver::WriteObject(TTextWriter* writer) {
  if (writer) writer->WriteTo(this);
}

void TTextSaver::WriteBom() {
  static const uint8_t kBom[3] = {0xEF, 0xBB, 0xBF};
  PutBytes(kBom, 3);
}

void TTextSaver::WriteIndent(int n) {
  static const std::string kSpaces(96, ' ');
  while (n > 0) {
    const int k = std::min(n, 96);
    PutBytes(reinterpret_cast<const uint8_t*>(kSpaces.data()), static_cast<size_t>(k));
    n -= k;
  }
}

void TTextSaver::WriteText(std::u16string_view s, int32_t start, int32_t count) {
  size_t i, n;
  if (!ClipText(s.size(), start, count, i, n)) return;
  const size_t end = i + n;
  while (i < end) {
    if (static_cast<size_t>(used_) >= buffer_.size()) FlushBuffer();
    // Encode as many whole units as fit into the free part of the buffer.
    uint8_t* p = buffer_.data() + used_;
    uint8_t* const limit = buffer_.data() + buffer_.size();
    const size_t before = i;
    while (i < end && p + UnitLength(s[i]) <= limit) p = EncodeUnit(p, s[i++]);
    used_ = static_cast<int32_t>(p - buffer_.data());
    QEL_ASSERT(static_cast<size_t>(used_) <= buffer_.size(), "TTextSaver.WriteText: buffer overrun");
    if (i == before) FlushBuffer();
  }
}

void TTextSaver::WriteLine(std::u16string_view s) {
  WriteText(s);
  NewLine();
}

void TTextSaver::NewLine() {
  static const uint8_t kCrLf[2] = {13, 10};
  if (static_cast<size_t>(used_) + 2 <= buffer_.size()) {
    buffer_[static_cast<size_t>(used_)] = 13;
    buffer_[static_cast<size_t>(used_) + 1] = 10;
    used_ += 2;
  } else {
    WriteBytes(kCrLf, 2, 0, 2);
  }
}

void TTextSaver::WriteBytes(const uint8_t* bytes, int32_t length, int32_t start, int32_t count) {
  if (start < 0) start = 0;
  if (!bytes || start >= length || count <= 0) return;
  count = std::min(count, length - start);
  PutBytes(bytes + start, static_cast<size_t>(count));
}

void TTextSaver::PutBytes(const uint8_t* bytes, size_t count) {
  while (count > 0) {
    if (static_cast<size_t>(used_) >= buffer_.size()) FlushBuffer();
    const size_t room = buffer_.size() - static_cast<size_t>(used_);
    if (room == 0) continue;
    const size_t k = std::min(room, count);
    std::memcpy(buffer_.data() + used_, bytes, k);
    used_ += static_cast<int32_t>(k);
    bytes += k;
    count -= k;
  }
}

// ---------------------------------------------------------------------------
// TStreamTextSaver

TStreamTextSaver::TStreamTextSaver(TStream* stream, bool ownsStream)
    : stream_(stream), ownsStream_(stream != nullptr && ownsStream) {
  buffer_.resize(kStreamBuffer);
}

void TStreamTextSaver::FlushBuffer() {
  const int32_t n = used_;
  used_ = 0;  // a failed flush is not written again
  if (n <= 0 || !stream_) return;
  // A short write (a full disk) is an error, never a silently cut text.
  if (stream_->Write(std::span<const uint8_t>(buffer_.data(), static_cast<size_t>(n)), 0, n) != n)
    throw EStreamWriteError();
}

void TStreamTextSaver::Finish() {
  FlushBuffer();
  TStream* s = stream_;
  stream_ = nullptr;
  if (s && ownsStream_) s->Free();
}

// ---------------------------------------------------------------------------
// TBytesTextSaver and TValueTextSaver

void TBytesTextSaver::FlushBuffer() {
  // Grows instead: the whole output stays in the buffer. Its used count is
  // 32-bit, so an output that cannot be counted is refused, not wrapped.
  constexpr size_t kLimit = 0x7FFFFFFF;
  if (buffer_.size() >= kLimit) throw EStreamWriteError();
  buffer_.resize(buffer_.empty() ? kFirstBytesBuffer : std::min(buffer_.size() * 2, kLimit));
}

void TBytesTextSaver::Finish() {
  if (buffer_.empty() && used_ == 0) return;
  buffer_.resize(static_cast<size_t>(used_));
  result_ = std::move(buffer_);
  buffer_.clear();
  used_ = 0;
}

void TValueTextSaver::WriteText(std::u16string_view s, int32_t start, int32_t count) {
  size_t i, n;
  if (!ClipText(s.size(), start, count, i, n)) return;
  const size_t end = i + n;
  while (i < end) {
    const size_t slash = s.substr(0, end).find(u'\\', i);
    const size_t runEnd = slash == std::u16string_view::npos ? end : slash;
    if (runEnd > i)
      TTextSaver::WriteText(s, static_cast<int32_t>(i + 1), static_cast<int32_t>(runEnd - i));
    if (runEnd == end) break;
    PutBytes(reinterpret_cast<const uint8_t*>("\\\\"), 2);
    i = runEnd + 1;
  }
}

void TValueTextSaver::NewLine() { PutBytes(reinterpret_cast<const uint8_t*>("\\n"), 2); }

void TValueTextSaver::WriteBytes(const uint8_t* bytes, int32_t length, int32_t start, int32_t count) {
  if (start < 0) start = 0;
  if (!bytes || start >= length || count <= 0) return;
  count = std::min(count, length - start);
  const uint8_t* p = bytes + start;
  const uint8_t* const end = p + count;
  while (p < end) {
    const uint8_t* slash = static_cast<const uint8_t*>(std::memchr(p, '\\', static_cast<size_t>(end - p)));
    const uint8_t* runEnd = slash ? slash : end;
    PutBytes(p, static_cast<size_t>(runEnd - p));
    if (!slash) break;
    PutBytes(reinterpret_cast<const uint8_t*>("\\\\"), 2);
    p = slash + 1;
  }
}

// ---------------------------------------------------------------------------
// The escaped single-line form

std::vector<uint8_t> EscapeIniValue(std::u16string_view s) {
  TRef<TValueTextSaver> saver = MakeRef<TValueTextSaver>();
  size_t i = 0;
  while (i < s.size()) {
    size_t run = i;
    while (run < s.size() && s[run] >= 32 && s[run] != u'\\') ++run;
    if (run > i) saver->WriteText(s, static_cast<int32_t>(i + 1), static_cast<int32_t>(run - i));
    if (run == s.size()) break;
    const char16_t c = s[run];
    i = run + 1;
    if (c == 13 || c == 10) {
      saver->NewLine();
      if (i < s.size() && (s[i] == 13 || s[i] == 10) && s[i] != c) ++i;
    } else if (c == u'\\') {
      saver->WriteText(u"\\");  // the saver doubles it
    }
    // other control characters are dropped
  }
  saver->Finish();
  return saver->TakeResult();
}

int32_t UnescapeIniValue(const uint8_t* bytes, int32_t start, int32_t count, uint8_t* out, int32_t capacity) {
  int32_t n = 0;
  auto put = [&](uint8_t b) {
    if (n < capacity) out[n] = b;
    ++n;
  };
  const int32_t end = start + count;
  for (int32_t i = start; i < end; ++i) {
    const uint8_t b = bytes[i];
    if (b != '\\') {
      put(b);
      continue;
    }
    if (i + 1 >= end) return -1;
    const uint8_t next = bytes[++i];
    if (next == '\\') {
      put('\\');
    } else if (next == 'n') {
      put(13);
      put(10);
    } else {
      return -1;
    }
  }
  return n;
}

std::vector<uint8_t> UnescapeIniBytes(std::string_view bytes, int32_t start, int32_t count) {
  const int32_t length = static_cast<int32_t>(bytes.size());
  if (start < 0) start = 0;
  if (start >= length || count <= 0) return {};
  count = std::min(count, length - start);
  std::vector<uint8_t> out(static_cast<size_t>(count));
  const int32_t n = UnescapeIniValue(reinterpret_cast<const uint8_t*>(bytes.data()), start, count, out.data(),
                                     count);
  if (n < 0) return {};
  out.resize(static_cast<size_t>(n));
  return out;
}

std::vector<uint8_t> UnescapeIniBytes(const std::vector<uint8_t>& bytes, int32_t start, int32_t count) {
  return UnescapeIniBytes(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), start,
                          count);
}

}  // namespace foundation
