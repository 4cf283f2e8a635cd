// Every way a run of the real program can end: signals in the middle of
// its writes, result files that are pipes, console writes that fail and a
// file-size limit. Each must leave only whole records of this run and end
// with a truthful status.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "scratch.hpp"

namespace {

using clock_type = std::chrono::steady_clock;

struct setup {
  bool slow = false;               // the dynamic build with slowed writes
  const char* stdout_to = nullptr; // a path, or null for a file of the test's
  bool stdout_pipe_closed = false; // a pipe whose reader has gone
  bool close_stderr = false;
  rlim_t file_limit = RLIM_INFINITY;
  std::vector<int> signals;        // sent once Tri_Slip.csv begins with its header,
  int signal_after_ms = -1;        // or this long after the start
};

struct outcome {
  int status = -1;
  std::string out, err;
  double seconds_after_signal = 0;
  std::string slip_at_signal;  // Tri_Slip.csv as it was when the signals were sent
  bool exited_with(int code) const { return WIFEXITED(status) && WEXITSTATUS(status) == code; }
  bool killed_by(int sig) const { return WIFSIGNALED(status) && WTERMSIG(status) == sig; }
};

const char* const unit_6_report =
    "apparent state: unit 6 (unnamed)\n"
    "last format: list io\n"
    "lately writing sequential formatted external IO\n";

class endings : public scratch_test {
 protected:
  void SetUp() override {
    scratch_test::SetUp();
    // The correct files, from an undisturbed run.
    ASSERT_TRUE(run({}).exited_with(0));
    slip_ = read_file(path("Tri_Slip.csv"));
    amp_ = read_file(path("Tri_Amp.csv"));
    ASSERT_EQ(slip_.size(), 233516u);
    unlink(path("Tri_Slip.csv").c_str());
    unlink(path("Tri_Amp.csv").c_str());
  }

  outcome run(const setup& s) const {
    int out_pipe[2] = {-1, -1};
    if (s.stdout_pipe_closed && pipe(out_pipe) != 0) return {};
    unlink(path("go").c_str());
    const pid_t pid = fork();
    if (pid == 0) {
      const int in = open("/dev/null", O_RDONLY);
      const int out = s.stdout_pipe_closed ? out_pipe[1]
                      : s.stdout_to       ? open(s.stdout_to, O_WRONLY)
                                          : open(path("stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      const int err = open(path("stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(in, 0);
      dup2(out, 1);
      dup2(err, 2);
      if (s.stdout_pipe_closed) close(out_pipe[0]);
      if (s.close_stderr) close(2);
      const rlimit no_core{0, 0}, fsize{s.file_limit, s.file_limit};
      setrlimit(RLIMIT_CORE, &no_core);
      setrlimit(RLIMIT_FSIZE, &fsize);
      if (chdir(dir_.c_str()) != 0) _exit(126);
      if (s.slow) {
        setenv("LD_PRELOAD", TRISLIP_SLOW_WRITE_SHIM, 1);
        // Held after its first write until the signals go.
        if (s.signal_after_ms < 0 && !s.signals.empty()) setenv("TRISLIP_SLOW_WRITE_GO", path("go").c_str(), 1);
        execl(TRISLIP_DYNAMIC_BINARY, "trislip", static_cast<char*>(nullptr));
      } else {
        execl(TRISLIP_BINARY, "trislip", static_cast<char*>(nullptr));
      }
      _exit(127);
    }
    if (s.stdout_pipe_closed) close(out_pipe[0]), close(out_pipe[1]);
    outcome r;
    bool signalled = s.signals.empty();
    clock_type::time_point sent{};
    for (int waited_ms = 0; waitpid(pid, &r.status, WNOHANG) == 0; ++waited_ms) {
      // (A pipe is never read here: that would make this its reader.)
      if (!signalled && s.signal_after_ms < 0) r.slip_at_signal = read_file(path("Tri_Slip.csv"));
      if (!signalled && (s.signal_after_ms >= 0 ? waited_ms >= s.signal_after_ms
                                                : r.slip_at_signal.rfind(" time(s)", 0) == 0)) {
        if (s.slow) write_file(path("go"), "");
        for (int sig : s.signals) kill(pid, sig);
        signalled = true;
        sent = clock_type::now();
      }
      if (waited_ms > 20000) {
        kill(pid, SIGKILL);
        waitpid(pid, &r.status, 0);
        ADD_FAILURE() << "the program did not end within 20 s";
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (!s.signals.empty()) {
      r.seconds_after_signal = std::chrono::duration<double>(clock_type::now() - sent).count();
    }
    r.out = read_file(path("stdout"));
    r.err = read_file(path("stderr"));
    return r;
  }

  // The file holds the first records of this run, whole, and nothing else.
  void expect_whole_prefix(const std::string& text, const std::string& full) const {
    EXPECT_EQ(full.compare(0, text.size(), text), 0) << "not a prefix of this run's file";
    EXPECT_TRUE(text.empty() || text.back() == '\n') << "ends in a broken record";
  }

  std::string slip_, amp_;
};

TEST_F(endings, signals_during_the_writes_leave_whole_records_of_this_run) {
  struct ending {
    std::vector<int> signals;
    bool close_stderr;
    int exit_status;  // or, when 0, killed by the first signal
    const char* message;
  };
  const ending cases[] = {
      {{SIGINT}, false, 1, "Interrupt\n"},
      {{SIGTERM}, false, 1, "Killed\n"},
      {{SIGINT, SIGTERM}, false, 1, "Interrupt\n"},  // one handler, one message
      {{SIGINT}, true, 1, ""},
      {{SIGHUP}, false, 0, ""},
      {{SIGQUIT}, false, 0, ""},
  };
  for (const ending& c : cases) {
    SCOPED_TRACE("first signal " + std::to_string(c.signals[0]) + (c.close_stderr ? ", no stderr" : ""));
    write_file(path("Tri_Slip.csv"), std::string(1 << 20, 'x'));
    setup s;
    s.slow = true;
    s.signals = c.signals;
    s.close_stderr = c.close_stderr;
    const outcome r = run(s);
    if (c.exit_status != 0) {
      EXPECT_TRUE(r.exited_with(c.exit_status)) << r.status;
    } else {
      EXPECT_TRUE(r.killed_by(c.signals[0])) << r.status;
    }
    EXPECT_EQ(r.err, c.message);
    EXPECT_LT(r.seconds_after_signal, 1.0);
    const std::string slip = read_file(path("Tri_Slip.csv"));
    EXPECT_LT(slip.size(), slip_.size()) << "the run was not interrupted in its writes";
    expect_whole_prefix(slip, slip_);
    // Nothing that had reached the file is lost: the bytes of this run
    // seen when the signal went, whole records or not, are all still there.
    std::size_t reached = 0;
    while (reached < r.slip_at_signal.size() && r.slip_at_signal[reached] == slip_[reached]) ++reached;
    EXPECT_GE(slip.size(), reached);
    unlink(path("Tri_Slip.csv").c_str());
    unlink(path("Tri_Amp.csv").c_str());
  }
}

TEST_F(endings, result_files_that_are_pipes) {
  // Nobody reads: the write blocks, and a termination request still ends it.
  ASSERT_EQ(mkfifo(path("Tri_Slip.csv").c_str(), 0644), 0);
  setup blocked;
  blocked.signals = {SIGTERM};
  blocked.signal_after_ms = 300;
  outcome r = run(blocked);
  EXPECT_TRUE(r.exited_with(1)) << r.status;
  EXPECT_EQ(r.err, "Killed\n");
  EXPECT_LT(r.seconds_after_signal, 1.0);

  // A reader gets every byte, and a pipe needs no cutting.
  std::string got;
  std::thread reader([&] { got = read_file(path("Tri_Slip.csv")); });
  r = run({});
  reader.join();
  EXPECT_TRUE(r.exited_with(0)) << r.status;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(got, slip_);
}

TEST_F(endings, failed_console_writes_end_with_the_unit_6_report_after_complete_files) {
  setup full;
  full.stdout_to = "/dev/full";
  setup gone;
  gone.stdout_pipe_closed = true;
  const std::pair<setup, const char*> cases[] = {{full, "write: No space left on device\n"},
                                                 {gone, "write: Broken pipe\n"}};
  for (const auto& [s, cause] : cases) {
    const outcome r = run(s);
    EXPECT_TRUE(r.killed_by(SIGABRT)) << r.status;
    EXPECT_EQ(r.err, std::string(cause) + unit_6_report);
    EXPECT_EQ(read_file(path("Tri_Slip.csv")), slip_);
    EXPECT_EQ(read_file(path("Tri_Amp.csv")), amp_);
  }
}

TEST_F(endings, a_file_size_limit_is_reported_like_a_full_disk) {
  write_file(path("Tri_Slip.csv"), std::string(1 << 20, 'x'));
  setup s;
  s.file_limit = 100 * 1024;
  const outcome r = run(s);
  EXPECT_TRUE(r.killed_by(SIGABRT)) << r.status;
  EXPECT_EQ(r.err,
            "write: File too large\n"
            "apparent state: unit 11 named Tri_Slip.csv\n"
            "last format: (F8.4,3(',',F15.7))\n"
            "lately writing sequential formatted external IO\n");
  const std::string slip = read_file(path("Tri_Slip.csv"));
  EXPECT_GT(slip.size(), 100000u);
  expect_whole_prefix(slip, slip_);
}

}  // namespace
