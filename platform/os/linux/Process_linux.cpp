// The named mutex as a lock file: flock locks end with the process that holds
// them, which gives a named mutex's "released when its owner dies".
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "platform/os/process.h"

namespace platform::os {

struct NamedMutexRecord {
  int fd = -1;
  bool owned = false;
};

std::string namedMutexPath(const std::string& name) {
  const char* dir = std::getenv("XDG_RUNTIME_DIR");
  if (!dir || !*dir || access(dir, W_OK) != 0) dir = std::getenv("TMPDIR");
  if (!dir || !*dir) dir = "/tmp";
  std::string file;
  for (char c : name) file += (c == '/' || c == '\0') ? '_' : c;
  return std::string(dir) + "/" + file + ".lock";
}

NamedMutex openOrCreateNamedMutex(const std::string& name) {
  int fd = open(namedMutexPath(name).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return nullptr;
  auto* rec = new NamedMutexRecord;
  rec->fd = fd;
  rec->owned = flock(fd, LOCK_EX | LOCK_NB) == 0;
  return rec;
}

WaitResult tryTakeNamedMutex(NamedMutex mutex) {
  if (!mutex) return WaitResult::Timeout;
  if (mutex->owned) return WaitResult::Signaled;
  int rc;
  do {
    rc = flock(mutex->fd, LOCK_EX | LOCK_NB);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) return WaitResult::Timeout;
  mutex->owned = true;
  return WaitResult::Abandoned;
}

bool namedMutexOwned(NamedMutex mutex) { return mutex && mutex->owned; }

void closeNamedMutex(NamedMutex mutex) {
  if (!mutex) return;
  if (mutex->owned) flock(mutex->fd, LOCK_UN);
  close(mutex->fd);
  delete mutex;
}

namespace {
std::mutex g_debugMutex;
std::function<void(const std::string&)> g_debugSink;
}  // namespace

void outputDebugString(const std::string& utf8) {
  std::lock_guard<std::mutex> guard(g_debugMutex);
  if (g_debugSink) {
    g_debugSink(utf8);
    return;
  }
  std::fwrite(utf8.data(), 1, utf8.size(), stderr);
  std::fputc('\n', stderr);
}

void setDebugOutputSink(std::function<void(const std::string&)> sink) {
  std::lock_guard<std::mutex> guard(g_debugMutex);
  g_debugSink = std::move(sink);
}

}  // namespace platform::os
