// Times whole runs of two programs in alternation, each from an empty
// folder, and prints the minimum, median and maximum time of each, the
// ratio of the medians and the peak resident memory. The program's time is
// its whole run, and so is the reference's, unless --writes-alone is
// given: then it is what the reference reports on descriptor 3, the time
// of its write calls alone, its bytes already in memory. A measurement that cannot be right (the program's
// median below every run of the reference, which only writes the
// program's bytes, or runs so noisy that a median lies more than half
// above its minimum) is named as such instead of giving a ratio.
//
//   trislip_whole_run [--writes-alone] RUNS DIR PROGRAM REFERENCE [ARG...]
//
// Each run starts in DIR with standard input and output on /dev/null; the
// ARGs go to PROGRAM only (the reference writes fixed bytes).
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

struct sample {
  double seconds;
  long max_rss_kib;
};

// Dropping the files of the last run frees their pages; the next run
// should not pay for that, nor for writing them back.
void sync_written() { sync(); }

// Every run starts from an empty folder, so that each writes its files
// anew: what an earlier run left would otherwise be overwritten in place
// by one program and truncated first by another, which costs differently.
// Folders a run made (SPECFEM3D's time functions) go too.
void empty_folder(const char* dir) {
  DIR* d = opendir(dir);
  if (d == nullptr) return;
  while (const dirent* e = readdir(d)) {
    if (e->d_name[0] == '.' && (e->d_name[1] == '\0' || (e->d_name[1] == '.' && e->d_name[2] == '\0'))) {
      continue;
    }
    if (unlinkat(dirfd(d), e->d_name, 0) != 0) {
      const std::string inner = std::string(dir) + "/" + e->d_name;
      empty_folder(inner.c_str());
      unlinkat(dirfd(d), e->d_name, AT_REMOVEDIR);
    }
  }
  closedir(d);
}

sample run_once(char* const* argv, const char* dir, bool reference) {
  const char* program = argv[0];
  empty_folder(dir);
  sync_written();
  int report[2];
  if (pipe(report) != 0) {
    std::perror("pipe");
    std::exit(1);
  }
  timespec start{}, end{};
  clock_gettime(CLOCK_MONOTONIC, &start);
  const pid_t pid = fork();
  if (pid == 0) {
    const int null_fd = open("/dev/null", O_RDWR);
    dup2(null_fd, 0);
    dup2(null_fd, 1);
    if (reference) dup2(report[1], 3);
    close(report[0]);
    close(report[1]);
    if (chdir(dir) != 0) _exit(126);
    execv(program, argv);
    _exit(127);
  }
  close(report[1]);
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  clock_gettime(CLOCK_MONOTONIC, &end);
  char text[32] = {};
  const ssize_t got = read(report[0], text, sizeof text - 1);
  close(report[0]);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "%s did not end normally (status %d)\n", program, status);
    std::exit(1);
  }
  if (got > 0) return {std::strtod(text, nullptr) * 1e-9, usage.ru_maxrss};
  return {static_cast<double>(end.tv_sec - start.tv_sec) +
              static_cast<double>(end.tv_nsec - start.tv_nsec) * 1e-9,
          usage.ru_maxrss};
}

struct spread {
  double min, median, max;
};

spread spread_of(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const std::size_t n = v.size();
  return {v.front(), n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2, v.back()};
}

}  // namespace

int main(int argc, char** argv) {
  const bool writes_alone = argc > 1 && std::strcmp(argv[1], "--writes-alone") == 0;
  if (writes_alone) {
    argv[1] = argv[0];
    ++argv;
    --argc;
  }
  if (argc < 5) {
    std::fprintf(stderr, "usage: %s [--writes-alone] RUNS DIR PROGRAM REFERENCE [ARG...]\n", argv[0]);
    return 2;
  }
  char* end = nullptr;
  const long runs = std::strtol(argv[1], &end, 10);
  if (end == argv[1] || *end != '\0' || runs < 1 || runs > 100000) {
    std::fprintf(stderr, "%s: RUNS must be a whole number from 1 to 100000, not '%s'\n",
                 argv[0], argv[1]);
    return 2;
  }
  const char* dir = argv[2];
  // The program with its arguments, and the reference alone.
  std::vector<char*> program_argv{argv[3]};
  for (int i = 5; i < argc; ++i) program_argv.push_back(argv[i]);
  program_argv.push_back(nullptr);
  char* reference_argv[] = {argv[4], nullptr};
  char* const* programs[2] = {program_argv.data(), reference_argv};
  std::vector<double> seconds[2];
  long rss[2] = {0, 0};
  for (long i = 0; i < runs; ++i) {
    // Alternate which goes first, so that neither always follows the other.
    for (int j = 0; j < 2; ++j) {
      const auto which = static_cast<std::size_t>((i + j) % 2);
      const sample s = run_once(programs[which], dir, writes_alone && which == 1);
      seconds[which].push_back(s.seconds);
      rss[which] = std::max(rss[which], s.max_rss_kib);
    }
  }
  const spread program = spread_of(seconds[0]), reference = spread_of(seconds[1]);
  std::printf("runs each:            %ld\n", runs);
  std::printf("program   min/median/max: %.3f / %.3f / %.3f ms, peak RSS %ld KiB\n",
              program.min * 1e3, program.median * 1e3, program.max * 1e3, rss[0]);
  std::printf("reference min/median/max: %.3f / %.3f / %.3f ms%s, peak RSS %ld KiB\n",
              reference.min * 1e3, reference.median * 1e3, reference.max * 1e3,
              writes_alone ? " (its write calls alone)" : "", rss[1]);
  if (program.median < reference.min) {
    std::printf("ratio:                none: the program was faster than every run of the "
                "process that only writes its bytes, so the measurement is wrong\n");
  } else if (program.median > 1.5 * program.min || reference.median > 1.5 * reference.min) {
    std::printf("ratio:                none: the runs were too noisy (a median more than half "
                "above its minimum); measure again on a quiet machine\n");
  } else {
    std::printf("ratio:                %.2f\n", program.median / reference.median);
  }
  return 0;
}
