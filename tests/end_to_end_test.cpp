// Runs the real program in a scratch directory with controlled standard
// input and checks everything it leaves behind: the console transcript,
// standard error, the exit status and both result files.
#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include <fcntl.h>
#include <grp.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "scratch.hpp"

namespace {

constexpr uid_t nobody = 65534;

const char* const transcript[] = {
    "",
    " Regularized Triangle Slip Velocity Function",
    "",
    "  dt,nt=  0.005 4096",
    "  Dmax,fmax,Tr,Ar=  1.  10.  1.633  0.95",
    "  TauMin,TauMax=  0.1  3.09672966",
    "",
    "  Slip functions are stored in Tri_Slip.csv",
    "  Fourier spectrum of slip velocity is stored in Tri_Amp.csv",
    "",
    "  DUR,DOM,NOM,EOM=  20.48  0.306796158 2048  628.318531",
    "  Highest Frequency (hz)=  100.",
    "",
    " Hit any key to stop",
};

// The first n console records, each with its line end.
std::string console_records(int n) {
  std::string s;
  for (int i = 0; i < n; ++i) s += std::string(transcript[i]) + "\n";
  return s;
}

std::string report(const char* cause, int unit, const char* name, bool format) {
  return std::string(cause) + "\napparent state: unit " + std::to_string(unit) + " named " +
         name + "\n" + (format ? "last format: list io\n" : "") +
         "lately writing sequential formatted external IO\n";
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t end = text.find('\n', at);
    if (end == std::string::npos) {
      lines.push_back(text.substr(at) + "<no line end>");
      break;
    }
    lines.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  return lines;
}

// 64-bit FNV-1a: guards every byte of the result files.
std::uint64_t fnv1a(const std::string& text) {
  std::uint64_t h = 0xcbf29ce484222325u;
  for (unsigned char c : text) h = (h ^ c) * 0x100000001b3u;
  return h;
}

struct outcome {
  int status = -1;
  std::string out, err;
  off_t input_consumed = -1;

  bool exited_with(int code) const { return WIFEXITED(status) && WEXITSTATUS(status) == code; }
  bool aborted() const { return WIFSIGNALED(status) && WTERMSIG(status) == SIGABRT; }
};

struct options {
  bool as_nobody = false;     // drop root before exec, so permissions bite
  bool ignore_sigint = false;
  int signal_at_prompt = 0;   // sent once the prompt is out
};

options unprivileged() {
  options o;
  o.as_nobody = true;
  return o;
}

options signal_at_prompt(int sig, bool ignore_sigint = false) {
  options o;
  o.signal_at_prompt = sig;
  o.ignore_sigint = ignore_sigint;
  return o;
}

// A scratch tree: base/trislip (a copy of the program that any user can
// run), base/work (the working directory) and the standard stream files.
class sandbox : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/trislip-e2e-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    base_ = tmpl;
    chmod(base_.c_str(), 0755);
    work_ = base_ + "/work";
    ASSERT_EQ(mkdir(work_.c_str(), 0755), 0);
    write_file(base_ + "/trislip", read_file(TRISLIP_BINARY));
    chmod((base_ + "/trislip").c_str(), 0755);
  }
  void TearDown() override {
    chmod(work_.c_str(), 0755);
    std::system(("rm -rf '" + base_ + "'").c_str());
  }

  std::string path(const char* name) const { return work_ + "/" + name; }
  std::string slip() const { return read_file(path("Tri_Slip.csv")); }
  std::string amp() const { return read_file(path("Tri_Amp.csv")); }
  bool exists(const char* name) const { return access(path(name).c_str(), F_OK) == 0; }

  // Lets an unprivileged run create files in the working directory.
  void give_work_to_nobody() const {
    if (geteuid() == 0) {
      ASSERT_EQ(chown(work_.c_str(), nobody, static_cast<gid_t>(-1)), 0);
    }
  }
  // Takes write permission away from the working directory itself.
  void lock_work() const {
    if (geteuid() != 0) chmod(work_.c_str(), 0555);
  }

  outcome run(const std::string& input, const options& opt = {}) const {
    const std::string in_path = base_ + "/stdin", out_path = base_ + "/stdout",
                      err_path = base_ + "/stderr";
    write_file(in_path, input);
    int in_fd = -1, pipe_fd[2] = {-1, -1};
    if (opt.signal_at_prompt != 0) {
      if (pipe(pipe_fd) != 0) return {};
      in_fd = pipe_fd[0];
    } else {
      in_fd = open(in_path.c_str(), O_RDONLY);
    }
    const int out_fd = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err_fd = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const std::string bin = base_ + "/trislip";

    const pid_t pid = fork();
    if (pid == 0) {
      dup2(in_fd, 0);
      dup2(out_fd, 1);
      dup2(err_fd, 2);
      if (pipe_fd[1] >= 0) close(pipe_fd[1]);
      const rlimit no_core{0, 0};
      setrlimit(RLIMIT_CORE, &no_core);
      if (opt.ignore_sigint) signal(SIGINT, SIG_IGN);
      if (opt.as_nobody && geteuid() == 0) {
        if (setgroups(0, nullptr) != 0 || setgid(nobody) != 0 || setuid(nobody) != 0) _exit(126);
      }
      if (chdir(work_.c_str()) != 0) _exit(126);
      execl(bin.c_str(), "trislip", static_cast<char*>(nullptr));
      _exit(127);
    }
    if (pipe_fd[0] >= 0) close(pipe_fd[0]);

    outcome result;
    bool signalled = opt.signal_at_prompt == 0;
    for (int waited_ms = 0;; waited_ms += 5) {
      const pid_t done = waitpid(pid, &result.status, WNOHANG);
      if (done == pid) break;
      if (!signalled && read_file(out_path).find("Hit any key to stop\n") != std::string::npos) {
        kill(pid, opt.signal_at_prompt);
        signalled = true;
        // The signal is pending before the end of input can be seen; an
        // ignored one leaves the end of input to finish the wait.
        close(pipe_fd[1]);
        pipe_fd[1] = -1;
      }
      if (waited_ms > 30000) {
        kill(pid, SIGKILL);
        waitpid(pid, &result.status, 0);
        ADD_FAILURE() << "the program did not end within 30 s";
        break;
      }
      usleep(5000);
    }
    if (pipe_fd[1] >= 0) close(pipe_fd[1]);
    if (opt.signal_at_prompt == 0) result.input_consumed = lseek(in_fd, 0, SEEK_CUR);
    close(in_fd);
    close(out_fd);
    close(err_fd);
    result.out = read_file(out_path);
    result.err = read_file(err_path);
    return result;
  }

  // The complete result files of the program's fixed parameters, as
  // recorded from a run whose listed records were checked one by one.
  void expect_complete_slip() const {
    const std::string text = slip();
    EXPECT_EQ(text.size(), 233516u);
    EXPECT_EQ(fnv1a(text), 4339842898577819818u) << "Tri_Slip.csv differs from the recorded run";
  }
  void expect_complete_amp() const {
    const std::string text = amp();
    EXPECT_EQ(text.size(), 73756u);
    EXPECT_EQ(fnv1a(text), 8719971183343507857u) << "Tri_Amp.csv differs from the recorded run";
  }

  std::string base_;
  std::string work_;
};

using end_to_end = sandbox;

TEST_F(end_to_end, complete_run_with_empty_input) {
  const outcome r = run("");
  EXPECT_TRUE(r.exited_with(0)) << r.status;
  EXPECT_EQ(r.out, console_records(14));
  EXPECT_EQ(r.err, "");

  const auto slip_lines = lines_of(slip());
  ASSERT_EQ(slip_lines.size(), 4097u);
  EXPECT_EQ(slip_lines[0], " time(s),velocity,displacement,acceleration");
  for (std::size_t i = 1; i < slip_lines.size(); ++i) {
    ASSERT_EQ(slip_lines[i].size(), 56u) << "record " << i;
  }
  EXPECT_EQ(slip_lines[1], "  0.0000,      0.0000000,      0.0000000,      0.0000000");
  EXPECT_EQ(slip_lines[2], "  0.0050,      0.3767355,      0.0009418,     75.3470927");
  EXPECT_EQ(slip_lines[13], "  0.0600,      4.5208256,      0.1356248,     75.3470927");
  EXPECT_EQ(slip_lines[21], "  0.1000,      2.6829590,      0.2824099,    -49.8173327");
  EXPECT_EQ(slip_lines[620], "  3.0950,      0.0000965,      0.9997552,     -0.0558153");
  EXPECT_EQ(slip_lines[621], "  3.1000,      0.0000000,      0.9997555,     -0.0193083");
  EXPECT_EQ(slip_lines[4096], " 20.4750,      0.0000000,      0.9997555,      0.0000000");

  const auto amp_lines = lines_of(amp());
  ASSERT_EQ(amp_lines.size(), 2049u);
  EXPECT_EQ(amp_lines[0], " freq(Hz),abs(vel),abs(acc)");
  for (std::size_t i = 1; i < amp_lines.size(); ++i) {
    ASSERT_EQ(amp_lines[i].size(), 35u) << "record " << i;
    ASSERT_EQ(amp_lines[i].substr(0, 8).find("100.0000"), std::string::npos);
  }
  EXPECT_EQ(amp_lines[1], "  0.0000,  0.1000E+01,  0.0000E+00,");
  EXPECT_EQ(amp_lines[2], "  0.0488,  0.9848E+00,  0.3021E+00,");
  EXPECT_EQ(amp_lines[3], "  0.0977,  0.9429E+00,  0.5785E+00,");
  EXPECT_EQ(amp_lines[86], "  4.1504,  0.1891E+00,  0.4930E+01,");
  EXPECT_EQ(amp_lines[2048], " 99.9512,  0.2396E-03,  0.1505E+00,");

  expect_complete_slip();
  expect_complete_amp();
}

TEST_F(end_to_end, a_line_of_text_ends_the_wait_and_the_rest_stays_unread) {
  const outcome r = run("stop\nsecond line\n");
  EXPECT_TRUE(r.exited_with(0)) << r.status;
  EXPECT_EQ(r.out, console_records(14));
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.input_consumed, 5);
}

TEST_F(end_to_end, older_files_are_replaced_exactly) {
  write_file(path("Tri_Slip.csv"), std::string(1 << 20, 'x'));
  write_file(path("Tri_Amp.csv"), "short\n");
  const outcome r = run("\n");
  EXPECT_TRUE(r.exited_with(0)) << r.status;
  expect_complete_slip();
  expect_complete_amp();
}

TEST_F(end_to_end, read_only_slip_file_stops_the_run_at_its_header) {
  const std::string old = "old contents\n";
  write_file(path("Tri_Slip.csv"), old);
  chmod(path("Tri_Slip.csv").c_str(), 0444);
  const outcome r = run("", unprivileged());
  EXPECT_TRUE(r.aborted()) << r.status;
  EXPECT_EQ(r.out, console_records(9));
  EXPECT_EQ(r.err, report("list output start: can't write file", 11, "Tri_Slip.csv", true));
  EXPECT_EQ(slip(), old);
  EXPECT_FALSE(exists("Tri_Amp.csv"));
}

TEST_F(end_to_end, read_only_amp_file_stops_the_run_at_its_header) {
  give_work_to_nobody();
  const std::string old = "old spectrum\n";
  write_file(path("Tri_Amp.csv"), old);
  chmod(path("Tri_Amp.csv").c_str(), 0444);
  const outcome r = run("", unprivileged());
  EXPECT_TRUE(r.aborted()) << r.status;
  EXPECT_EQ(r.out, console_records(12));
  EXPECT_EQ(r.err, report("list output start: can't write file", 12, "Tri_Amp.csv", true));
  EXPECT_EQ(amp(), old);
  expect_complete_slip();
}

TEST_F(end_to_end, unwritable_directory_is_reported_at_open) {
  lock_work();
  const outcome r = run("", unprivileged());
  EXPECT_TRUE(r.aborted()) << r.status;
  EXPECT_EQ(r.out, console_records(9));
  EXPECT_EQ(r.err, report("open: Permission denied", 11, "Tri_Slip.csv", true));
}

TEST_F(end_to_end, full_disk_is_reported_and_never_ends_normally) {
  ASSERT_EQ(symlink("/dev/full", path("Tri_Slip.csv").c_str()), 0);
  outcome r = run("");
  EXPECT_TRUE(r.aborted()) << r.status;
  EXPECT_EQ(r.out, console_records(9));
  EXPECT_EQ(r.err.rfind("write: No space left on device\n"
                        "apparent state: unit 11 named Tri_Slip.csv\n"
                        "last format: (F8.4,3(',',F15.7))\n",
                        0),
            0u)
      << r.err;

  ASSERT_EQ(unlink(path("Tri_Slip.csv").c_str()), 0);
  ASSERT_EQ(symlink("/dev/full", path("Tri_Amp.csv").c_str()), 0);
  r = run("");
  EXPECT_TRUE(r.aborted()) << r.status;
  EXPECT_EQ(r.out, console_records(12));
  EXPECT_EQ(r.err.rfind("write: No space left on device\napparent state: unit 12 named Tri_Amp.csv\n", 0),
            0u)
      << r.err;
  expect_complete_slip();
}

TEST_F(end_to_end, interrupt_and_termination_during_the_wait) {
  const std::pair<int, const char*> cases[] = {{SIGINT, "Interrupt\n"}, {SIGTERM, "Killed\n"}};
  for (const auto& [sig, message] : cases) {
    const outcome r = run("", signal_at_prompt(sig));
    EXPECT_TRUE(r.exited_with(1)) << r.status;
    EXPECT_EQ(r.out, console_records(14));
    EXPECT_EQ(r.err, message);
    expect_complete_slip();
    expect_complete_amp();
  }
}

TEST_F(end_to_end, abort_and_floating_point_signals_end_abnormally_with_one_message) {
  const std::pair<int, const char*> cases[] = {{SIGABRT, "IOT Trap\n"},
                                               {SIGFPE, "Floating Exception\n"}};
  for (const auto& [sig, message] : cases) {
    const outcome r = run("", signal_at_prompt(sig));
    EXPECT_TRUE(r.aborted()) << r.status;
    EXPECT_EQ(r.err, message);
    expect_complete_amp();
  }
}

TEST_F(end_to_end, an_interrupt_ignored_at_start_stays_ignored) {
  const outcome r = run("", signal_at_prompt(SIGINT, true));
  // The interrupt has no effect; the closed input then ends the wait.
  EXPECT_TRUE(r.exited_with(0)) << r.status;
  EXPECT_EQ(r.err, "");
}

}  // namespace
