// Preloaded into a dynamically linked trislip: every write to a regular
// file waits 2 ms and writes at most 4096 bytes, so that a signal can land
// in the middle of the program's writes. With TRISLIP_SLOW_WRITE_GO set,
// the writes after the first one to Tri_Slip.csv wait (up to 10 s) until
// that file exists: a test that sends its signal once it sees that write
// creates it just before, so the signal lands in the writes however late
// the test gets to run on a loaded machine.
#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

extern "C" ssize_t write(int fd, const void* buf, size_t n) {
  using write_fn = ssize_t (*)(int, const void*, size_t);
  static const auto real = reinterpret_cast<write_fn>(dlsym(RTLD_NEXT, "write"));
  static bool slip_written = false;
  struct stat st;
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    const char* go = std::getenv("TRISLIP_SLOW_WRITE_GO");
    for (int waited = 0; slip_written && go != nullptr && waited < 10000 && access(go, F_OK) != 0; ++waited) {
      usleep(1000);
    }
    // Which file this is matters only until Tri_Slip.csv is first written.
    char link[64], name[4096];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t length = go != nullptr && !slip_written ? readlink(link, name, sizeof name - 1) : -1;
    if (length > 0) {
      name[length] = 0;
      const char* base = std::strrchr(name, '/');
      if (std::strcmp(base != nullptr ? base + 1 : name, "Tri_Slip.csv") == 0) slip_written = true;
    }
    usleep(2000);
    if (n > 4096) n = 4096;
  }
  return real(fd, buf, n);
}
