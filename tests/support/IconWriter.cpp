#include "tests/support/IconWriter.h"

#include <algorithm>
#include <map>

namespace testsupport {

namespace {

void Put16(Bytes& b, size_t at, uint32_t v) {
  if (b.size() < at + 2) b.resize(at + 2);
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}
void Put32(Bytes& b, size_t at, uint32_t v) {
  Put16(b, at, v & 0xFFFF);
  Put16(b, at + 2, v >> 16);
}
bool Numeric(const std::u16string& s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char16_t c) { return c >= u'0' && c <= u'9'; });
}
uint32_t NumberOf(const std::u16string& s) {
  uint32_t v = 0;
  for (char16_t c : s) v = v * 10 + static_cast<uint32_t>(c - u'0');
  return v;
}

}  // namespace

Bytes MakeIco(const std::vector<IcoImage>& images, uint16_t type, int countOverride) {
  Bytes b;
  Put16(b, 0, 0);
  Put16(b, 2, type);
  Put16(b, 4, countOverride >= 0 ? static_cast<uint32_t>(countOverride) : static_cast<uint32_t>(images.size()));
  size_t offset = 6 + 16 * images.size();
  for (size_t i = 0; i < images.size(); ++i) {
    const IcoImage& im = images[i];
    const size_t at = 6 + 16 * i;
    b.resize(at + 16);
    b[at] = im.width;
    b[at + 1] = im.height;
    b[at + 2] = im.colors;
    b[at + 3] = 0;
    Put16(b, at + 4, im.planes);
    Put16(b, at + 6, im.bits);
    Put32(b, at + 8, im.sizeOverride >= 0 ? static_cast<uint32_t>(im.sizeOverride) : static_cast<uint32_t>(im.data.size()));
    Put32(b, at + 12, im.offsetOverride >= 0 ? static_cast<uint32_t>(im.offsetOverride) : static_cast<uint32_t>(offset));
    offset += im.data.size();
  }
  for (const IcoImage& im : images) b.insert(b.end(), im.data.begin(), im.data.end());
  return b;
}

std::vector<PeResource> IconGroupResources(const std::u16string& groupName, const std::vector<IcoImage>& images,
                                           uint16_t firstId) {
  std::vector<PeResource> out;
  Bytes group;
  Put16(group, 0, 0);
  Put16(group, 2, 1);
  Put16(group, 4, static_cast<uint32_t>(images.size()));
  for (size_t i = 0; i < images.size(); ++i) {
    const IcoImage& im = images[i];
    const size_t at = 6 + 14 * i;
    group.resize(at + 14);
    group[at] = im.width;
    group[at + 1] = im.height;
    group[at + 2] = im.colors;
    Put16(group, at + 4, im.planes);
    Put16(group, at + 6, im.bits);
    Put32(group, at + 8, static_cast<uint32_t>(im.data.size()));
    Put16(group, at + 12, static_cast<uint32_t>(firstId + i));
    std::u16string id;
    for (char c : std::to_string(firstId + i)) id += static_cast<char16_t>(c);
    out.push_back(PeResource{u"3", id, 1033, im.data});
  }
  out.push_back(PeResource{u"14", groupName, 1033, group});
  return out;
}

Bytes MakePe(const std::vector<PeResource>& resources, const PeOptions& o) {
  constexpr uint32_t kRaw = 0x400, kVa = 0x3000;
  const uint32_t optSize = o.pe32plus ? 240 : 224;
  Bytes b(kRaw, 0);
  b[0] = 'M';
  b[1] = 'Z';
  Put32(b, 0x3C, 0x80);
  b[0x80] = 'P';
  b[0x81] = 'E';
  const size_t fh = 0x84;
  Put16(b, fh, o.pe32plus ? 0x8664 : 0x14C);
  Put16(b, fh + 2, 2);  // a code section, then the resources
  Put16(b, fh + 16, optSize);
  const size_t opt = fh + 20;
  Put16(b, opt, o.pe32plus ? 0x20B : 0x10B);
  Put32(b, opt + 32, 0x1000);
  Put32(b, opt + 36, 0x200);
  const size_t sec = opt + optSize;
  const char text[8] = {'.', 't', 'e', 'x', 't', 0, 0, 0};
  std::copy(text, text + 8, b.begin() + static_cast<long>(sec));
  const char rsrc[8] = {'.', 'r', 's', 'r', 'c', 0, 0, 0};
  std::copy(rsrc, rsrc + 8, b.begin() + static_cast<long>(sec + 40));
  if (!o.withRsrc) b[sec + 41] = 'x';

  // type -> name -> resources
  std::map<std::u16string, std::map<std::u16string, std::vector<const PeResource*>>> tree;
  for (const PeResource& r : resources) tree[r.type][r.name].push_back(&r);
  auto dirSize = [](size_t n) { return 16 + 8 * n; };
  // Layout: root, type dirs, name dirs, then data entries, strings, data.
  size_t size = dirSize(tree.size());
  std::map<std::u16string, size_t> typeDir;
  std::map<std::pair<std::u16string, std::u16string>, size_t> nameDir;
  for (auto& [t, names] : tree) {
    typeDir[t] = size;
    size += dirSize(names.size());
  }
  for (auto& [t, names] : tree)
    for (auto& [n, list] : names) {
      nameDir[{t, n}] = size;
      size += dirSize(list.size());
    }
  std::map<const PeResource*, size_t> dataEntry;
  for (const PeResource& r : resources) {
    dataEntry[&r] = size;
    size += 16;
  }
  std::map<std::u16string, size_t> strings;
  auto stringOf = [&](const std::u16string& s) {
    if (Numeric(s) || strings.count(s)) return;
    strings[s] = size;
    size += 2 + 2 * s.size();
  };
  for (auto& [t, names] : tree) {
    stringOf(t);
    for (auto& [n, list] : names) stringOf(n);
  }
  size = (size + 3) & ~size_t{3};
  std::map<const PeResource*, size_t> dataAt;
  for (const PeResource& r : resources) {
    dataAt[&r] = size;
    size += (r.data.size() + 3) & ~size_t{3};
  }
  Bytes s(size, 0);
  auto entryName = [&](const std::u16string& n) -> uint32_t {
    return Numeric(n) ? NumberOf(n) : 0x80000000u | static_cast<uint32_t>(strings[n]);
  };
  auto dir = [&](size_t at, size_t count) { Put16(s, at + 14, static_cast<uint32_t>(count)); };
  dir(0, tree.size());
  size_t i = 0;
  for (auto& [t, names] : tree) {
    Put32(s, 16 + 8 * i, entryName(t));
    Put32(s, 16 + 8 * i + 4, 0x80000000u | static_cast<uint32_t>(typeDir[t]));
    ++i;
    dir(typeDir[t], names.size());
    size_t j = 0;
    for (auto& [n, list] : names) {
      Put32(s, typeDir[t] + 16 + 8 * j, entryName(n));
      Put32(s, typeDir[t] + 16 + 8 * j + 4, 0x80000000u | static_cast<uint32_t>(nameDir[{t, n}]));
      ++j;
      const size_t nd = nameDir[{t, n}];
      dir(nd, list.size());
      for (size_t k = 0; k < list.size(); ++k) {
        Put32(s, nd + 16 + 8 * k, list[k]->language);
        Put32(s, nd + 16 + 8 * k + 4, static_cast<uint32_t>(dataEntry[list[k]]));
      }
    }
  }
  if (o.rootLoop && !tree.empty()) Put32(s, 16 + 4, 0x80000000u);  // the first type points at the root
  for (const PeResource& r : resources) {
    Put32(s, dataEntry[&r], static_cast<uint32_t>(kVa + dataAt[&r]));
    Put32(s, dataEntry[&r] + 4, static_cast<uint32_t>(r.data.size()));
    std::copy(r.data.begin(), r.data.end(), s.begin() + static_cast<long>(dataAt[&r]));
  }
  for (auto& [str, at] : strings) {
    Put16(s, at, static_cast<uint32_t>(str.size()));
    for (size_t c = 0; c < str.size(); ++c) Put16(s, at + 2 + 2 * c, str[c]);
  }
  Put32(b, sec + 40 + 8, static_cast<uint32_t>(s.size()));
  Put32(b, sec + 40 + 12, kVa);
  Put32(b, sec + 40 + 16, static_cast<uint32_t>(s.size()));
  Put32(b, sec + 40 + 20, kRaw);
  b.insert(b.end(), s.begin(), s.end());
  return b;
}

}  // namespace testsupport
