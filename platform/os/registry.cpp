#include "platform/os/registry.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/os/errors.h"
#include "platform/os/files.h"
#include "platform/os/paths.h"

namespace platform::os {

namespace {

constexpr int32_t kSuccess = 0;
constexpr int32_t kNotFound = 2;
constexpr int32_t kAccessDenied = 5;
constexpr int32_t kInvalidHandle = 6;
constexpr int32_t kInvalidParameter = 87;
constexpr int32_t kMoreData = 234;
constexpr int32_t kNoMoreItems = 259;
constexpr int32_t kKeyDeleted = 1018;

struct Value {
  std::u16string name;
  uint32_t type = REG_NONE;
  std::vector<uint8_t> data;
};

struct Key {
  std::u16string name;
  std::vector<std::shared_ptr<Key>> children;
  std::vector<Value> values;
  bool deleted = false;
};

struct Store {
  std::mutex lock;
  std::shared_ptr<Key> roots[3];
  std::unordered_map<HKEY, std::shared_ptr<Key>> handles;
  HKEY next = 0x1000;
  Store() { reset(); }
  void reset() {
    for (auto& r : roots) {
      if (r) r->deleted = true;
      r = std::make_shared<Key>();
    }
    handles.clear();
  }
};

Store& store() {
  static Store* s = new Store();
  return *s;
}

bool sameName(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  CaseFoldFn fold = caseFoldFunction();
  for (size_t i = 0; i < a.size(); ++i)
    if (fold(a[i]) != fold(b[i])) return false;
  return true;
}

std::shared_ptr<Key> keyOf(Store& s, HKEY h) {
  if (h >= HKEY_CLASSES_ROOT && h <= HKEY_LOCAL_MACHINE) return s.roots[h - HKEY_CLASSES_ROOT];
  auto it = s.handles.find(h);
  return it == s.handles.end() ? nullptr : it->second;
}

std::vector<std::u16string> splitPath(std::u16string_view path) {
  std::vector<std::u16string> parts;
  size_t i = 0;
  while (i <= path.size()) {
    size_t j = path.find(u'\\', i);
    if (j == std::u16string_view::npos) j = path.size();
    if (j > i) parts.emplace_back(path.substr(i, j - i));
    i = j + 1;
  }
  return parts;
}

std::shared_ptr<Key> child(const Key& k, std::u16string_view name) {
  for (auto& c : k.children)
    if (sameName(c->name, name)) return c;
  return nullptr;
}

Value* findValue(Key& k, std::u16string_view name) {
  for (auto& v : k.values)
    if (sameName(v.name, name)) return &v;
  return nullptr;
}

HKEY addHandle(Store& s, std::shared_ptr<Key> k) {
  HKEY h = s.next;
  s.next += 4;
  s.handles.emplace(h, std::move(k));
  return h;
}

int32_t copyName(const std::u16string& src, char16_t* dst, uint32_t* length) {
  if (!length) return kInvalidParameter;
  if (!dst || *length < src.size() + 1) {
    *length = static_cast<uint32_t>(src.size());
    return kMoreData;
  }
  std::memcpy(dst, src.data(), src.size() * 2);
  dst[src.size()] = 0;
  *length = static_cast<uint32_t>(src.size());
  return kSuccess;
}

int32_t copyData(const Value& v, uint32_t* type, uint8_t* data, uint32_t* size) {
  if (type) *type = v.type;
  if (!size) return data ? kInvalidParameter : kSuccess;
  uint32_t need = static_cast<uint32_t>(v.data.size());
  if (data && *size < need) {
    *size = need;
    return kMoreData;
  }
  if (data && need) std::memcpy(data, v.data.data(), need);
  *size = need;
  return kSuccess;
}

std::string utf8(std::u16string_view s) { return fileNameToBytes(s); }

void writeKey(const Key& k, const std::u16string& path, std::string& out) {
  out += "[" + utf8(path) + "]\r\n";
  for (const Value& v : k.values) {
    std::string name = v.name.empty() ? "@" : "\"" + utf8(v.name) + "\"";
    std::string text;
    if ((v.type == REG_SZ || v.type == REG_EXPAND_SZ) && v.data.size() % 2 == 0) {
      std::u16string s(v.data.size() / 2, u'\0');
      std::memcpy(s.data(), v.data.data(), v.data.size());
      while (!s.empty() && s.back() == 0) s.pop_back();
      text = (v.type == REG_EXPAND_SZ ? "expand:\"" : "\"") + utf8(s) + "\"";
    } else if (v.type == REG_DWORD && v.data.size() == 4) {
      uint32_t d;
      std::memcpy(&d, v.data.data(), 4);
      char buf[16];
      std::snprintf(buf, sizeof buf, "dword:%08x", d);
      text = buf;
    } else {
      char buf[16];
      std::snprintf(buf, sizeof buf, "hex(%x):", v.type);
      text = buf;
      for (size_t i = 0; i < v.data.size(); ++i) {
        std::snprintf(buf, sizeof buf, i ? ",%02x" : "%02x", v.data[i]);
        text += buf;
      }
    }
    out += name + "=" + text + "\r\n";
  }
  out += "\r\n";
  for (const auto& c : k.children) writeKey(*c, path.empty() ? c->name : path + u"\\" + c->name, out);
}

}  // namespace

int32_t regOpenKeyEx(HKEY key, std::u16string_view subKey, uint32_t, HKEY* result) {
  if (!result) return kInvalidParameter;
  *result = 0;
  Store& s = store();
  std::lock_guard<std::mutex> g(s.lock);
  auto k = keyOf(s, key);
  if (!k) return kInvalidHandle;
  if (k->deleted) return kKeyDeleted;
  for (const auto& part : splitPath(subKey)) {
    k = child(*k, part);
    if (!k) return kNotFound;
  }
  *result = addHandle(s, k);
  return kSuccess;
}

int32_t regCreateKeyEx(HKEY key, std::u16string_view subKey, uint32_t, HKEY* result) {
  if (!result) return kInvalidParameter;
  *result = 0;
  Store& s = store();
  std::lock_guard<std::mutex> g(s.lock);
  auto k = keyOf(s, key);
  if (!k) return kInvalidHandle;
  if (k->deleted) return kKeyDeleted;
  for (const auto& part : splitPath(subKey)) {
    auto c = child(*k, part);
    if (!c) {
      c = std::make_shared<Key>();
      c->name = part;
      k->children.push_back(c);
    }
    k = c;
  }
  *result = addHandle(s, k);
  return kSuccess;
}

int32_t regCloseKey(HKEY key) {
  Store& s = store();
  std::lock_guard<std::mutex> g(s.lock);
  if (key >= HKEY_CLASSES_ROOT && key <= HKEY_LOCAL_MACHINE) return kSuccess;
  return s.handles.erase(key) ? kSuccess : kInvalidHandle;
}

int32_t regDeleteKey(HKEY key, std::u16string_view subKey) {
  Store& s = store();
  std::lock_guard<std::mutex> g(s.lock);
  auto k = keyOf(s, key);
  if (!k) return kInvalidHandle;
  auto parts = splitPath(subKey);
  if (parts.empty()) return kAccessDenied;
  for (size_t i = 0; i + 1 < parts.size(); ++i) {
    k = child(*k, parts[i]);
    if (!k) return kNotFound;
  }
  for (auto it = k->children.begin(); it != k->children.end(); ++it) {
    if (!sameName((*it)->name, parts.back())) continue;
    if (!(*it)->children.empty()) return kAccessDenied;
    (*it)->deleted = true;
    k->children.erase(it);
    return kSuccess;
  }
  return kNotFound;
}

int32_t regEnumKeyEx(HKEY key, uint32_t index, char16_t* name, uint32_t* nameLength) {
  Store& s = store();
  std::lock_guard<std::mutex> g(s.lock);
  auto k = keyOf(s, key);
  if (!k) return kInvalidHandle;
  if (k->deleted) return kKeyDeleted;
  if (index >= k->children.size()) return kNoMoreItems;
  return copyName(k->children[index]->name, name, nameLength);
}

int32_t regEnumValue(HKEY key, uint32_t index, char16_t* name, uint32_t* nameLength, uint32_t* type,
                     uint8_t* data, uint32_t* dataSize) {
  Store& s = store();
  std::lock_guard<std::mutex> g(s.lock);
  auto k = keyOf(s, key);
  if (!k) return kInvalidHandle;
  if (k->deleted) return kKeyDeleted;
  if (index >= k->values.size()) return kNoMoreItems;
  const Value& v = k->values[index];
  int32_t r = copyName(v.name, name, nameLength);
  if (r != kSuccess) return r;
  return copyData(v, type, data, dataSize);
}

int32_t regQueryValueEx(HKEY key, std::u16string_view valueName, uint32_t* type, uint8_t* data,
                        uint32_t* dataSize) {
  Store& s = store();
  std::lock_guard<std::mutex> g(s.lock);
  auto k = keyOf(s, key);
  if (!k) return kInvalidHandle;
  if (k->deleted) return kKeyDeleted;
  const Value* v = findValue(*k, valueName);
  if (!v) return kNotFound;
  return copyData(*v, type, data, dataSize);
}

int32_t regSetValueEx(HKEY key, std::u16string_view valueName, uint32_t type, const uint8_t* data,
                      uint32_t dataSize) {
  if (!data && dataSize) return kInvalidParameter;
  Store& s = store();
  std::lock_guard<std::mutex> g(s.lock);
  auto k = keyOf(s, key);
  if (!k) return kInvalidHandle;
  if (k->deleted) return kKeyDeleted;
  Value* v = findValue(*k, valueName);
  if (!v) {
    k->values.push_back(Value{std::u16string(valueName), type, {}});
    v = &k->values.back();
  }
  v->type = type;
  v->data.assign(data, data + dataSize);
  return kSuccess;
}

int32_t regDeleteValue(HKEY key, std::u16string_view valueName) {
  Store& s = store();
  std::lock_guard<std::mutex> g(s.lock);
  auto k = keyOf(s, key);
  if (!k) return kInvalidHandle;
  if (k->deleted) return kKeyDeleted;
  for (auto it = k->values.begin(); it != k->values.end(); ++it) {
    if (sameName(it->name, valueName)) {
      k->values.erase(it);
      return kSuccess;
    }
  }
  return kNotFound;
}

int32_t regSaveKeyEx(HKEY key, std::u16string_view fileName, uint32_t) {
  std::string text = "\xEF\xBB\xBF";
  {
    Store& s = store();
    std::lock_guard<std::mutex> g(s.lock);
    auto k = keyOf(s, key);
    if (!k) return kInvalidHandle;
    if (k->deleted) return kKeyDeleted;
    writeKey(*k, u"", text);
  }
  Handle h = createFile(fileName, GENERIC_WRITE, 0, CREATE_NEW, 0);
  if (h == INVALID_HANDLE_VALUE) {
    uint32_t e = getLastError();
    return static_cast<int32_t>(e == ERROR_FILE_EXISTS ? ERROR_ALREADY_EXISTS : e);
  }
  uint32_t written = 0;
  bool ok = writeFile(h, text.data(), static_cast<uint32_t>(text.size()), &written);
  uint32_t e = getLastError();
  closeHandle(h);
  return ok ? kSuccess : static_cast<int32_t>(e);
}

int32_t regSaveKey(HKEY key, std::u16string_view fileName) { return regSaveKeyEx(key, fileName, 0); }

void regResetStore() {
  Store& s = store();
  std::lock_guard<std::mutex> g(s.lock);
  s.reset();
}

}  // namespace platform::os
