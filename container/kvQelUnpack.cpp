#include "container/kvQelUnpack.h"

#include <cstring>
#include <optional>

#include "container/ContainerKey.h"
#include "container/kvPartialStream.h"
#include "container/kvZLib.h"
#include "foundation/kpLog.h"
#include "foundation/kvIniParser.h"
#include "platform/os/api.h"

namespace container {

using foundation::TFileStream;
using foundation::TIniFile;
using foundation::TIniItem;
using foundation::TIniList;
using foundation::TIniSection;
using foundation::TMemoryStream;
using foundation::TStream;

namespace {

constexpr char kTrailerMark[4] = {'.', 'd', 'n', 'e'};
constexpr int64_t kShortTrailer = 12;  // int64 directory start, ".dne"
constexpr int64_t kLongExtra = 8;      // int64 X after the short trailer

const char16_t kNotFound[] = u"Slideshow File not Found";
const char16_t kModified[] = u"Slide-show File Modified";
const char16_t kDamaged[] = u"Slide-show File Damaged";

// Reads exactly count bytes at position; false when the file gives fewer.
bool ReadAt(TStream* s, int64_t position, void* buffer, int32_t count) {
  s->SetPosition(position);
  return s->ReadBuf(buffer, count) == count;
}

bool ReadInt64At(TStream* s, int64_t position, int64_t& value) {
  uint8_t b[8];
  if (!ReadAt(s, position, b, 8)) return false;
  uint64_t u = 0;
  for (int i = 7; i >= 0; --i) u = (u << 8) | b[i];
  value = static_cast<int64_t>(u);
  return true;
}

// A decimal 64-bit number: leading blanks, one sign, digits to the end.
std::optional<int64_t> ParseInt64(std::u16string_view s) {
  size_t i = 0;
  while (i < s.size() && s[i] == u' ') ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == u'-' || s[i] == u'+')) negative = s[i++] == u'-';
  if (i == s.size()) return std::nullopt;
  uint64_t v = 0;
  const uint64_t limit = negative ? uint64_t{1} << 63 : (uint64_t{1} << 63) - 1;
  for (; i < s.size(); ++i) {
    if (s[i] < u'0' || s[i] > u'9') return std::nullopt;
    const uint64_t d = s[i] - u'0';
    if (v > (limit - d) / 10) return std::nullopt;
    v = v * 10 + d;
  }
  return negative ? static_cast<int64_t>(0 - v) : static_cast<int64_t>(v);
}

std::u16string DecimalText(int64_t v) {
  const std::string s = std::to_string(v);
  return std::u16string(s.begin(), s.end());
}

TFileStream* OpenReadOnly(const std::u16string& fileName) {
  try {
    return TFileStream::CreateFromFile(fileName, platform::os::GENERIC_READ,
                                       static_cast<uint8_t>(platform::os::FILE_SHARE_READ),
                                       static_cast<uint8_t>(platform::os::OPEN_EXISTING));
  } catch (const foundation::Exception&) {
    return nullptr;
  }
}

}  // namespace

// ---- TUnpackStruc ---------------------------------------------------------

TUnpackStruc::TUnpackStruc() : FIni(new TIniFile()) {}

void TUnpackStruc::Dispose() {
  foundation::FreeAndNil(FIni);
  TRefObject::Dispose();
}

TIniSection* TUnpackStruc::FindSection(std::u16string_view name) const {
  return TIniFile::FindSection(FIni, name);
}

// ---- entry names and streams ----------------------------------------------

std::u16string EscapeEntryName(std::u16string_view name) {
  static const char16_t hex[] = u"0123456789ABCDEF";
  std::u16string out;
  out.reserve(name.size());
  for (char16_t c : name) {
    if (c == u'[') {
      out += u'<';
    } else if (c == u']') {
      out += u'>';
    } else if (c < 32) {
      out += u'#';
      out += hex[c >> 4];
      out += hex[c & 15];
    } else {
      out += c;
    }
  }
  return out;
}

TStream* OpenEntryStream(TStream* base, int64_t position, int64_t size, int32_t method, bool ownsBase,
                         std::string_view key) {
  if (!base) return nullptr;
  TPartialStream* window = nullptr;
  try {
    window = new TPartialStream(base, position, size, ownsBase);
  } catch (...) {
    // The caller handed the base over: it goes with the failed open.
    if (ownsBase) base->Free();
    throw;
  }
  switch (method) {
    case pmDeflated: {
      TMemoryStream* memory = new TMemoryStream();
      TInflateStream* inflate = nullptr;
      try {
        window->SetPosition(0);
        inflate = new TInflateStream(window, -1);
        memory->LoadFromStream(inflate);
      } catch (...) {
        foundation::FreeObj(inflate);
        window->Free();
        memory->Free();
        throw;
      }
      // Data cut short is accepted as far as it goes (stored shows may hold
      // such entries), but it is worth a line in the log.
      if (inflate->CutShort())
        foundation::GetLog()->Add(u"Container: deflate data at " + DecimalText(position) +
                                  u" cut short after " + DecimalText(memory->GetSize()) + u" bytes");
      inflate->Free();
      window->Free();
      return memory;
    }
    case pmEnciphered:
      return new TCryptStream(window, true, std::string(key));
    default:
      return window;
  }
}

// ---- TQelUnpack -----------------------------------------------------------

TQelUnpack::TQelUnpack(std::u16string fileName) : FKey(ContainerKey, ContainerKeyLength) {
  FStream = OpenReadOnly(fileName);
  if (!FStream) {
    FErrorText = kNotFound;
    return;
  }
  FFileName = std::move(fileName);
  try {
    if (!OpenContainer()) Close();
  } catch (...) {
    // The constructor does not complete, so Dispose will not run.
    Close();
    throw;
  }
}

void TQelUnpack::Dispose() {
  Close();
  TRefObject::Dispose();
}

void TQelUnpack::Close() {
  foundation::FreeAndNil(FStruc);
  foundation::FreeAndNil(FStream);
}

bool TQelUnpack::FindTrailer() {
  // A file that cannot even be read (a folder, say) is no container.
  try {
    return FindTrailerIn();
  } catch (const foundation::EStreamError&) {
    return false;
  }
}

bool TQelUnpack::FindTrailerIn() {
  // Every offset below comes from the file; each is checked against the
  // file's size before it is used.
  FFileSize = FStream->GetSize();
  FEnd = FFileSize;
  FShift = 0;
  char mark[4];
  if (FFileSize < kShortTrailer) return false;
  if (!ReadAt(FStream, FFileSize - 4, mark, 4)) return false;
  if (std::memcmp(mark, kTrailerMark, 4) == 0) return true;  // short form

  if (FFileSize < kShortTrailer + kLongExtra) return false;
  if (!ReadAt(FStream, FFileSize - kShortTrailer, mark, 4)) return false;
  if (std::memcmp(mark, kTrailerMark, 4) != 0) return false;
  FEnd = FFileSize - kLongExtra;
  int64_t x = 0;
  if (!ReadInt64At(FStream, FEnd, x)) return false;
  if (__builtin_sub_overflow(FEnd, x, &FShift)) {
    FShift = 0;
    FErrorText = kDamaged;
    return false;
  }
  return true;
}

bool TQelUnpack::OpenContainer() {
  if (!FindTrailer()) return false;

  int64_t written = 0;
  int64_t dirStart = 0;
  if (!ReadInt64At(FStream, FEnd - kShortTrailer, written) || __builtin_add_overflow(written, FShift, &dirStart) ||
      dirStart < 0 || dirStart > FEnd - kShortTrailer) {
    FErrorText = kDamaged;
    return false;
  }
  const int64_t dirSize = FEnd - kShortTrailer - dirStart;

  TUnpackStruc* struc = new TUnpackStruc();
  FStruc = struc;
  TStream* block = OpenBlockStream(dirStart, dirSize, pmDeflated);
  bool loaded = false;
  try {
    block->SetPosition(0);
    loaded = foundation::LoadIniFromStream(struc->Ini(), block);
  } catch (...) {
    block->Free();
    throw;
  }
  block->Free();
  if (!loaded) {
    // The directory text could not be read at all (beyond the INI engine's
    // size limit): no entry could be found, so the container is refused.
    FErrorText = kDamaged;
    return false;
  }

  const TIniSection* protection = struc->FindSection(u"$protection$");
  const std::u16string strucPos = TIniList::ReadString(protection, u"strucpos", u"");
  if (!strucPos.empty() && strucPos != DecimalText(dirStart)) {
    if (!TIniItem::GetBool(TIniList::FindKey(protection, u"allowmodify"), false)) {
      FErrorText = kModified;
      return false;
    }
    // A negative start is no directory start either; refusing it also keeps
    // the difference below from overflowing.
    const std::optional<int64_t> s = ParseInt64(strucPos);
    if (!s || *s > dirStart || *s < 0) {
      FErrorText = kDamaged;
      return false;
    }
    FDelta = dirStart - *s;
  }
  FVersion = TIniList::ReadString(protection, u"qelversion", u"");
  return true;
}

bool TQelUnpack::GetEntryInfo(std::u16string_view name, int64_t& position, int64_t& size, int32_t& method) const {
  if (!IsOpen() || !FStruc) return false;
  const TIniSection* section = FStruc->FindSection(EscapeEntryName(name));
  if (!section) return false;
  const int64_t ps = TIniItem::GetInt64(TIniList::FindKey(section, u"_ps"), -1);
  const int64_t sz = TIniItem::GetInt64(TIniList::FindKey(section, u"_sz"), -1);
  const int32_t pm = TIniItem::GetInteger(TIniList::FindKey(section, u"_pm"), 0);
  if (ps == -1 || sz == -1) return false;
  // An entry that does not lie inside the file is as good as missing: its
  // window could not be opened.
  int64_t pos = 0;
  int64_t end = 0;
  if (ps < 0 || sz < 0 || __builtin_add_overflow(ps, FDelta, &pos) || pos < 0 ||
      __builtin_add_overflow(pos, sz, &end) || end > FFileSize)
    return false;
  position = pos;
  size = sz;
  method = pm;
  return true;
}

TFileStream* TQelUnpack::OpenFileHandle() const {
  if (!IsOpen()) return nullptr;
  return OpenReadOnly(FFileName);
}

TStream* TQelUnpack::OpenBlockStream(int64_t position, int64_t size, int32_t method) {
  return OpenEntryStream(FStream, position, size, method, false, FKey);
}

bool ReadContainerVersion(const std::u16string& fileName, std::u16string& version) {
  try {
    auto unpack = foundation::TRef<TQelUnpack>::Adopt(new TQelUnpack(fileName));
    if (!unpack->IsOpen()) return false;
    version = unpack->Version();
    return true;
  } catch (...) {
    return false;
  }
}

}  // namespace container
