#include "foundation/kvIniWriter.h"

#include <typeinfo>

#include "foundation/kvIniBytes.h"
#include "foundation/kvTextSaver.h"

namespace foundation {

using namespace ini_detail;

namespace {

void WriteRaw(TTextSaver* saver, std::string_view b) {
  if (!b.empty())
    saver->WriteBytes(reinterpret_cast<const uint8_t*>(b.data()), static_cast<int32_t>(b.size()), 0,
                      static_cast<int32_t>(b.size()));
}

void WriteObjectHeader(TTextSaver* saver, std::string_view name, std::string_view type, int level) {
  saver->WriteIndent(level);
  if (name.empty() && type.empty()) {
    saver->WriteBytes("object");
  } else {
    saver->WriteBytes("object ");
    WriteRaw(saver, name);
    if (!type.empty()) {
      saver->WriteBytes(":");
      WriteRaw(saver, type);
    } else if (name.find(':') != std::string_view::npos) {
      // The reader takes the text after the last ":" as the type; a closing
      // ":" keeps a name that holds one whole.
      saver->WriteBytes(":");
    }
  }
  saver->NewLine();
}

void WriteObjectHeader(TTextSaver* saver, const TIniItem* obj, int level) {
  WriteObjectHeader(saver, obj->NameView(), obj->ValueView(), level);
}

void WriteSectionHeader(TTextSaver* saver, const TIniItem* section) {
  saver->WriteBytes("[");
  WriteRaw(saver, section->NameView());
  saver->WriteBytes("]");
  saver->NewLine();
}

void WriteLine(TTextSaver* saver, std::string_view name, std::string_view value, int level) {
  if (!name.empty() || !value.empty()) {
    saver->WriteIndent(level);
    if (!name.empty()) {
      WriteRaw(saver, name);
      saver->WriteBytes("=");
    }
    WriteRaw(saver, value);
  }
  saver->NewLine();
}

// Writes the children of a list with an explicit stack: a tree loaded from a
// damaged file may nest objects deeper than the machine stack allows.
// Nodes of the model's own list classes are expanded here; any other class
// writes itself through its virtual WriteIndented. Lines and blocks that have
// no nodes yet are written from their text, without making nodes.
void WriteChildren(TTextSaver* saver, const TIniList* list, int level) {
  struct Frame {
    const TIniList* list;  // null: the records of a block, next up to stop
    const TIniText* text;
    int32_t next;
    int32_t stop;
    int level;
    int endLevel;  // >= 0: write "end" at this indentation when done
  };
  std::vector<Frame> stack{{list, nullptr, 0, 0, level, -1}};
  while (!stack.empty()) {
    Frame& f = stack.back();
    const int at = f.level;
    if (f.next >= (f.list ? f.list->GetCount() : f.stop)) {
      const int endLevel = f.endLevel;
      stack.pop_back();
      if (endLevel >= 0) {
        saver->WriteIndent(endLevel);
        saver->WriteBytes("end");
        saver->NewLine();
      }
      continue;
    }
    if (!f.list) {
      const TIniText* text = f.text;
      const int32_t index = f.next;
      const TIniRecord& r = text->Lines[static_cast<size_t>(index)];
      if (r.End > 0) {
        f.next = r.End;
        WriteObjectHeader(saver, text->Slice(r.NameStart, r.NameLength), text->Slice(r.ValueStart, r.ValueLength),
                          at);
        stack.push_back({nullptr, text, index + 1, r.End, at + 2, at});
      } else {
        ++f.next;
        WriteLine(saver, text->Slice(r.NameStart, r.NameLength), text->Slice(r.ValueStart, r.ValueLength), at);
      }
      continue;
    }
    const TIniEntry& entry = TIniListAccess::Entry(f.list, f.next);
    if (!entry.IsNode()) {
      const TIniText& text = TIniListAccess::Text(f.list);
      ++f.next;
      if (entry.IsLine()) {
        WriteLine(saver, text.Slice(entry.NameStart(), entry.NameLength()),
                  text.Slice(entry.ValueStart(), entry.ValueLength()), at);
      } else {
        const TIniRecord& r = text.Lines[static_cast<size_t>(entry.Record())];
        WriteObjectHeader(saver, text.Slice(r.NameStart, r.NameLength), text.Slice(r.ValueStart, r.ValueLength),
                          at);
        stack.push_back({nullptr, &text, entry.Record() + 1, r.End, at + 2, at});
      }
      continue;
    }
    TIniItem* child = entry.Node();
    ++f.next;
    const std::type_info& type = typeid(*child);
    if (type == typeid(TIniObject)) {
      WriteObjectHeader(saver, child, at);
      stack.push_back({static_cast<TIniList*>(child), nullptr, 0, 0, at + 2, at});
    } else if (type == typeid(TIniSection)) {
      WriteSectionHeader(saver, child);
      stack.push_back({static_cast<TIniList*>(child), nullptr, 0, 0, at, -1});
    } else if (type == typeid(TIniList) || type == typeid(TIniFile)) {
      stack.push_back({static_cast<TIniList*>(child), nullptr, 0, 0, at, -1});
    } else {
      child->WriteIndented(saver, at);
    }
  }
}

}  // namespace

void TIniItem::WriteIndented(TTextSaver* saver, int level) { WriteLine(saver, name_.View(), value_.View(), level); }

void TIniList::WriteIndented(TTextSaver* saver, int level) { WriteChildren(saver, this, level); }

void TIniSection::WriteIndented(TTextSaver* saver, int level) {
  WriteSectionHeader(saver, this);
  WriteChildren(saver, this, level);
}

void TIniObject::WriteIndented(TTextSaver* saver, int level) {
  WriteObjectHeader(saver, this, level);
  WriteChildren(saver, this, level + 2);
  saver->WriteIndent(level);
  saver->WriteBytes("end");
  saver->NewLine();
}

void TIniFile::WriteIndented(TTextSaver* saver, int level) { WriteChildren(saver, this, level); }

bool SaveIniToStream(TIniFile* ini, TStream* stream, bool withBom) {
  if (!stream) return false;
  TRef<TStreamTextSaver> saver = MakeRef<TStreamTextSaver>(stream, false);
  bool ok = true;
  try {
    if (withBom) saver->WriteBom();
    if (ini) ini->WriteIndented(saver.Get(), 0);
  } catch (const EStreamError&) {
    ok = false;
  }
  // The final flush lies outside the guard: its error reaches the caller.
  saver->Finish();
  return ok;
}

bool SaveIniToFile(TIniFile* ini, const std::u16string& fileName) {
  TStream* stream = WriteFile(fileName, false);
  if (!stream) return false;
  bool ok = false;
  try {
    ok = SaveIniToStream(ini, stream, true);
    stream->SetSize(stream->GetPosition());
  } catch (...) {
    stream->Free();
    throw;
  }
  stream->Free();
  return ok;
}

std::vector<uint8_t> SaveIniToBytes(TIniFile* ini) {
  TRef<TValueTextSaver> saver = MakeRef<TValueTextSaver>();
  if (ini) ini->WriteIndented(saver.Get(), 0);
  saver->Finish();
  return saver->TakeResult();
}

std::u16string UnescapeIniText(const TByteString& value) {
  const std::vector<uint8_t> bytes = UnescapeIniBytes(value.View(), 0, Length(value));
  if (bytes.empty()) return std::u16string();
  std::u16string s;
  UTF8BytesToUnicode(bytes, 0, static_cast<int>(bytes.size()), s);
  return s;
}

}  // namespace foundation
