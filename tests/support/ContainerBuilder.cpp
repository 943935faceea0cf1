#include "tests/support/ContainerBuilder.h"

#include <zlib.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "container/ContainerKey.h"

namespace testsupport {

std::string RawDeflate(std::string_view data, int level) {
  z_stream s{};
  if (deflateInit2(&s, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
    throw std::runtime_error("deflateInit2 failed");
  std::string out(deflateBound(&s, static_cast<uLong>(data.size())) + 16, '\0');
  s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  s.avail_in = static_cast<uInt>(data.size());
  s.next_out = reinterpret_cast<Bytef*>(out.data());
  s.avail_out = static_cast<uInt>(out.size());
  int rc = deflate(&s, Z_FINISH);
  deflateEnd(&s);
  if (rc != Z_STREAM_END) throw std::runtime_error("deflate did not finish");
  out.resize(s.total_out);
  return out;
}

std::string RawInflate(std::string_view deflated) {
  z_stream s{};
  if (inflateInit2(&s, -15) != Z_OK) throw std::runtime_error("inflateInit2 failed");
  s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(deflated.data()));
  s.avail_in = static_cast<uInt>(deflated.size());
  std::string out;
  char buf[65536];
  int rc;
  do {
    s.next_out = reinterpret_cast<Bytef*>(buf);
    s.avail_out = sizeof buf;
    rc = inflate(&s, Z_NO_FLUSH);
    if (rc < 0 && rc != Z_BUF_ERROR) {
      inflateEnd(&s);
      throw std::runtime_error("raw inflate failed");
    }
    out.append(buf, sizeof buf - s.avail_out);
    if (rc == Z_BUF_ERROR) break;  // input exhausted before the end
  } while (rc != Z_STREAM_END);
  inflateEnd(&s);
  return out;
}

std::string ContainerCipher(std::string_view data, int64_t startPos) {
  std::string out(data);
  const int64_t len = container::ContainerKeyLength;
  int64_t k = ((startPos % len) + len) % len;
  for (char& c : out) {
    c = static_cast<char>(static_cast<unsigned char>(c) ^
                          static_cast<unsigned char>(container::ContainerKey[k]));
    k = (k + 1) % len;
  }
  return out;
}

std::string EscapeEntryNameUtf8(std::string_view name) {
  static const char hex[] = "0123456789ABCDEF";
  std::string out;
  for (char ch : name) {
    unsigned char c = static_cast<unsigned char>(ch);
    if (c == '[') {
      out += '<';
    } else if (c == ']') {
      out += '>';
    } else if (c < 32) {
      out += '#';
      out += hex[c >> 4];
      out += hex[c & 15];
    } else {
      out += ch;
    }
  }
  return out;
}

std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void WriteWholeFile(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) throw std::runtime_error("cannot write " + path);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("short write to " + path);
}

namespace {

ContainerEntry EntryOf(std::string name, std::string data, int method) {
  ContainerEntry e;
  e.name = std::move(name);
  e.data = std::move(data);
  e.method = method;
  return e;
}

}  // namespace

ContainerBuilder& ContainerBuilder::Add(ContainerEntry entry) {
  entries_.push_back(std::move(entry));
  return *this;
}

ContainerBuilder& ContainerBuilder::AddStored(std::string name, std::string data) {
  return Add(EntryOf(std::move(name), std::move(data), 0));
}

ContainerBuilder& ContainerBuilder::AddDeflated(std::string name, std::string data) {
  return Add(EntryOf(std::move(name), std::move(data), 1));
}

ContainerBuilder& ContainerBuilder::AddEnciphered(std::string name, std::string data) {
  return Add(EntryOf(std::move(name), std::move(data), 2));
}

ContainerBuilder& ContainerBuilder::SetStrucPosText(std::string text) {
  strucPosText_ = std::move(text);
  omitStrucPos_ = false;
  return *this;
}

ContainerBuilder& ContainerBuilder::OmitStrucPos() {
  omitStrucPos_ = true;
  return *this;
}

ContainerBuilder& ContainerBuilder::SetAllowModify(std::optional<std::string> value) {
  allowModify_ = std::move(value);
  return *this;
}

ContainerBuilder& ContainerBuilder::SetVersion(std::optional<std::string> version) {
  version_ = std::move(version);
  return *this;
}

ContainerBuilder& ContainerBuilder::OmitProtection() {
  omitProtection_ = true;
  return *this;
}

ContainerBuilder& ContainerBuilder::SetTrailer(TrailerForm form) {
  trailer_ = form;
  return *this;
}

ContainerBuilder& ContainerBuilder::AddDirectoryLines(std::string lines) {
  extraLines_ += lines;
  return *this;
}

namespace {

void AppendInt64(std::string& out, int64_t v) {
  uint64_t u = static_cast<uint64_t>(v);
  for (int i = 0; i < 8; ++i) out += static_cast<char>((u >> (8 * i)) & 0xFF);
}

std::string Pack(const ContainerEntry& e) {
  switch (e.method) {
    case 1: return RawDeflate(e.data);
    case 2: return ContainerCipher(e.data, 0);
    default: return e.data;
  }
}

}  // namespace

BuiltContainer ContainerBuilder::BuildAt(int64_t prefixSize) const {
  BuiltContainer r;
  r.prefixSize = prefixSize;
  // Offsets are absolute: the container's bytes follow prefixSize bytes.
  auto here = [&] { return prefixSize + static_cast<int64_t>(r.bytes.size()); };

  std::string dir = "\xEF\xBB\xBF";
  for (const ContainerEntry& e : entries_) {
    const int64_t pos = here();
    const std::string stored = Pack(e);
    r.bytes += stored;
    r.positions[e.name] = pos;
    r.storedSizes[e.name] = static_cast<int64_t>(stored.size());

    dir += "[" + EscapeEntryNameUtf8(e.name) + "]\r\n";
    if (!e.omitPs) dir += "_ps=" + e.psText.value_or(std::to_string(pos)) + "\r\n";
    if (!e.omitSz) dir += "_sz=" + e.szText.value_or(std::to_string(stored.size())) + "\r\n";
    if (e.writeMethod) dir += "_pm=" + std::to_string(e.method) + "\r\n";
  }
  r.dirStart = here();
  dir += extraLines_;
  if (!omitProtection_) {
    dir += "[$protection$]\r\n";
    if (!omitStrucPos_)
      dir += "strucpos=" + strucPosText_.value_or(std::to_string(r.dirStart)) + "\r\n";
    if (allowModify_) dir += "allowmodify=" + *allowModify_ + "\r\n";
    if (version_) dir += "qelversion=" + *version_ + "\r\n";
  }
  r.directoryText = dir;

  const std::string block = RawDeflate(dir);
  r.bytes += block;
  r.dirSize = static_cast<int64_t>(block.size());
  r.trailerStart = here();
  if (trailer_ != TrailerForm::None) {
    AppendInt64(r.bytes, r.dirStart);
    r.bytes += ".dne";
    if (trailer_ == TrailerForm::Long) AppendInt64(r.bytes, here());
  }
  return r;
}

BuiltContainer ContainerBuilder::Build(std::string_view prefix) const {
  BuiltContainer r = BuildAt(static_cast<int64_t>(prefix.size()));
  r.bytes.insert(0, prefix);
  return r;
}

BuiltContainer ContainerBuilder::WriteFile(const std::string& path, std::string_view prefix) const {
  BuiltContainer r = Build(prefix);
  WriteWholeFile(path, r.bytes);
  return r;
}

BuiltContainer ContainerBuilder::AppendToFile(const std::string& path) const {
  const int64_t size = static_cast<int64_t>(std::filesystem::file_size(path));
  BuiltContainer r = BuildAt(size);
  std::ofstream out(path, std::ios::binary | std::ios::app);
  out.write(r.bytes.data(), static_cast<std::streamsize>(r.bytes.size()));
  if (!out) throw std::runtime_error("cannot append to " + path);
  return r;
}

}  // namespace testsupport
