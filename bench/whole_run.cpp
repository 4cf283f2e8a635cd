// Times whole runs of two programs in alternation and prints the median
// wall time of each, their ratio and the peak resident memory.
//
//   trislip_whole_run RUNS DIR PROGRAM REFERENCE
//
// Each run starts in DIR with standard input and output on /dev/null.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

struct sample {
  double seconds;
  long max_rss_kib;
};

sample run_once(const char* program, const char* dir) {
  timespec start{}, end{};
  clock_gettime(CLOCK_MONOTONIC, &start);
  const pid_t pid = fork();
  if (pid == 0) {
    const int null_fd = open("/dev/null", O_RDWR);
    dup2(null_fd, 0);
    dup2(null_fd, 1);
    if (chdir(dir) != 0) _exit(126);
    execl(program, program, static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  clock_gettime(CLOCK_MONOTONIC, &end);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "%s did not end normally (status %d)\n", program, status);
    std::exit(1);
  }
  return {static_cast<double>(end.tv_sec - start.tv_sec) +
              static_cast<double>(end.tv_nsec - start.tv_nsec) * 1e-9,
          usage.ru_maxrss};
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const std::size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: %s RUNS DIR PROGRAM REFERENCE\n", argv[0]);
    return 2;
  }
  const int runs = std::atoi(argv[1]);
  const char* dir = argv[2];
  const char* programs[2] = {argv[3], argv[4]};
  std::vector<double> seconds[2];
  long rss[2] = {0, 0};
  for (int i = 0; i < runs; ++i) {
    // Alternate which goes first, so that neither always follows the other.
    for (int j = 0; j < 2; ++j) {
      const int which = (i + j) % 2;
      const sample s = run_once(programs[which], dir);
      seconds[which].push_back(s.seconds);
      rss[which] = std::max(rss[which], s.max_rss_kib);
    }
  }
  const double program = median(seconds[0]), reference = median(seconds[1]);
  std::printf("runs each:            %d\n", runs);
  std::printf("program median:       %.3f ms, peak RSS %ld KiB\n", program * 1e3, rss[0]);
  std::printf("reference median:     %.3f ms, peak RSS %ld KiB\n", reference * 1e3, rss[1]);
  std::printf("ratio:                %.2f\n", program / reference);
  return 0;
}
