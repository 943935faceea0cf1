// Writing INI trees back as text: to a stream, a file or the escaped
// single-line form, and decoding that form back into text.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "foundation/kvByteString.h"
#include "foundation/kvIni.h"
#include "foundation/kvStream.h"

namespace foundation {

// False without a stream. An error while the document is written gives
// false; the error of the final flush reaches the caller.
bool SaveIniToStream(TIniFile* ini, TStream* stream, bool withBom);
// Through the stream layer's WriteFile hook, with a byte-order mark; older,
// longer content is cut off.
bool SaveIniToFile(TIniFile* ini, const std::u16string& fileName);
// The whole document as one line: line ends as backslash "n", backslashes
// doubled, no byte-order mark.
std::vector<uint8_t> SaveIniToBytes(TIniFile* ini);

// The whole value decoded and converted to text; empty when invalid.
std::u16string UnescapeIniText(const TByteString& value);

}  // namespace foundation
