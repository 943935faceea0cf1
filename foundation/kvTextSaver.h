// Buffered UTF-8 text output: the savers that INI trees and other text
// writers write themselves into, and the escaped single-line form in which a
// multi-line text travels inside one INI value.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/SysObj.h"
#include "foundation/kvStream.h"

namespace foundation {

class TTextSaver;

// Anything that can write itself as text into a saver.
class TTextWriter : public TRefObject {
 public:
  QEL_CLASSNAME(TTextWriter)
  virtual void WriteTo(TTextSaver* saver) = 0;
};

class TTextSaver : public TRefObject {
 public:
  QEL_CLASSNAME(TTextSaver)
  void Dispose() override;

  // Makes room in the buffer.
  virtual void FlushBuffer() = 0;
  // Ends the output.
  virtual void Finish();
  virtual void WriteObject(TTextWriter* writer);
  // EF BB BF.
  virtual void WriteBom();
  virtual void WriteIndent(int n);
  // Characters start .. start + count - 1 (1-based, clipped) as UTF-8, each
  // 16-bit unit encoded by itself.
  virtual void WriteText(std::u16string_view s, int32_t start, int32_t count);
  virtual void WriteLine(std::u16string_view s);
  // CR LF.
  virtual void NewLine();
  // Bytes from a 0-based start (negative taken as 0), count clipped.
  virtual void WriteBytes(const uint8_t* bytes, int32_t length, int32_t start, int32_t count);

  void WriteText(std::u16string_view s) { WriteText(s, 1, static_cast<int32_t>(s.size())); }
  void WriteBytes(std::string_view bytes) {
    WriteBytes(reinterpret_cast<const uint8_t*>(bytes.data()), static_cast<int32_t>(bytes.size()), 0,
               static_cast<int32_t>(bytes.size()));
  }
  int32_t Used() const { return used_; }

 protected:
  // Copies bytes into the buffer as they stand, flushing whenever it is full.
  void PutBytes(const uint8_t* bytes, size_t count);

  std::vector<uint8_t> buffer_;  // its size is the capacity
  int32_t used_ = 0;
};

// Writes the buffer to a stream (32 KB).
class TStreamTextSaver : public TTextSaver {
 public:
  QEL_CLASSNAME(TStreamTextSaver)
  TStreamTextSaver(TStream* stream, bool ownsStream);
  // A write the stream does not take whole raises EStreamWriteError.
  void FlushBuffer() override;
  void Finish() override;

 private:
  TStream* stream_ = nullptr;
  bool ownsStream_ = false;
};

// Collects the whole output (4 KB, then doubling).
class TBytesTextSaver : public TTextSaver {
 public:
  QEL_CLASSNAME(TBytesTextSaver)
  void FlushBuffer() override;
  // Cuts the buffer to the used length: that is the result.
  void Finish() override;
  std::vector<uint8_t> TakeResult() { return std::move(result_); }

 private:
  std::vector<uint8_t> result_;
};

// Collects the escaped single-line form: backslashes doubled, line ends
// written as backslash and "n".
class TValueTextSaver : public TBytesTextSaver {
 public:
  QEL_CLASSNAME(TValueTextSaver)
  void WriteText(std::u16string_view s, int32_t start, int32_t count) override;
  void NewLine() override;
  void WriteBytes(const uint8_t* bytes, int32_t length, int32_t start, int32_t count) override;
  using TTextSaver::WriteBytes;
  using TTextSaver::WriteText;
};

// The UTF-8 of a text with backslashes doubled, line ends (CR, LF, CR LF,
// LF CR) as backslash "n", and other characters below 32 dropped.
std::vector<uint8_t> EscapeIniValue(std::u16string_view s);
// Decodes bytes[start, start + count): "\\" gives a backslash, "\n" gives
// CR LF, other bytes are copied. The decoded length, or -1 for any other
// escape or a backslash at the end. Never writes beyond capacity bytes.
int32_t UnescapeIniValue(const uint8_t* bytes, int32_t start, int32_t count, uint8_t* out, int32_t capacity);
// The decoded bytes of a range (start below 0 taken as 0, count clipped);
// empty when the escape is invalid.
std::vector<uint8_t> UnescapeIniBytes(const std::vector<uint8_t>& bytes, int32_t start, int32_t count);
std::vector<uint8_t> UnescapeIniBytes(std::string_view bytes, int32_t start, int32_t count);

}  // namespace foundation
