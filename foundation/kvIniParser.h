// The INI dialect as a text format: encoding detection, line splitting, line
// classification and the building of the tree with sections and nested
// object blocks.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "foundation/kvByteString.h"
#include "foundation/kvIni.h"
#include "foundation/kvStream.h"

namespace foundation {

enum class TIniLineKind { Raw, Key, Section, Object, End };
enum class TIniLineEnd { None, CrLf, LfCr, Cr, Lf };

// The state of the classifier over one text.
struct TIniParserParams {
  int32_t NameStart = 0;
  int32_t NameLength = 0;
  int32_t ValueStart = 0;
  int32_t ValueLength = 0;
  TByteString Text;
  int32_t Position = 0;
  int32_t End = 0;
  int32_t LineStart = 0;
  int32_t Indentation = 0;
  TIniLineEnd LineEnd = TIniLineEnd::None;

  TIniParserParams() = default;
  explicit TIniParserParams(const TByteString& text);
};

// Classifies the line at the position, fills the name and value ranges and
// moves the position past the line end.
TIniLineKind ClassifyIniLine(TIniParserParams& params);

// Builds nodes from the lines until the end of the text or a line that
// closes the current level. With a root, section headers open or reopen its
// sections. Nested objects are kept on an explicit stack, so the depth of a
// text never reaches the machine stack.
void ParseIniLines(TIniList* list, TIniParserParams& params, TIniFile* root);

enum class TTextWithBomResult { Failure, Ansi, Utf16, Utf8 };

// The whole stream (which must stand at 0) as UTF-8 text.
TTextWithBomResult ReadTextWithBom(TStream* stream, uint32_t codePage, TByteString& text);

bool LoadIniFromStream(TIniFile* ini, TStream* stream);
// Through the stream layer's ReadFile hook ("RES:" names read resources).
bool LoadIniFromFile(TIniFile* ini, const std::u16string& fileName);
// The escaped single-line form.
bool LoadIniFromBytes(TIniFile* ini, const std::vector<uint8_t>& bytes);

}  // namespace foundation
