// The whole open-and-read path of the show container, from bytes: the file is
// written to a temporary file, opened as a container, every section of its
// directory is looked up as an entry, and every entry is read whole and
// after seeks. What must hold for any input: no crash, no hang, no read
// outside a buffer, and every failure is an exception of the system's own
// (foundation::Exception), which the callers handle.
//
// Two input modes, chosen by the first byte:
//  - raw (bit 0 clear): the rest is the whole file;
//  - assembled (bit 0 set): the rest is split into entry bytes and a
//    directory text; the target deflates the text and adds a short or long
//    trailer itself, so the fuzzer reaches the directory and entry logic
//    without having to produce valid deflate data and offsets first.
#include <unistd.h>
#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "container/kvQelUnpack.h"
#include "foundation/kpExceptions.h"
#include "fuzz/FuzzSupport.h"
#include "platform/os/paths.h"

namespace {

std::string RawDeflate(const std::string& data) {
  z_stream s{};
  if (deflateInit2(&s, Z_BEST_SPEED, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) std::abort();
  std::string out(deflateBound(&s, data.size()), '\0');
  s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  s.avail_in = static_cast<uInt>(data.size());
  s.next_out = reinterpret_cast<Bytef*>(out.data());
  s.avail_out = static_cast<uInt>(out.size());
  if (deflate(&s, Z_FINISH) != Z_STREAM_END) std::abort();
  out.resize(s.total_out);
  deflateEnd(&s);
  return out;
}

void AppendInt64(std::string& out, int64_t v) {
  for (int i = 0; i < 8; ++i) out += static_cast<char>((static_cast<uint64_t>(v) >> (8 * i)) & 0xFF);
}

// flags: bit 1 long trailer, bit 2 moves the file by 16 bytes, bits 3-4 pick
// a DirStart perturbation. Then two bytes: the length of the entry area.
std::string Assemble(const uint8_t* data, size_t size) {
  if (size < 3) return std::string(reinterpret_cast<const char*>(data), size);
  const uint8_t flags = data[0];
  size_t split = static_cast<size_t>(data[1]) | (static_cast<size_t>(data[2]) << 8);
  data += 3;
  size -= 3;
  if (split > size) split = size;
  std::string file(16, '\xCC');  // the "executable"
  file.append(reinterpret_cast<const char*>(data), split);
  int64_t dirStart = static_cast<int64_t>(file.size());
  file += RawDeflate(std::string(reinterpret_cast<const char*>(data + split), size - split));
  switch ((flags >> 3) & 3) {
    case 1: dirStart += 1; break;
    case 2: dirStart = -dirStart; break;
    case 3: dirStart += static_cast<int64_t>(file.size()); break;
    default: break;
  }
  AppendInt64(file, dirStart);
  file += ".dne";
  if (flags & 2) AppendInt64(file, static_cast<int64_t>(file.size()));
  if (flags & 4) file.insert(0, 16, 'M');
  return file;
}

void RemoveTempFile();

// One private file per run, removed when the run ends (also at the end of a
// time-bounded run; a crash leaves it, next to the crashing input).
// The name is never destroyed: the exit handler still reads it.
const std::string& TempFile() {
  static const std::string* path = [] {
    auto* p = new std::string((std::filesystem::temp_directory_path() / "qel_container_fuzz_XXXXXX").string());
    const int fd = mkstemp(p->data());
    if (fd < 0) std::abort();
    close(fd);
    std::atexit(RemoveTempFile);
    return p;
  }();
  return *path;
}

void RemoveTempFile() { std::remove(TempFile().c_str()); }

void ReadEntry(container::TQelUnpack* unpack, std::u16string_view name) {
  int64_t position = 0, size = 0;
  int32_t method = 0;
  if (!unpack->GetEntryInfo(name, position, size, method)) return;
  foundation::TStream* s = nullptr;
  try {
    s = container::OpenEntryStream(unpack->OpenFileHandle(), position, size, method, true, unpack->Key());
    if (!s) return;
    std::vector<uint8_t> buf(4096);
    while (s->Read(buf, 0, static_cast<int32_t>(buf.size())) > 0) {
    }
    const int64_t streamSize = s->GetSize();
    if (streamSize > 2) {
      s->SetPosition(streamSize / 2);
      s->Read(buf, 0, 100);
      s->SetPosition(1);
      s->Read(buf, 0, 7);
    }
  } catch (const foundation::Exception&) {
  }
  foundation::FreeObj(s);
}

}  // namespace

QEL_FUZZ_TARGET(data, size) {
  if (size == 0) return 0;
  const std::string file =
      (data[0] & 1) ? Assemble(data + 1, size - 1) : std::string(reinterpret_cast<const char*>(data + 1), size - 1);
  {
    std::FILE* f = std::fopen(TempFile().c_str(), "wb");
    if (!f) std::abort();
    std::fwrite(file.data(), 1, file.size(), f);
    std::fclose(f);
  }
  container::TQelUnpack* unpack = nullptr;
  try {
    unpack = new container::TQelUnpack(platform::os::fromPosixPath(TempFile()));
  } catch (const foundation::Exception&) {
    return 0;  // a directory that does not inflate
  }
  if (unpack->IsOpen()) {
    const foundation::TSectionList* sections = unpack->Struc()->Ini()->GetSectionList();
    const int32_t count = sections ? sections->GetCount() : 0;
    for (int32_t i = 0; i < count && i < 200; ++i) {
      const foundation::TIniSection* section = sections->GetSection(i);
      if (section) ReadEntry(unpack, foundation::TIniItem::GetName(section));
    }
  }
  unpack->Free();
  return 0;
}
