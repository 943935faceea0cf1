// The file services over POSIX: share modes through flock, Windows error
// numbering, the reserved drive and the case-insensitive fallback lookup.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "platform/os/errors.h"
#include "platform/os/files.h"
#include "platform/os/paths.h"
#include "platform/os/faults.h"

namespace platform::os {

namespace {

constexpr uint32_t ERROR_NOT_SAME_DEVICE = 17;
constexpr uint32_t ERROR_INSUFFICIENT_BUFFER = 122;
constexpr uint32_t ERROR_DIRECTORY = 267;
constexpr uint32_t ERROR_NOT_A_REPARSE_POINT = 4390;

// ---------------------------------------------------------------------------
// Handle table: files and finds share one numbering that is never reused.

namespace {
struct AtomicFileCallCounts {
  std::atomic<uint64_t> opens{0}, closes{0}, reads{0}, writes{0}, seeks{0}, stats{0};
};
AtomicFileCallCounts gCalls;
void tally(std::atomic<uint64_t>& c) { c.fetch_add(1, std::memory_order_relaxed); }
}  // namespace

// A reader or writer holds the object (not the number) while it is inside a
// system call, so the descriptor is closed only when the last holder lets
// go: a descriptor number closed under a reader could be reused by another
// open and read from the wrong file.
struct FileObject {
  int fd = -1;
  bool pathOnly = false;  // opened on the link itself (O_PATH)
  FileObject() = default;
  FileObject(const FileObject&) = delete;
  FileObject& operator=(const FileObject&) = delete;
  ~FileObject() {
    if (fd >= 0) {
      tally(gCalls.closes);
      ::close(fd);
    }
  }
};

struct FindObject {
  std::vector<FindData> entries;
  size_t next = 0;
};

struct HandleEntry {
  std::shared_ptr<FileObject> file;
  std::shared_ptr<FindObject> find;
};

std::mutex gHandleLock;
std::unordered_map<Handle, HandleEntry> gHandles;
Handle gNextHandle = 0x100;

Handle addHandle(HandleEntry e) {
  std::lock_guard<std::mutex> g(gHandleLock);
  Handle h = gNextHandle;
  gNextHandle += 4;
  gHandles.emplace(h, std::move(e));
  return h;
}

std::shared_ptr<FileObject> fileOf(Handle h) {
  std::lock_guard<std::mutex> g(gHandleLock);
  auto it = gHandles.find(h);
  if (it == gHandles.end() || !it->second.file) return nullptr;
  return it->second.file;
}

std::shared_ptr<FindObject> findOf(Handle h) {
  std::lock_guard<std::mutex> g(gHandleLock);
  auto it = gHandles.find(h);
  if (it == gHandles.end() || !it->second.find) return nullptr;
  return it->second.find;
}

std::atomic<CaseFoldFn> gFold{nullptr};
std::atomic<uint32_t> gErrorMode{0};

char32_t asciiFold(char32_t c) { return (c >= U'A' && c <= U'Z') ? c + 32 : c; }

// ---------------------------------------------------------------------------
// Names

std::u32string foldName(std::string_view bytes) {
  std::u16string u = fileNameFromBytes(bytes);
  CaseFoldFn fold = caseFoldFunction();
  std::u32string out;
  out.reserve(u.size());
  for (size_t i = 0; i < u.size(); ++i) {
    char32_t c = u[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < u.size() && u[i + 1] >= 0xDC00 && u[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (u[i + 1] - 0xDC00);
      ++i;
    }
    out.push_back(fold(c));
  }
  return out;
}

bool exists(const std::string& p) {
  struct stat st;
  return ::lstat(p.c_str(), &st) == 0;
}

std::string joinPosix(const std::string& dir, const std::string& name) {
  if (dir.empty()) return name;
  if (dir.back() == '/') return dir + name;
  return dir + "/" + name;
}

std::vector<std::string> splitComponents(const std::string& p) {
  std::vector<std::string> parts;
  size_t i = 0;
  while (i < p.size()) {
    size_t j = p.find('/', i);
    if (j == std::string::npos) j = p.size();
    if (j > i) parts.push_back(p.substr(i, j - i));
    i = j + 1;
  }
  return parts;
}

// The entry of dir whose name matches name without regard to case: the
// first in byte order. Empty when there is none.
std::string findCaseless(const std::string& dir, const std::string& name) {
  DIR* d = ::opendir(dir.empty() ? "." : dir.c_str());
  if (!d) return {};
  std::u32string want = foldName(name);
  std::string best;
  while (dirent* e = ::readdir(d)) {
    std::string n = e->d_name;
    if (n == "." || n == "..") continue;
    if (foldName(n) == want && (best.empty() || n < best)) best = n;
  }
  ::closedir(d);
  return best;
}

// Resolves every component of p again without regard to case. True with the
// resolved path when each component was found.
bool caseFallback(const std::string& p, std::string& out) {
  std::string cur = (!p.empty() && p[0] == '/') ? "/" : "";
  for (const std::string& comp : splitComponents(p)) {
    std::string cand = joinPosix(cur, comp);
    if (comp == "." || comp == ".." || exists(cand)) {
      cur = cand;
      continue;
    }
    std::string match = findCaseless(cur, comp);
    if (match.empty()) return false;
    cur = joinPosix(cur, match);
  }
  if (cur.empty()) cur = ".";
  out = cur;
  return true;
}

std::string parentOf(const std::string& p, std::string* leaf = nullptr) {
  size_t k = p.find_last_of('/');
  if (k == std::string::npos) {
    if (leaf) *leaf = p;
    return "";
  }
  if (leaf) *leaf = p.substr(k + 1);
  if (k == 0) return "/";
  return p.substr(0, k);
}

// The error for a missing entry: 2 when its folder exists, 3 when not.
uint32_t missingError(const std::string& p) {
  std::string parent = parentOf(p);
  struct stat st;
  if (parent.empty() || (::stat(parent.c_str(), &st) == 0 && S_ISDIR(st.st_mode)))
    return ERROR_FILE_NOT_FOUND;
  return ERROR_PATH_NOT_FOUND;
}

uint32_t errnoError(int err, const std::string& p) {
  if (err == ENOENT) return missingError(p);
  if (err == EISDIR) return ERROR_ACCESS_DENIED;
  if (err == ELOOP) return ERROR_PATH_NOT_FOUND;
  return errorFromErrno(err);
}

bool fail(uint32_t code) {
  setLastError(code);
  return false;
}

// Internal path -> POSIX path of an existing entry, with the case fallback.
// On failure the last error is set.
bool resolveExisting(std::u16string_view path, std::string& out) {
  uint32_t err = toPosixPath(path, out);
  if (err != 0) return fail(err);
  if (out.empty()) return fail(ERROR_PATH_NOT_FOUND);
  if (exists(out)) return true;
  int saved = errno;
  std::string alt;
  if ((saved == ENOENT || saved == ENOTDIR) && caseFallback(out, alt)) {
    out = alt;
    return true;
  }
  if (saved == ENOENT) {
    // Missing: 2 when its folder exists (found without regard to case), else 3.
    std::string parent = parentOf(out), alt;
    struct stat st;
    if (parent.empty() || (caseFallback(parent, alt) && ::stat(alt.c_str(), &st) == 0 && S_ISDIR(st.st_mode)))
      return fail(ERROR_FILE_NOT_FOUND);
    return fail(ERROR_PATH_NOT_FOUND);
  }
  return fail(errnoError(saved, out));
}

// Internal path -> POSIX path of an entry to be created: the name is taken as
// given, its folders are resolved with the fallback.
bool resolveForCreate(std::u16string_view path, std::string& out) {
  uint32_t err = toPosixPath(path, out);
  if (err != 0) return fail(err);
  if (out.empty()) return fail(ERROR_PATH_NOT_FOUND);
  std::string leaf;
  std::string parent = parentOf(out, &leaf);
  if (parent.empty() || exists(parent)) return true;
  std::string alt;
  if (caseFallback(parent, alt)) out = joinPosix(alt, leaf);
  return true;
}

std::string lastComponent(const std::string& p) {
  std::string leaf;
  std::string s = p;
  while (s.size() > 1 && s.back() == '/') s.pop_back();
  parentOf(s, &leaf);
  return leaf;
}

uint32_t attributesOf(const std::string& name, const struct stat& lst, const struct stat* target) {
  uint32_t a = 0;
  const struct stat& st = (S_ISLNK(lst.st_mode) && target) ? *target : lst;
  if (S_ISLNK(lst.st_mode)) a |= FILE_ATTRIBUTE_REPARSE_POINT;
  if (S_ISDIR(st.st_mode)) {
    a |= FILE_ATTRIBUTE_DIRECTORY;
  } else if (S_ISREG(st.st_mode)) {
    a |= FILE_ATTRIBUTE_ARCHIVE;
  }
  if (!S_ISLNK(st.st_mode) && (st.st_mode & S_IWUSR) == 0) a |= FILE_ATTRIBUTE_READONLY;
  if (!name.empty() && name[0] == '.' && name != "." && name != "..") a |= FILE_ATTRIBUTE_HIDDEN;
  if (a == 0) a = FILE_ATTRIBUTE_NORMAL;
  return a;
}

FileTime toFileTime(int64_t sec, int64_t nsec) {
  return static_cast<FileTime>((sec + 11644473600LL) * 10000000LL + nsec / 100);
}

// Fills a find record for dir/name (dirfd open on dir).
bool describe(int dirfd, const std::string& name, FindData& fd) {
  struct statx sx;
  if (::statx(dirfd, name.c_str(), AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS | STATX_BTIME, &sx) != 0)
    return false;
  struct stat lst;
  if (::fstatat(dirfd, name.c_str(), &lst, AT_SYMLINK_NOFOLLOW) != 0) return false;
  struct stat tgt;
  bool haveTarget = S_ISLNK(lst.st_mode) && ::fstatat(dirfd, name.c_str(), &tgt, 0) == 0;
  fd.attributes = attributesOf(name, lst, haveTarget ? &tgt : nullptr);
  fd.name = fileNameFromBytes(name);
  fd.alternateName.clear();
  const struct stat& st = haveTarget ? tgt : lst;
  fd.size = (S_ISDIR(st.st_mode) || S_ISLNK(st.st_mode)) ? 0 : static_cast<uint64_t>(st.st_size);
  fd.lastWriteTime = toFileTime(sx.stx_mtime.tv_sec, sx.stx_mtime.tv_nsec);
  fd.lastAccessTime = toFileTime(sx.stx_atime.tv_sec, sx.stx_atime.tv_nsec);
  fd.creationTime = (sx.stx_mask & STATX_BTIME) ? toFileTime(sx.stx_btime.tv_sec, sx.stx_btime.tv_nsec)
                                                 : fd.lastWriteTime;
  return true;
}

// A probe for a share-mode-0 holder: fails when another open holds the file
// exclusively.
bool heldExclusively(const std::string& p) {
  int fd = ::open(p.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return false;
  bool held = ::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  ::close(fd);
  return held;
}

// The same probe, kept while the caller unlinks the file: an exclusive open
// cannot take its lock in between, and one that opened the file just before
// finds it unlinked once it has its lock (see createFile), so nobody is left
// holding a lock on a file that is gone.
class ShareProbe {
 public:
  explicit ShareProbe(const std::string& p) : fd_(::open(p.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW)) {
    if (fd_ >= 0 && ::flock(fd_, LOCK_SH | LOCK_NB) != 0) held_ = errno == EWOULDBLOCK;
  }
  ~ShareProbe() {
    if (fd_ >= 0) ::close(fd_);
  }
  ShareProbe(const ShareProbe&) = delete;
  ShareProbe& operator=(const ShareProbe&) = delete;
  bool heldExclusively() const { return held_; }

 private:
  int fd_;
  bool held_ = false;
};

bool copyFile(const std::string& from, const std::string& to, bool replace) {
  int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return fail(errnoError(errno, from));
  int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | (replace ? O_TRUNC : O_EXCL), 0666);
  if (out < 0) {
    int e = errno;
    ::close(in);
    return fail(e == EEXIST ? ERROR_FILE_EXISTS : errnoError(e, to));
  }
  std::vector<char> buf(1 << 16);
  bool ok = true;
  int err = 0;
  for (;;) {
    ssize_t n = ::read(in, buf.data(), buf.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ok = false;
      err = errno;
      break;
    }
    if (n == 0) break;
    ssize_t done = 0;
    while (done < n) {
      ssize_t w = ::write(out, buf.data() + done, static_cast<size_t>(n - done));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) {
        ok = false;
        err = w < 0 ? errno : ENOSPC;
        break;
      }
      done += w;
    }
    if (!ok) break;
  }
  ::close(in);
  if (::close(out) != 0 && ok) {
    ok = false;
    err = errno;
  }
  if (!ok) {
    ::unlink(to.c_str());
    return fail(errorFromErrno(err));
  }
  return true;
}

void putU16(uint8_t* p, uint16_t v) { std::memcpy(p, &v, 2); }
void putU32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }

}  // namespace

// ---------------------------------------------------------------------------

void setCaseFoldFunction(CaseFoldFn fold) { gFold.store(fold); }

CaseFoldFn caseFoldFunction() {
  CaseFoldFn f = gFold.load();
  return f ? f : &asciiFold;
}


FileCallCounts fileCallCounts() {
  FileCallCounts c;
  c.opens = gCalls.opens.load(std::memory_order_relaxed);
  c.closes = gCalls.closes.load(std::memory_order_relaxed);
  c.reads = gCalls.reads.load(std::memory_order_relaxed);
  c.writes = gCalls.writes.load(std::memory_order_relaxed);
  c.seeks = gCalls.seeks.load(std::memory_order_relaxed);
  c.stats = gCalls.stats.load(std::memory_order_relaxed);
  return c;
}

Handle createFile(std::u16string_view path, uint32_t access, uint32_t shareMode, uint32_t disposition,
                  uint32_t flags) {
  std::string p;
  int oflags = O_CLOEXEC;
  if (flags & FILE_FLAG_OPEN_REPARSE_POINT) {
    if (!resolveExisting(path, p)) return INVALID_HANDLE_VALUE;
    tally(gCalls.opens);
    int fd = ::open(p.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
      setLastError(errnoError(errno, p));
      return INVALID_HANDLE_VALUE;
    }
    auto f = std::make_shared<FileObject>();
    f->fd = fd;
    f->pathOnly = true;
    setLastError(0);
    return addHandle({f, nullptr});
  }
  bool rd = access & GENERIC_READ, wr = access & GENERIC_WRITE;
  oflags |= (rd && wr) ? O_RDWR : wr ? O_WRONLY : O_RDONLY;
  bool truncate = false;
  bool resolved = false;
  switch (disposition) {
    case CREATE_NEW: oflags |= O_CREAT | O_EXCL; break;
    case CREATE_ALWAYS: oflags |= O_CREAT; truncate = true; break;
    case OPEN_EXISTING: resolved = true; break;
    case OPEN_ALWAYS: oflags |= O_CREAT; break;
    case TRUNCATE_EXISTING:
      resolved = true;
      truncate = true;
      if (!wr) {
        setLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
      }
      break;
    default: setLastError(ERROR_INVALID_PARAMETER); return INVALID_HANDLE_VALUE;
  }
  if (!(resolved ? resolveExisting(path, p) : resolveForCreate(path, p))) return INVALID_HANDLE_VALUE;
  tally(gCalls.opens);
  int fd = ::open(p.c_str(), oflags, 0666);
  if (fd < 0) {
    int e = errno;
    setLastError(e == EEXIST ? ERROR_FILE_EXISTS : e == ENOENT && (oflags & O_CREAT) ? ERROR_PATH_NOT_FOUND
                                                                                    : errnoError(e, p));
    return INVALID_HANDLE_VALUE;
  }
  struct stat st {};
  tally(gCalls.stats);
  const bool statted = ::fstat(fd, &st) == 0;
  if (statted && S_ISDIR(st.st_mode) && !(flags & FILE_FLAG_BACKUP_SEMANTICS)) {
    ::close(fd);
    setLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  // A READONLY file (owner write bit clear) refuses writers whoever opens
  // it; root would otherwise write through it.
  if (statted && wr && S_ISREG(st.st_mode) && !(st.st_mode & S_IWUSR)) {
    ::close(fd);
    setLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  // The share mode is taken before any truncation, so a refused open never
  // touches the holder's data.
  detail::runBeforeShareLock();
  if (::flock(fd, (shareMode == 0 ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0) {
    int e = errno;
    ::close(fd);
    setLastError(e == EWOULDBLOCK ? ERROR_SHARING_VIOLATION : errorFromErrno(e));
    return INVALID_HANDLE_VALUE;
  }
  // A file deleted between the open and the lock (another run's clean-up of a
  // lock file that was not held yet) must not be handed out as held: the
  // caller would guard a name that no longer exists.
  struct stat locked;
  if (S_ISREG(st.st_mode)) tally(gCalls.stats);
  if (S_ISREG(st.st_mode) && ::fstat(fd, &locked) == 0 && locked.st_nlink == 0) {
    ::close(fd);
    setLastError(ERROR_SHARING_VIOLATION);
    return INVALID_HANDLE_VALUE;
  }
  if (truncate && S_ISREG(st.st_mode) && ::ftruncate(fd, 0) != 0) {
    int e = errno;
    ::close(fd);
    setLastError(errorFromErrno(e));
    return INVALID_HANDLE_VALUE;
  }
  auto f = std::make_shared<FileObject>();
  f->fd = fd;
  // CREATE_ALWAYS and OPEN_ALWAYS report 183 when the file was there before,
  // as the original services do; callers treat the open as a success.
  setLastError(0);
  return addHandle({f, nullptr});
}

bool closeHandle(Handle h) {
  HandleEntry e;
  {
    std::lock_guard<std::mutex> g(gHandleLock);
    auto it = gHandles.find(h);
    if (it == gHandles.end()) return fail(ERROR_INVALID_HANDLE);
    e = std::move(it->second);
    gHandles.erase(it);
  }
  // Closing the descriptor releases its flock. The last holder closes it:
  // here, or the call still running through it when that call ends (the
  // count's release orders the call's last use before the close). Linux
  // frees a descriptor even when close reports an error, so there is
  // nothing to retry.
  e.file.reset();
  return true;
}

bool readFile(Handle h, void* buffer, uint32_t count, uint32_t* transferred) {
  if (transferred) *transferred = 0;
  auto f = fileOf(h);
  if (!f || f->pathOnly) return fail(ERROR_INVALID_HANDLE);
  uint32_t done = 0;
  auto* p = static_cast<char*>(buffer);
  while (done < count) {
    tally(gCalls.reads);
    ssize_t n = ::read(f->fd, p + done, count - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      if (transferred) *transferred = done;
      return fail(errno == EISDIR ? ERROR_ACCESS_DENIED : errorFromErrno(errno));
    }
    if (n == 0) break;
    done += static_cast<uint32_t>(n);
  }
  if (transferred) *transferred = done;
  return true;
}

bool writeFile(Handle h, const void* buffer, uint32_t count, uint32_t* transferred) {
  if (transferred) *transferred = 0;
  auto f = fileOf(h);
  if (!f || f->pathOnly) return fail(ERROR_INVALID_HANDLE);
  uint32_t limit = count;
  uint32_t injected = 0;
  bool shortWrite = detail::takeShortWrite(limit, injected) && limit < count;
  if (!shortWrite) limit = count;
  uint32_t done = 0;
  const auto* p = static_cast<const char*>(buffer);
  while (done < limit) {
    tally(gCalls.writes);
    ssize_t n = ::write(f->fd, p + done, limit - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (transferred) *transferred = done;
      return fail(n < 0 ? errorFromErrno(errno) : ERROR_DISK_FULL);
    }
    done += static_cast<uint32_t>(n);
  }
  if (transferred) *transferred = done;
  if (shortWrite) return fail(injected);
  return true;
}

bool readFileAt(Handle h, int64_t offset, void* buffer, uint32_t count, uint32_t* transferred) {
  if (transferred) *transferred = 0;
  auto f = fileOf(h);
  if (!f || f->pathOnly) return fail(ERROR_INVALID_HANDLE);
  if (offset < 0) return fail(errorFromErrno(EINVAL));
  uint32_t done = 0;
  auto* p = static_cast<char*>(buffer);
  while (done < count) {
    tally(gCalls.reads);
    ssize_t n = ::pread(f->fd, p + done, count - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      if (transferred) *transferred = done;
      return fail(errno == EISDIR ? ERROR_ACCESS_DENIED : errorFromErrno(errno));
    }
    if (n == 0) break;
    done += static_cast<uint32_t>(n);
  }
  if (transferred) *transferred = done;
  return true;
}

bool writeFileAt(Handle h, int64_t offset, const void* buffer, uint32_t count, uint32_t* transferred) {
  if (transferred) *transferred = 0;
  auto f = fileOf(h);
  if (!f || f->pathOnly) return fail(ERROR_INVALID_HANDLE);
  if (offset < 0) return fail(errorFromErrno(EINVAL));
  uint32_t limit = count;
  uint32_t injected = 0;
  bool shortWrite = detail::takeShortWrite(limit, injected) && limit < count;
  if (!shortWrite) limit = count;
  uint32_t done = 0;
  const auto* p = static_cast<const char*>(buffer);
  while (done < limit) {
    tally(gCalls.writes);
    ssize_t n = ::pwrite(f->fd, p + done, limit - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (transferred) *transferred = done;
      return fail(n < 0 ? errorFromErrno(errno) : ERROR_DISK_FULL);
    }
    done += static_cast<uint32_t>(n);
  }
  if (transferred) *transferred = done;
  if (shortWrite) return fail(injected);
  return true;
}

int64_t getFileSize(Handle h) {
  auto f = fileOf(h);
  if (!f) {
    setLastError(ERROR_INVALID_HANDLE);
    return -1;
  }
  struct stat st;
  tally(gCalls.stats);
  if (::fstat(f->fd, &st) != 0) {
    setLastError(errorFromErrno(errno));
    return -1;
  }
  setLastError(0);
  return static_cast<int64_t>(st.st_size);
}

int64_t setFilePointer(Handle h, int64_t distance, uint32_t method) {
  auto f = fileOf(h);
  if (!f || f->pathOnly) {
    setLastError(ERROR_INVALID_HANDLE);
    return -1;
  }
  int whence = method == FILE_BEGIN ? SEEK_SET : method == FILE_CURRENT ? SEEK_CUR : method == FILE_END ? SEEK_END : -1;
  if (whence < 0) {
    setLastError(ERROR_INVALID_PARAMETER);
    return -1;
  }
  tally(gCalls.seeks);
  off_t r = ::lseek(f->fd, static_cast<off_t>(distance), whence);
  if (r < 0) {
    setLastError(errorFromErrno(errno));
    return -1;
  }
  setLastError(0);
  return static_cast<int64_t>(r);
}

bool setEndOfFile(Handle h) {
  auto f = fileOf(h);
  if (!f || f->pathOnly) return fail(ERROR_INVALID_HANDLE);
  tally(gCalls.seeks);
  off_t pos = ::lseek(f->fd, 0, SEEK_CUR);
  if (pos < 0 || ::ftruncate(f->fd, pos) != 0) return fail(errorFromErrno(errno));
  return true;
}

bool deviceIoControl(Handle h, uint32_t code, void* out, uint32_t outSize, uint32_t* returned) {
  if (returned) *returned = 0;
  auto f = fileOf(h);
  if (!f) return fail(ERROR_INVALID_HANDLE);
  if (code != FSCTL_GET_REPARSE_POINT) return fail(ERROR_INVALID_PARAMETER);
  std::vector<char> buf(4096);
  ssize_t n;
  for (;;) {
    n = ::readlinkat(f->fd, "", buf.data(), buf.size());
    if (n < 0) return fail(errno == EINVAL || errno == ENOENT ? ERROR_NOT_A_REPARSE_POINT : errorFromErrno(errno));
    if (static_cast<size_t>(n) < buf.size()) break;
    buf.resize(buf.size() * 2);
  }
  std::string target(buf.data(), static_cast<size_t>(n));
  bool relative = target.empty() || target[0] != '/';
  std::u16string print = fromPosixPath(target);
  std::u16string subst = relative ? print : u"\\??\\" + print;
  uint32_t substBytes = static_cast<uint32_t>(subst.size() * 2), printBytes = static_cast<uint32_t>(print.size() * 2);
  uint32_t total = 20 + substBytes + printBytes;
  if (total > 0xFFFF || !out || outSize < total) return fail(ERROR_INSUFFICIENT_BUFFER);
  auto* b = static_cast<uint8_t*>(out);
  putU32(b + 0, IO_REPARSE_TAG_SYMLINK);
  putU16(b + 4, static_cast<uint16_t>(total - 8));
  putU16(b + 6, 0);
  putU16(b + 8, 0);                                         // substitute name offset
  putU16(b + 10, static_cast<uint16_t>(substBytes));        // substitute name length
  putU16(b + 12, static_cast<uint16_t>(substBytes));        // print name offset
  putU16(b + 14, static_cast<uint16_t>(printBytes));        // print name length
  putU32(b + 16, relative ? 1u : 0u);                       // flags: 1 = relative target
  std::memcpy(b + 20, subst.data(), substBytes);
  std::memcpy(b + 20 + substBytes, print.data(), printBytes);
  if (returned) *returned = total;
  setLastError(0);
  return true;
}

bool deleteFile(std::u16string_view path) {
  std::string p;
  if (!resolveExisting(path, p)) return false;
  struct stat lst;
  if (::lstat(p.c_str(), &lst) != 0) return fail(errnoError(errno, p));
  struct stat st;
  if (S_ISDIR(lst.st_mode) || (S_ISLNK(lst.st_mode) && ::stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode)))
    return fail(ERROR_ACCESS_DENIED);
  if (!S_ISREG(lst.st_mode)) {
    if (::unlink(p.c_str()) != 0) return fail(errnoError(errno, p));
    return true;
  }
  ShareProbe probe(p);
  if (probe.heldExclusively()) return fail(ERROR_SHARING_VIOLATION);
  detail::runBeforeUnlink();
  if (::unlink(p.c_str()) != 0) return fail(errnoError(errno, p));
  return true;
}

bool moveFileEx(std::u16string_view from, std::u16string_view to, uint32_t flags) {
  std::string src, dst;
  if (!resolveExisting(from, src)) return false;
  if (!resolveForCreate(to, dst)) return false;
  struct stat lst;
  if (::lstat(src.c_str(), &lst) != 0) return fail(errnoError(errno, src));
  if (S_ISREG(lst.st_mode) && heldExclusively(src)) return fail(ERROR_SHARING_VIOLATION);
  bool replace = flags & MOVEFILE_REPLACE_EXISTING;
  struct stat dst_st;
  if (replace && ::lstat(dst.c_str(), &dst_st) == 0 && S_ISREG(dst_st.st_mode) && heldExclusively(dst))
    return fail(ERROR_SHARING_VIOLATION);
  int r;
  if (replace) {
    r = ::rename(src.c_str(), dst.c_str());
  } else {
    r = ::renameat2(AT_FDCWD, src.c_str(), AT_FDCWD, dst.c_str(), RENAME_NOREPLACE);
    if (r != 0 && errno == EINVAL) {
      // A file system without RENAME_NOREPLACE.
      if (exists(dst)) return fail(ERROR_FILE_EXISTS);
      r = ::rename(src.c_str(), dst.c_str());
    }
  }
  if (r == 0) return true;
  int e = errno;
  if (e == EEXIST || e == ENOTEMPTY) return fail(replace ? ERROR_ACCESS_DENIED : ERROR_FILE_EXISTS);
  if (e == EXDEV) {
    if (!S_ISREG(lst.st_mode)) return fail(ERROR_NOT_SAME_DEVICE);
    if (!copyFile(src, dst, replace)) return false;
    if (::unlink(src.c_str()) != 0) return fail(errnoError(errno, src));
    return true;
  }
  if (e == ENOENT) return fail(exists(src) ? ERROR_PATH_NOT_FOUND : missingError(src));
  return fail(errnoError(e, dst));
}

bool createDirectory(std::u16string_view path) {
  std::string p;
  if (!resolveForCreate(path, p)) return false;
  if (::mkdir(p.c_str(), 0777) != 0) {
    int e = errno;
    return fail(e == EEXIST ? ERROR_ALREADY_EXISTS : e == ENOENT ? ERROR_PATH_NOT_FOUND : errnoError(e, p));
  }
  return true;
}

bool ensurePrivateDirectory(std::u16string_view path) {
  std::string p;
  if (!resolveForCreate(path, p)) return false;
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  if (::mkdir(p.c_str(), 0700) != 0 && errno != EEXIST)
    return fail(errno == ENOENT ? ERROR_PATH_NOT_FOUND : errnoError(errno, p));
  struct stat st;
  if (::lstat(p.c_str(), &st) != 0) return fail(errnoError(errno, p));
  if (!S_ISDIR(st.st_mode) || st.st_uid != ::getuid()) return fail(ERROR_ACCESS_DENIED);
  if ((st.st_mode & 077) != 0 && ::chmod(p.c_str(), st.st_mode & 0700) != 0) return fail(errnoError(errno, p));
  return true;
}

bool removeDirectory(std::u16string_view path) {
  std::string p;
  if (!resolveExisting(path, p)) return false;
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  struct stat lst;
  if (::lstat(p.c_str(), &lst) != 0) return fail(errnoError(errno, p));
  if (S_ISLNK(lst.st_mode)) {
    // A link to a folder is removed itself; its target is never touched.
    struct stat st;
    if (::stat(p.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return fail(ERROR_DIRECTORY);
    if (::unlink(p.c_str()) != 0) return fail(errnoError(errno, p));
    return true;
  }
  if (!S_ISDIR(lst.st_mode)) return fail(ERROR_DIRECTORY);
  if (::rmdir(p.c_str()) != 0) {
    int e = errno;
    return fail(e == ENOTEMPTY || e == EEXIST ? ERROR_DIR_NOT_EMPTY : errnoError(e, p));
  }
  return true;
}

uint32_t getFileAttributes(std::u16string_view path) {
  std::string p;
  if (!resolveExisting(path, p)) return INVALID_FILE_ATTRIBUTES;
  struct stat lst;
  if (::lstat(p.c_str(), &lst) != 0) {
    setLastError(errnoError(errno, p));
    return INVALID_FILE_ATTRIBUTES;
  }
  struct stat st;
  bool haveTarget = S_ISLNK(lst.st_mode) && ::stat(p.c_str(), &st) == 0;
  setLastError(0);
  return attributesOf(lastComponent(p), lst, haveTarget ? &st : nullptr);
}

bool setFileAttributes(std::u16string_view path, uint32_t attributes) {
  std::string p;
  if (!resolveExisting(path, p)) return false;
  struct stat st;
  if (::stat(p.c_str(), &st) != 0) return fail(errnoError(errno, p));
  mode_t mode = st.st_mode & 07777;
  mode = (attributes & FILE_ATTRIBUTE_READONLY) ? (mode & ~S_IWUSR) : (mode | S_IWUSR);
  if (mode != (st.st_mode & 07777) && ::chmod(p.c_str(), mode) != 0) return fail(errnoError(errno, p));
  return true;
}

int64_t getCompressedFileSize(std::u16string_view path) {
  std::string p;
  if (!resolveExisting(path, p)) return -1;
  struct stat st;
  if (::stat(p.c_str(), &st) != 0) {
    setLastError(errnoError(errno, p));
    return -1;
  }
  return S_ISDIR(st.st_mode) ? 0 : static_cast<int64_t>(st.st_size);
}

bool matchWildcard(std::u16string_view pattern, std::u16string_view name) {
  if (pattern == u"*.*" || pattern == u"*") return true;
  CaseFoldFn fold = caseFoldFunction();
  auto eq = [&](char16_t a, char16_t b) { return fold(a) == fold(b); };
  size_t p = 0, n = 0, starP = std::u16string_view::npos, starN = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == u'?' || (pattern[p] != u'*' && eq(pattern[p], name[n])))) {
      ++p;
      ++n;
    } else if (p < pattern.size() && pattern[p] == u'*') {
      starP = p++;
      starN = n;
    } else if (starP != std::u16string_view::npos) {
      p = starP + 1;
      n = ++starN;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == u'*') ++p;
  return p == pattern.size();
}

Handle findFirstFile(std::u16string_view pattern, FindData& data) {
  size_t cut = pattern.find_last_of(u"\\/");
  std::u16string_view folder, mask;
  if (cut == std::u16string_view::npos) {
    bool drive = pattern.size() >= 2 && pattern[1] == u':';
    folder = drive ? pattern.substr(0, 2) : std::u16string_view();
    mask = drive ? pattern.substr(2) : pattern;
  } else {
    folder = pattern.substr(0, cut + 1);
    mask = pattern.substr(cut + 1);
  }
  std::string dir;
  if (folder.empty()) {
    dir = ".";
  } else if (!resolveExisting(folder, dir)) {
    if (getLastError() == ERROR_FILE_NOT_FOUND) setLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  if (dir.empty()) dir = ".";
  if (mask.empty()) {
    setLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  DIR* d = ::opendir(dir.c_str());
  if (!d) {
    int e = errno;
    setLastError(e == ENOENT || e == ENOTDIR ? ERROR_PATH_NOT_FOUND : errorFromErrno(e));
    return INVALID_HANDLE_VALUE;
  }
  auto obj = std::make_shared<FindObject>();
  std::vector<std::string> names;
  while (dirent* e = ::readdir(d)) {
    std::string n = e->d_name;
    if (matchWildcard(mask, fileNameFromBytes(n))) names.push_back(n);
  }
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    // "." and ".." first, as the original services list them.
    auto rank = [](const std::string& s) { return s == "." ? 0 : s == ".." ? 1 : 2; };
    if (rank(a) != rank(b)) return rank(a) < rank(b);
    return a < b;
  });
  int dfd = ::dirfd(d);
  for (const std::string& n : names) {
    FindData fd;
    if (describe(dfd, n, fd)) obj->entries.push_back(std::move(fd));
  }
  ::closedir(d);
  if (obj->entries.empty()) {
    setLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  data = obj->entries[0];
  obj->next = 1;
  setLastError(0);
  return addHandle({nullptr, obj});
}

bool findNextFile(Handle h, FindData& data) {
  auto f = findOf(h);
  if (!f) return fail(ERROR_INVALID_HANDLE);
  if (f->next >= f->entries.size()) return fail(ERROR_NO_MORE_FILES);
  data = f->entries[f->next++];
  return true;
}

bool findClose(Handle h) {
  std::lock_guard<std::mutex> g(gHandleLock);
  auto it = gHandles.find(h);
  if (it == gHandles.end() || !it->second.find) return fail(ERROR_INVALID_HANDLE);
  gHandles.erase(it);
  return true;
}

std::u16string getCurrentDirectory() {
  std::vector<char> buf(4096);
  while (::getcwd(buf.data(), buf.size()) == nullptr) {
    if (errno != ERANGE) {
      setLastError(errorFromErrno(errno));
      return {};
    }
    buf.resize(buf.size() * 2);
  }
  return fromPosixPath(buf.data());
}

bool setCurrentDirectory(std::u16string_view path) {
  std::string p;
  if (!resolveExisting(path, p)) return false;
  if (::chdir(p.c_str()) != 0) return fail(errnoError(errno, p));
  return true;
}

std::u16string getModuleFileName() {
  std::vector<char> buf(4096);
  for (;;) {
    ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size());
    if (n < 0) {
      setLastError(errorFromErrno(errno));
      return {};
    }
    if (static_cast<size_t>(n) < buf.size()) return fromPosixPath(std::string_view(buf.data(), static_cast<size_t>(n)));
    buf.resize(buf.size() * 2);
  }
}

std::u16string getCommandLine() {
  std::string raw;
  if (FILE* f = std::fopen("/proc/self/cmdline", "rb")) {
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) raw.append(buf, n);
    std::fclose(f);
  }
  std::vector<std::string> words;
  size_t i = 0;
  while (i < raw.size()) {
    size_t j = raw.find('\0', i);
    if (j == std::string::npos) j = raw.size();
    words.push_back(raw.substr(i, j - i));
    i = j + 1;
  }
  std::u16string line;
  for (size_t k = 0; k < words.size(); ++k) {
    const std::string& w = words[k];
    std::u16string word = (!w.empty() && w[0] == '/' && exists(w)) ? fromPosixPath(w) : fileNameFromBytes(w);
    appendCommandWord(line, word);
  }
  return line;
}

bool getShortPathBytes(std::u16string_view path, std::string& out) {
  uint32_t err = toPosixPath(path, out);
  if (err != 0) return fail(err);
  return true;
}

bool fileTimeToLocalFileTime(FileTime utc, FileTime& local) {
  int64_t secs = static_cast<int64_t>(utc / 10000000ULL) - 11644473600LL;
  time_t t = static_cast<time_t>(secs);
  struct tm tmv;
  if (!::localtime_r(&t, &tmv)) return fail(ERROR_INVALID_PARAMETER);
  local = static_cast<FileTime>(static_cast<int64_t>(utc) + static_cast<int64_t>(tmv.tm_gmtoff) * 10000000LL);
  return true;
}

bool fileTimeToSystemTime(FileTime t, SystemTime& out) {
  int64_t secs = static_cast<int64_t>(t / 10000000ULL) - 11644473600LL;
  time_t tt = static_cast<time_t>(secs);
  struct tm tmv;
  if (!::gmtime_r(&tt, &tmv)) return fail(ERROR_INVALID_PARAMETER);
  out.year = static_cast<uint16_t>(tmv.tm_year + 1900);
  out.month = static_cast<uint16_t>(tmv.tm_mon + 1);
  out.dayOfWeek = static_cast<uint16_t>(tmv.tm_wday);
  out.day = static_cast<uint16_t>(tmv.tm_mday);
  out.hour = static_cast<uint16_t>(tmv.tm_hour);
  out.minute = static_cast<uint16_t>(tmv.tm_min);
  out.second = static_cast<uint16_t>(tmv.tm_sec);
  out.milliseconds = static_cast<uint16_t>((t / 10000ULL) % 1000ULL);
  return true;
}

uint32_t setErrorMode(uint32_t mode) { return gErrorMode.exchange(mode); }

}  // namespace platform::os
