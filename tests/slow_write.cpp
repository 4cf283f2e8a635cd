// Preloaded into a dynamically linked trislip: every write to a regular
// file waits 2 ms and writes at most 4096 bytes, so that a signal can land
// in the middle of the program's writes.
#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

extern "C" ssize_t write(int fd, const void* buf, size_t n) {
  using write_fn = ssize_t (*)(int, const void*, size_t);
  static const auto real = reinterpret_cast<write_fn>(dlsym(RTLD_NEXT, "write"));
  struct stat st;
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    usleep(2000);
    if (n > 4096) n = 4096;
  }
  return real(fd, buf, n);
}
