#pragma once

// Test-side writer of show containers: entries (stored, raw-deflated,
// enciphered), the raw-deflate directory with its "$protection$" section and
// the short or long trailer, appended to any prefix (a copy of an executable,
// or a few filler bytes). It is test tooling, not part of the player: every
// test container is generated with it, none is committed.
//
// Names and texts are UTF-8. The layout written is the one the player reads:
//   prefix | entries back to back | raw-deflate directory | trailer
// with the trailer either 12 bytes (int64 DirStart, ".dne") or 20 bytes
// (the same, then int64 X = the offset at which X itself lies).

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace testsupport {

// Raw deflate (no zlib header, no checksum) of data, as the container packs
// method-1 entries and its directory.
std::string RawDeflate(std::string_view data, int level = -1);

// Raw inflate of a complete deflate stream; the test side's reference.
std::string RawInflate(std::string_view deflated);

// XOR with the container key; startPos is the position of data's first byte
// counted from the entry's first byte. Its own inverse.
std::string ContainerCipher(std::string_view data, int64_t startPos = 0);

// "[" -> "<", "]" -> ">", every byte below 32 -> "#" and two uppercase hex digits.
std::string EscapeEntryNameUtf8(std::string_view name);

// Whole-file helpers for fixtures.
std::string ReadWholeFile(const std::string& path);
void WriteWholeFile(const std::string& path, std::string_view bytes);

struct ContainerEntry {
  std::string name;  // as the project names it (escaped when the section is written)
  std::string data;  // content before packing
  int method = 0;    // "_pm": 1 raw deflate, 2 enciphered, any other value stored
  bool writeMethod = true;  // false: no "_pm" line at all
  // Replacement value texts for damaged directories; nullopt writes the truth.
  std::optional<std::string> psText;
  std::optional<std::string> szText;
  bool omitPs = false;
  bool omitSz = false;
};

enum class TrailerForm { Short, Long, None };

struct BuiltContainer {
  std::string bytes;           // prefix + container (BuildAt, AppendToFile: the container only)
  int64_t prefixSize = 0;
  int64_t dirStart = 0;        // absolute offset of the directory block
  int64_t dirSize = 0;         // bytes of the deflated directory block
  int64_t trailerStart = 0;    // absolute offset of the trailer
  std::string directoryText;   // the INI text before deflating
  std::map<std::string, int64_t> positions;    // entry name -> first stored byte
  std::map<std::string, int64_t> storedSizes;  // entry name -> bytes stored
};

class ContainerBuilder {
 public:
  ContainerBuilder& Add(ContainerEntry entry);
  ContainerBuilder& AddStored(std::string name, std::string data);
  ContainerBuilder& AddDeflated(std::string name, std::string data);
  ContainerBuilder& AddEnciphered(std::string name, std::string data);

  // "strucpos": written as the true DirStart unless replaced or omitted.
  ContainerBuilder& SetStrucPosText(std::string text);
  ContainerBuilder& OmitStrucPos();
  ContainerBuilder& SetAllowModify(std::optional<std::string> value);  // e.g. "1"; nullopt omits
  ContainerBuilder& SetVersion(std::optional<std::string> version);    // "qelversion"; nullopt omits
  ContainerBuilder& OmitProtection();  // no "$protection$" section at all
  ContainerBuilder& SetTrailer(TrailerForm form);
  // Raw INI lines (CR LF ended) written after the entries' sections.
  ContainerBuilder& AddDirectoryLines(std::string lines);

  BuiltContainer Build(std::string_view prefix = std::string(100, '\xCC')) const;
  // The container's bytes alone, laid out to follow prefixSize bytes.
  BuiltContainer BuildAt(int64_t prefixSize) const;
  // Writes prefix + container to path.
  BuiltContainer WriteFile(const std::string& path,
                           std::string_view prefix = std::string(100, '\xCC')) const;
  // Appends the container to an existing file (a copied executable, or a
  // sparse file of several GiB); bytes holds the container alone.
  BuiltContainer AppendToFile(const std::string& path) const;

 private:
  std::vector<ContainerEntry> entries_;
  std::optional<std::string> strucPosText_;
  bool omitStrucPos_ = false;
  std::optional<std::string> allowModify_;
  std::optional<std::string> version_ = std::string("10.00");
  bool omitProtection_ = false;
  TrailerForm trailer_ = TrailerForm::Short;
  std::string extraLines_;
};

}  // namespace testsupport
