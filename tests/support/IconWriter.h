#pragma once
// Test-side icon and executable writers: ICO/CUR files from a list of
// images (PNG or icon DIB bytes, any directory fields), and minimal PE
// files whose resource section holds a type / name / language tree built
// from a flat list, with hooks for hostile directories.
#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

using Bytes = std::vector<uint8_t>;

struct IcoImage {
  uint8_t width = 0, height = 0;  // 0 means 256
  uint8_t colors = 0;
  uint16_t planes = 1, bits = 32;
  Bytes data;
  // When set, the directory claims this size / offset instead of the real one.
  int64_t sizeOverride = -1, offsetOverride = -1;
};
Bytes MakeIco(const std::vector<IcoImage>& images, uint16_t type = 1, int countOverride = -1);

struct PeResource {
  std::u16string type;  // all digits: a numbered entry
  std::u16string name;
  uint16_t language = 1033;
  Bytes data;
};
struct PeOptions {
  bool pe32plus = false;
  bool withRsrc = true;
  // The root directory's first entry is pointed back at the root (a loop).
  bool rootLoop = false;
};
Bytes MakePe(const std::vector<PeResource>& resources, const PeOptions& options = {});

// A group icon (type 14) resource of the images, numbered from firstId, and
// the images as type 3 resources.
std::vector<PeResource> IconGroupResources(const std::u16string& groupName, const std::vector<IcoImage>& images,
                                           uint16_t firstId);

}  // namespace testsupport
