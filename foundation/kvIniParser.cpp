#include "foundation/kvIniParser.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "foundation/kvIniBytes.h"
#include "foundation/kvUTF8.h"
#include "platform/os/codepages.h"

namespace foundation {

using namespace ini_detail;

namespace {

// Blank bytes: 0 to 32 except CR and LF.
inline bool IsBlank(uint8_t b) { return b <= 32 && b != 13 && b != 10; }
inline bool IsLineEnd(uint8_t b) { return b == 13 || b == 10; }
inline bool IsIdent(uint8_t b) {
  return (b >= '0' && b <= '9') || (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || b == '_';
}

// Whether the keyword (lower case) stands at p, followed by a non-identifier
// byte and, after blanks, not by "=".
bool MatchKeyword(const uint8_t* t, int32_t p, int32_t lineEnd, int32_t end, const char* word) {
  const int32_t n = static_cast<int32_t>(std::strlen(word));
  if (p + n > end) return false;
  for (int32_t i = 0; i < n; ++i) {
    uint8_t b = t[p + i];
    if (b >= 'A' && b <= 'Z') b = static_cast<uint8_t>(b + 32);
    if (b != static_cast<uint8_t>(word[i])) return false;
  }
  int32_t q = p + n;
  if (q >= end) return true;
  if (IsIdent(t[q])) return false;
  while (q < lineEnd && IsBlank(t[q])) ++q;
  return !(q < lineEnd && t[q] == '=');
}

// Last non-blank byte before `to` (exclusive), not before `from`: the end
// (exclusive) of the trimmed range.
inline int32_t TrimEnd(const uint8_t* t, int32_t from, int32_t to) {
  while (to > from && IsBlank(t[to - 1])) --to;
  return to;
}
inline int32_t SkipBlanks(const uint8_t* t, int32_t from, int32_t to) {
  while (from < to && IsBlank(t[from])) ++from;
  return from;
}

}  // namespace

TIniParserParams::TIniParserParams(const TByteString& text) : Text(text), End(Length(text)) {}

TIniLineKind ClassifyIniLine(TIniParserParams& p) {
  const uint8_t* t = Data(p.Text);
  const int32_t end = p.End;
  p.NameStart = p.NameLength = p.ValueStart = p.ValueLength = 0;
  p.LineStart = p.Position;
  int32_t pos = SkipBlanks(t, p.Position, end);
  p.Indentation = pos - p.LineStart;
  if (pos >= end) {
    p.Position = end;
    p.ValueStart = end;
    p.LineEnd = TIniLineEnd::None;
    return TIniLineKind::Raw;
  }
  int32_t lineEnd = pos;
  while (lineEnd < end && !IsLineEnd(t[lineEnd])) ++lineEnd;

  auto setValue = [&](int32_t from, int32_t to) {
    p.ValueStart = from;
    p.ValueLength = std::max(0, to - from);
  };
  auto setName = [&](int32_t from, int32_t to) {
    p.NameStart = from;
    p.NameLength = std::max(0, to - from);
  };

  TIniLineKind kind = TIniLineKind::Raw;
  const uint8_t first = t[pos];
  if (IsLineEnd(first)) {
    setValue(pos, pos);
  } else if (first == ';' || first == '=') {
    setValue(pos, TrimEnd(t, pos, lineEnd));
  } else if (first == '[') {
    const int32_t nameFrom = SkipBlanks(t, pos + 1, lineEnd);
    int32_t close = nameFrom;
    while (close < lineEnd && t[close] != ']') ++close;
    if (close < lineEnd) {
      kind = TIniLineKind::Section;
      setName(nameFrom, TrimEnd(t, nameFrom, close));
    } else {
      setValue(pos, TrimEnd(t, pos, lineEnd));  // no "]": the whole line, trimmed
    }
  } else if (MatchKeyword(t, pos, lineEnd, end, "object")) {
    kind = TIniLineKind::Object;
    const int32_t nameFrom = SkipBlanks(t, pos + 6, lineEnd);
    int32_t colon = -1;
    for (int32_t i = lineEnd - 1; i >= nameFrom; --i) {
      if (t[i] == ':') {
        colon = i;
        break;
      }
    }
    if (colon < 0) {
      setName(nameFrom, TrimEnd(t, nameFrom, lineEnd));
      setValue(lineEnd, lineEnd);
    } else {
      setName(nameFrom, TrimEnd(t, nameFrom, colon));
      const int32_t typeFrom = SkipBlanks(t, colon + 1, lineEnd);
      setValue(typeFrom, TrimEnd(t, typeFrom, lineEnd));
    }
  } else if (MatchKeyword(t, pos, lineEnd, end, "end")) {
    kind = TIniLineKind::End;
  } else {
    int32_t eq = pos + 1;
    while (eq < lineEnd && t[eq] != '=') ++eq;
    if (eq < lineEnd) {
      kind = TIniLineKind::Key;
      setName(pos, TrimEnd(t, pos, eq));
      const int32_t valueFrom = SkipBlanks(t, eq + 1, lineEnd);
      setValue(valueFrom, TrimEnd(t, valueFrom, lineEnd));
    } else {
      setValue(pos, TrimEnd(t, pos, lineEnd));
    }
  }

  // Past the line end: CR LF and LF CR count as one.
  if (lineEnd >= end) {
    p.LineEnd = TIniLineEnd::None;
    p.Position = end;
  } else {
    const uint8_t a = t[lineEnd];
    const bool pair = lineEnd + 1 < end && IsLineEnd(t[lineEnd + 1]) && t[lineEnd + 1] != a;
    if (pair) {
      p.LineEnd = a == 13 ? TIniLineEnd::CrLf : TIniLineEnd::LfCr;
      p.Position = lineEnd + 2;
    } else {
      p.LineEnd = a == 13 ? TIniLineEnd::Cr : TIniLineEnd::Lf;
      p.Position = lineEnd + 1;
    }
  }
  return kind;
}

namespace {

// Where the lines of a level go: a list, or the record of an open block.
struct TParseLevel {
  TIniList* list;   // null inside a block
  int32_t record;   // the open block's record
  TIniList* owner;  // for a block directly in a list: that list
  int32_t entry;    // and the block's index there
};

struct TLineParser {
  TIniParserParams& params;
  TIniFile* root;
  std::shared_ptr<const TIniText> shared;
  TIniRecords& lines;
  // Nested levels are kept on this explicit stack, so the depth of a text
  // never reaches the machine stack.
  std::vector<TParseLevel> stack;

  void Close(bool makeNode) {
    const TParseLevel level = stack.back();
    stack.pop_back();
    lines[static_cast<size_t>(level.record)].End = static_cast<int32_t>(lines.size());
    // A list that already hands out its object list gets the node at once.
    if (makeNode && level.owner && TIniListAccess::HasObjectList(level.owner))
      TIniListAccess::NodeAt(level.owner, level.entry);
  }

  void AddLine(bool named) {
    const int32_t nameLength = named ? params.NameLength : 0;
    TIniList* list = stack.back().list;
    if (list) {
      TIniListAccess::Append(list,
                             TIniEntry::OfLine(params.NameStart, nameLength, params.ValueStart, params.ValueLength));
    } else {
      lines.push_back(TIniRecord{params.NameStart, nameLength, params.ValueStart, params.ValueLength, 0});
    }
  }

  void Run() {
    while (params.Position < params.End) {
      const TIniLineKind kind = ClassifyIniLine(params);
      TIniList* current = stack.back().list;
      const bool top = stack.size() == 1;
      switch (kind) {
        case TIniLineKind::Raw:
          AddLine(false);
          break;
        case TIniLineKind::Key:
          AddLine(true);
          break;
        case TIniLineKind::Section: {
          if (!top || !root) {
            // Closes the current level; the header line is used up.
            if (top) return;
            Close(true);
            break;
          }
          const TByteString name = SubBytes(params.Text, params.NameStart, params.NameLength);
          TIniSection* section = TIniList::FindNodeRaw<TIniSection>(root, name, 0, Length(name));
          if (!section) {
            section = new TIniSection(false);
            section->SetTextSlices(params.Text.Bytes(), params.NameStart, params.NameLength, params.ValueStart,
                                   params.ValueLength);
            root->Add(section);
          }
          TIniListAccess::UseText(section, shared);
          stack[0].list = section;
          break;
        }
        case TIniLineKind::Object: {
          const auto record = static_cast<int32_t>(lines.size());
          lines.push_back(
              TIniRecord{params.NameStart, params.NameLength, params.ValueStart, params.ValueLength, 0});
          TParseLevel level{nullptr, record, nullptr, -1};
          if (current) {
            level.owner = current;
            level.entry = current->GetCount();
            TIniListAccess::Append(current, TIniEntry::OfBlock(record));
          }
          stack.push_back(level);
          break;
        }
        case TIniLineKind::End:
          if (!top) {
            Close(true);
          } else if (root) {
            current->Add(new TIniItem(TByteString(), FromAscii("end")));
          } else {
            return;
          }
          break;
      }
    }
  }
};

}  // namespace

void ParseIniLines(TIniList* list, TIniParserParams& params, TIniFile* root) {
  if (!list) return;
  // Sections (and the "end" lines of the top level) become nodes; every
  // other line stays a range of the text: a line of a list level as its
  // entry, a line inside an object block as a record of the shared text,
  // which the block's entry points to.
  auto text = std::make_shared<TIniText>();
  text->Bytes = params.Text.Bytes();
  TIniListAccess::UseText(list, text);
  TLineParser parser{params, root, text, text->Lines, {{list, -1, nullptr, -1}}};
  try {
    parser.Run();
  } catch (...) {
    while (parser.stack.size() > 1) parser.Close(false);
    text->Lines.Trim();
    throw;
  }
  while (parser.stack.size() > 1) parser.Close(true);
  text->Lines.Trim();
}

TTextWithBomResult ReadTextWithBom(TStream* stream, uint32_t codePage, TByteString& text) {
  text = TByteString();
  if (!stream) return TTextWithBomResult::Failure;
  try {
    const int64_t size = stream->GetSize();
    if (size < 0 || size > 0x7FFFFFF) return TTextWithBomResult::Failure;
    const int64_t start = stream->GetPosition();
    uint8_t mark[3] = {};
    const int32_t got = stream->ReadBuf(mark, static_cast<int32_t>(std::min<int64_t>(3, size)));
    if (got == 3 && mark[0] == 0xEF && mark[1] == 0xBB && mark[2] == 0xBF) {
      std::vector<uint8_t> bytes(static_cast<size_t>(size - 3));
      if (!bytes.empty() && stream->ReadBuf(bytes.data(), static_cast<int32_t>(bytes.size())) !=
                                static_cast<int32_t>(bytes.size()))
        return TTextWithBomResult::Failure;
      text = FromVector(std::move(bytes));
      return TTextWithBomResult::Utf8;
    }
    if (got >= 2 && mark[0] == 0xFF && mark[1] == 0xFE) {
      stream->SetPosition(start + 2);
      const int32_t units = static_cast<int32_t>((size - 2) / 2);
      std::u16string s(static_cast<size_t>(units), u'\0');
      if (stream->ReadUnicodeString(s, 1, units) != units) return TTextWithBomResult::Failure;
      text = FromU16(s);
      return TTextWithBomResult::Utf16;
    }
    stream->SetPosition(start);
    std::string bytes(static_cast<size_t>(size), '\0');
    if (!bytes.empty() && stream->ReadBuf(bytes.data(), static_cast<int32_t>(size)) != size)
      return TTextWithBomResult::Failure;
    std::u16string s;
    if (!bytes.empty()) {
      const int n = platform::os::multiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()),
                                                      nullptr, 0);
      s.resize(static_cast<size_t>(std::max(n, 0)));
      if (n > 0)
        platform::os::multiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), s.data(), n);
    }
    text = FromU16(s);
    return TTextWithBomResult::Ansi;
  } catch (const EStreamError&) {
    text = TByteString();
    return TTextWithBomResult::Failure;
  }
}

bool LoadIniFromStream(TIniFile* ini, TStream* stream) {
  if (!ini) return false;
  ini->Clear();
  TByteString text;
  if (ReadTextWithBom(stream, 0, text) == TTextWithBomResult::Failure) return false;
  TIniParserParams params(text);
  ParseIniLines(ini, params, ini);
  return true;
}

bool LoadIniFromFile(TIniFile* ini, const std::u16string& fileName) {
  if (!ini) return false;
  TStream* stream = ReadFile(fileName);
  if (!stream) {
    ini->Clear();
    return false;
  }
  bool ok = false;
  try {
    ok = LoadIniFromStream(ini, stream);
  } catch (...) {
    stream->Free();
    throw;
  }
  stream->Free();
  return ok;
}

bool LoadIniFromBytes(TIniFile* ini, const std::vector<uint8_t>& bytes) {
  if (!ini) return false;
  ini->Clear();
  std::vector<uint8_t> decoded;
  if (!bytes.empty()) {
    decoded.resize(bytes.size());
    const int32_t n = UnescapeIniValue(bytes.data(), 0, static_cast<int32_t>(bytes.size()), decoded.data(),
                                       static_cast<int32_t>(decoded.size()));
    if (n < 0) return false;
    decoded.resize(static_cast<size_t>(n));
  }
  TIniParserParams params(FromVector(std::move(decoded)));
  ParseIniLines(ini, params, ini);
  return true;
}

// ---------------------------------------------------------------------------
// Assign

namespace {
TByteString RenderWriterToText(TTextWriter* writer) {
  TRef<TBytesTextSaver> saver = MakeRef<TBytesTextSaver>();
  writer->WriteTo(saver.Get());
  saver->Finish();
  return FromVector(saver->TakeResult());
}
}  // namespace

void TIniList::Assign(TTextWriter* source) {
  // The source may stand inside this list: Clear would release it.
  const TRef<TTextWriter> hold = TRef<TTextWriter>::AddRef(source);
  Clear();
  if (!source) return;
  if (auto* list = dynamic_cast<TIniList*>(source)) {
    CopyChildren(list);
    return;
  }
  TIniParserParams params(RenderWriterToText(source));
  while (params.Position < params.End) {
    const TIniLineKind kind = ClassifyIniLine(params);
    switch (kind) {
      case TIniLineKind::Raw:
        continue;
      case TIniLineKind::Key:
        params.Position = params.LineStart;
        ParseIniLines(this, params, nullptr);
        return;
      case TIniLineKind::Section:
      case TIniLineKind::Object:
        ParseIniLines(this, params, nullptr);
        return;
      case TIniLineKind::End:
        return;
    }
  }
}

void TIniFile::Assign(TTextWriter* source) {
  // The source may stand inside this document: Clear would release it.
  const TRef<TTextWriter> hold = TRef<TTextWriter>::AddRef(source);
  Clear();
  if (!source) return;
  if (auto* list = dynamic_cast<TIniList*>(source)) {
    CopyChildren(list);
    return;
  }
  TIniParserParams params(RenderWriterToText(source));
  ParseIniLines(this, params, this);
}

}  // namespace foundation
