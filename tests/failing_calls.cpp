// Preloaded into a dynamically linked trislip-custom: close() of a file
// whose path holds $TRISLIP_FAIL_CLOSE closes it and then reports EIO, as
// a file system that loses data at the last moment would, and rename() to
// a path that holds $TRISLIP_FAIL_RENAME fails with EIO. Signals at chosen
// moments: mkdir() of a path that holds $TRISLIP_SIGNAL_MKDIR raises SIGTERM
// first (before anything is staged), so does rename() to a path that holds
// $TRISLIP_SIGNAL_RENAME (while the run puts its files in place), and so
// does close() of a file whose path holds $TRISLIP_SIGNAL_CLOSE (the
// folder's lock, closed once they are in place).
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <dlfcn.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool names(const char* path, const char* variable) {
  const char* part = std::getenv(variable);
  return part != nullptr && *part != '\0' && path != nullptr && std::strstr(path, part) != nullptr;
}

}  // namespace

extern "C" int close(int fd) {
  using close_fn = int (*)(int);
  static const auto real = reinterpret_cast<close_fn>(dlsym(RTLD_NEXT, "close"));
  char link[64], path[PATH_MAX] = {};
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  const bool named = readlink(link, path, sizeof path - 1) > 0;
  const bool fails = named && names(path, "TRISLIP_FAIL_CLOSE");
  if (named && names(path, "TRISLIP_SIGNAL_CLOSE")) raise(SIGTERM);
  const int r = real(fd);
  if (r == 0 && fails) {
    errno = EIO;
    return -1;
  }
  return r;
}

extern "C" int rename(const char* from, const char* to) {
  using rename_fn = int (*)(const char*, const char*);
  static const auto real = reinterpret_cast<rename_fn>(dlsym(RTLD_NEXT, "rename"));
  if (names(to, "TRISLIP_FAIL_RENAME")) {
    errno = EIO;
    return -1;
  }
  if (names(to, "TRISLIP_SIGNAL_RENAME")) raise(SIGTERM);
  return real(from, to);
}

extern "C" int mkdir(const char* path, mode_t mode) {
  using mkdir_fn = int (*)(const char*, mode_t);
  static const auto real = reinterpret_cast<mkdir_fn>(dlsym(RTLD_NEXT, "mkdir"));
  if (names(path, "TRISLIP_SIGNAL_MKDIR")) raise(SIGTERM);
  return real(path, mode);
}
