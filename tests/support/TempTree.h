// A file-system tree built per test in a fresh temporary folder, removed at
// the end of the test (links are removed, never followed).
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

namespace qeltest {

class TempTree {
 public:
  TempTree() {
    const char* base = getenv("TMPDIR");
    std::string tmpl = std::string(base && *base ? base : "/tmp") + "/qeltest-XXXXXX";
    if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
    root_ = tmpl;
  }
  ~TempTree() {
    std::error_code ec;
    // Give back write permission that a test took away, so removal works.
    for (auto it = std::filesystem::recursive_directory_iterator(root_, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
      if (it->is_directory(ec) && !it->is_symlink(ec))
        std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
    }
    std::filesystem::remove_all(root_, ec);
  }
  TempTree(const TempTree&) = delete;
  TempTree& operator=(const TempTree&) = delete;

  // The POSIX path of the root or of a path below it.
  std::string path(const std::string& rel = "") const { return rel.empty() ? root_ : root_ + "/" + rel; }
  // The same in the program's internal form ("Z:\tmp\qeltest-...\rel").
  std::u16string internal(const std::string& rel = "") const {
    std::string p = path(rel);
    std::u16string r = u"Z:";
    for (char c : p) r.push_back(c == '/' ? u'\\' : static_cast<char16_t>(static_cast<unsigned char>(c)));
    return r;
  }
  void write(const std::string& rel, const std::string& content = "") const {
    std::filesystem::create_directories(std::filesystem::path(path(rel)).parent_path());
    std::ofstream(path(rel), std::ios::binary) << content;
  }
  void mkdir(const std::string& rel) const { std::filesystem::create_directories(path(rel)); }
  void symlink(const std::string& target, const std::string& rel) const {
    std::filesystem::create_symlink(target, path(rel));
  }
  bool exists(const std::string& rel) const {
    std::error_code ec;
    return std::filesystem::symlink_status(path(rel), ec).type() != std::filesystem::file_type::not_found;
  }
  std::string read(const std::string& rel) const {
    std::ifstream in(path(rel), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

 private:
  std::string root_;
};

// Tests run as root; a test that relies on a refused permission skips then.
inline bool runningAsRoot() { return geteuid() == 0; }

// An internal path as a narrow string for messages: non-ASCII units as '?'.
inline std::string narrow(const std::u16string& s) {
  std::string r;
  for (char16_t c : s) r.push_back(c < 128 ? static_cast<char>(c) : '?');
  return r;
}

}  // namespace qeltest
