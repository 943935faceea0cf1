// Feeds arbitrary text to the path operations that take names from a show
// (relative paths, macros, extensions, drives) and checks what must hold for
// any input: results stay within the input, prefixes round-trip, and a file
// name's bytes survive the translation to UTF-16 and back.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "foundation/kvFileAPI.h"
#include "foundation/kvFileUtils.h"
#include "foundation/kvPathMacros.h"
#include "fuzz/FuzzSupport.h"
#include "platform/os/paths.h"

using namespace foundation;

namespace {

using fuzzing::Check;

bool StartsWith(const std::u16string& s, const std::u16string& p) { return s.compare(0, p.size(), p) == 0; }
bool EndsWith(const std::u16string& s, const std::u16string& p) {
  return s.size() >= p.size() && s.compare(s.size() - p.size(), p.size(), p) == 0;
}

}  // namespace

QEL_FUZZ_TARGET(data, size) {
  // The raw bytes as a file name from the disk.
  const std::string raw(reinterpret_cast<const char*>(data), size);
  Check(platform::os::fileNameToBytes(platform::os::fileNameFromBytes(raw)) == raw);

  // The bytes as UTF-16 units; a NUL unit splits a base from a path.
  std::u16string all;
  for (size_t i = 0; i + 1 < size; i += 2) all.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
  size_t cut = all.find(u'\0');
  const std::u16string a = all.substr(0, cut);
  const std::u16string b = cut == std::u16string::npos ? std::u16string() : all.substr(cut + 1);

  for (const std::u16string& p : {a, b}) {
    Check(EndsWith(IncludeTrailingBackslash(p), u"\\"));
    Check(StartsWith(p, ExcludeTrailingBackslash(p)));
    Check(StartsWith(p, ExtractFilePath(p, true)));
    Check(StartsWith(p, ExtractFilePath(p, false)));
    Check(EndsWith(ExcludeTrailingBackslash(p), ExtractFileName(p)));
    const int ext = FindExtensionPos(p);
    Check(ext >= 1 && ext <= static_cast<int>(p.size()) + 1);
    Check(EndsWith(p, ExtractFileExt(p)));
    const int drive = GetDrivePrefixLength(p);
    Check(drive >= 0 && drive <= static_cast<int>(p.size()));
    ChangeFileExt(p, u"bak");
    IsRootPath(p);
    if (!HasLongPathPrefix(p) && !(p.size() >= 4 && (p[0] | 0x20) == u'u' && (p[1] | 0x20) == u'n' &&
                                   (p[2] | 0x20) == u'c' && p[3] == u'\\'))
      Check(StripLongPathPrefix(AddLongPathPrefix(p)) == p);
    StripLongPathPrefix(p, static_cast<int>(p.size()));
    int position = 1;
    std::u16string token;
    while (NextPathMacro(p, position, token, true, true)) {
      Check(token.size() >= 2 && token.front() == u'%' && token.back() == u'%');
      Check(position >= 1 && position <= static_cast<int>(p.size()) + 1);
    }
    std::string posix;
    if (platform::os::toPosixPath(p, posix) == 0) platform::os::fromPosixPath(posix);
  }
  Check(JoinPath(a, b).size() <= a.size() + b.size() + 1);
  ExtractRelativePath(a, b);
  ResolveRelativePath(a, b, u'\\');
  ResolveRelativePath(a, b, u'/');
  return 0;
}
