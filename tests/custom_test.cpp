// Runs the real trislip-custom in a scratch folder: its files against the
// program's and the library's, its refusals, and runs that fail or are
// interrupted.
#include <gtest/gtest.h>

#include <charconv>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "scratch.hpp"
#include "trislip/trislip.hpp"

namespace {

struct outcome {
  int status = -1;
  std::string err;
  bool exited_with(int code) const { return WIFEXITED(status) && WEXITSTATUS(status) == code; }
};

class custom : public scratch_test {
 protected:
  // Runs PROGRAM with args in the scratch folder, as nobody when asked;
  // interrupt_when names a file ("{pid}" standing for the child's process
  // number) whose appearance triggers SIGINT.
  outcome run(const char* program, std::vector<std::string> args, bool as_nobody = false,
              const std::string& interrupt_when = "") const {
    const std::string err_path = path("stderr");
    // nobody may not reach the build tree (a checkout in a folder of mode
    // 0700): it runs a copy in the scratch folder.
    std::string copy;
    if (as_nobody) {
      copy = path(".program");
      write_file(copy, read_file(program));
      chmod(copy.c_str(), 0755);
      program = copy.c_str();
    }
    const pid_t pid = fork();
    if (pid == 0) {
      const int in = open("/dev/null", O_RDONLY), out = open("/dev/null", O_WRONLY);
      const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
      dup2(in, 0);
      dup2(out, 1);
      dup2(err, 2);
      if (as_nobody && geteuid() == 0 &&
          (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0)) {
        _exit(126);
      }
      if (chdir(dir_.c_str()) != 0) _exit(126);
      std::vector<char*> argv{const_cast<char*>(program)};
      for (auto& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(program, argv.data());
      _exit(127);
    }
    std::string trigger = interrupt_when;
    if (const auto at = trigger.find("{pid}"); at != std::string::npos) {
      trigger.replace(at, 5, std::to_string(pid));
    }
    outcome r;
    bool signalled = trigger.empty();
    while (waitpid(pid, &r.status, WNOHANG) == 0) {
      if (!signalled && access(trigger.c_str(), F_OK) == 0) {
        kill(pid, SIGINT);
        signalled = true;
      }
      usleep(1000);
    }
    r.err = read_file(err_path);
    unlink(err_path.c_str());
    return r;
  }
  outcome custom_run(std::vector<std::string> args, bool as_nobody = false,
                     const std::string& interrupt_when = "") const {
    return run(TRISLIP_CUSTOM_BINARY, std::move(args), as_nobody, interrupt_when);
  }

  // The names in a folder of the scratch tree, "." and ".." left out.
  std::vector<std::string> names_in(const std::string& sub) const {
    std::vector<std::string> names;
    if (DIR* d = opendir(path(sub).c_str())) {
      while (dirent* e = readdir(d)) {
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) names.push_back(e->d_name);
      }
      closedir(d);
    }
    return names;
  }
};

// The comma-separated numbers of a full-layout file, header skipped.
std::vector<std::vector<double>> columns_of(const std::string& text, std::size_t count) {
  std::vector<std::vector<double>> cols(count);
  const char* p = text.data() + text.find('\n') + 1;
  const char* end = text.data() + text.size();
  while (p < end) {
    for (std::size_t c = 0; c < count; ++c) {
      double x = 0;
      p = std::from_chars(p, end, x).ptr + 1;  // past ',' or '\n'
      cols[c].push_back(x);
    }
  }
  return cols;
}

bool same_bits(const std::vector<double>& a, const std::vector<double>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

TEST_F(custom, defaults_write_the_programs_files_and_a_parameter_record) {
  ASSERT_TRUE(run(TRISLIP_BINARY, {}).exited_with(0));
  const outcome r = custom_run({"--output-dir", "out", "--quiet"});
  ASSERT_TRUE(r.exited_with(0)) << r.err;
  EXPECT_EQ(read_file(path("out/Tri_Slip.csv")), read_file(path("Tri_Slip.csv")));
  EXPECT_EQ(read_file(path("out/Tri_Amp.csv")), read_file(path("Tri_Amp.csv")));
  const auto j = nlohmann::json::parse(read_file(path("out/trislip.json")));
  EXPECT_EQ(j["format"], "fixed");
  EXPECT_EQ(j["nfast"], 4096);
  EXPECT_EQ(j["parameters"]["dt"], 0.005);
  EXPECT_EQ(j["version"], trislip::version);
}

TEST_F(custom, full_layout_reads_back_as_the_librarys_doubles) {
  const outcome r = custom_run({"--nt", "6000", "--dt", "0.0025", "--tr", "1.5", "--ar", "0.9",
                                "--nv", "6", "--format", "full", "--output-dir", "o2", "--quiet"});
  ASSERT_TRUE(r.exited_with(0)) << r.err;
  trislip::parameters p;
  p.nt = 6000;
  p.dt = 0.0025;
  p.tr = 1.5;
  p.ar = 0.9;
  p.nv = 6;
  const trislip::slip_series s = trislip::synthesize(p);
  const trislip::spectrum a = trislip::amplitude_spectrum(s, p);
  const std::string slip = read_file(path("o2/Tri_Slip.csv"));
  const std::string amp = read_file(path("o2/Tri_Amp.csv"));
  EXPECT_EQ(slip.substr(0, slip.find('\n')), "time(s),velocity,displacement,acceleration");
  EXPECT_EQ(amp.substr(0, amp.find('\n')), "freq(Hz),abs(vel),abs(acc)");
  const auto sc = columns_of(slip, 4);
  EXPECT_EQ(sc[0].size(), 6000u);
  EXPECT_TRUE(same_bits(sc[0], s.time) && same_bits(sc[1], s.velocity) &&
              same_bits(sc[2], s.displacement) && same_bits(sc[3], s.acceleration));
  const auto ac = columns_of(amp, 3);
  EXPECT_EQ(ac[0].size(), 4096u);
  EXPECT_TRUE(same_bits(ac[0], a.frequency) && same_bits(ac[1], a.velocity) &&
              same_bits(ac[2], a.acceleration));
  EXPECT_EQ(nlohmann::json::parse(read_file(path("o2/trislip.json")))["nfast"], 8192);
}

TEST_F(custom, bad_input_is_refused_by_name_with_nothing_written) {
  write_file(path("a_file"), "");
  const std::pair<std::vector<std::string>, const char*> cases[] = {
      {{"--bogus"}, "--bogus"},
      {{"--dt", "abc"}, "--dt"},
      {{"--nt", "1.5"}, "--nt"},
      {{"--nt", "1"}, "--nt 1: must be from 2 to 67108864"},
      {{"--tr", "1"}, "--tr 1: must be finite and > 1"},
      {{"--nv", "65"}, "--nv 65: must be from 1 to 64"},
      {{"--format", "csv"}, "--format"},
      {{"--dt", "0.00005"}, "--format full"},
      {{"--nt", "300000"}, "--format full"},
      {{"--dmax", "1e10"}, "--format full"},
      {{"--output-dir", "a_file/out"}, "--output-dir"},
  };
  for (const auto& [args, says] : cases) {
    std::vector<std::string> all = args;
    if (all[0] != "--output-dir") all.insert(all.end(), {"--output-dir", "out"});
    const outcome r = custom_run(all);
    EXPECT_TRUE(r.exited_with(2)) << args[0] << ": " << r.status;
    EXPECT_NE(r.err.find(says), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << "not one line: " << r.err;
    EXPECT_EQ(names_in("out").size(), 0u) << args[0];
  }
}

TEST_F(custom, failed_and_interrupted_runs_leave_older_files_untouched) {
  mkdir(path("ro").c_str(), 0755);
  write_file(path("ro/Tri_Slip.csv"), "old\n");
  chmod(path("ro").c_str(), 0555);
  outcome r = custom_run({"--output-dir", "ro", "--quiet"}, true);
  EXPECT_TRUE(r.exited_with(1)) << r.status;
  EXPECT_NE(r.err.find("Permission denied"), std::string::npos) << r.err;
  EXPECT_EQ(names_in("ro"), std::vector<std::string>{"Tri_Slip.csv"});

  // Interrupted while the time series is being written.
  mkdir(path("big").c_str(), 0755);
  write_file(path("big/Tri_Slip.csv"), "old slip\n");
  write_file(path("big/Tri_Amp.csv"), "old spectrum\n");
  r = custom_run({"--nt", "4194304", "--format", "full", "--output-dir", "big", "--quiet"}, false,
                 path("big/.Tri_Slip.csv.tmp{pid}"));
  EXPECT_TRUE(r.exited_with(1)) << r.status;
  EXPECT_EQ(r.err, "trislip-custom: interrupted, unfinished files removed\n");
  EXPECT_EQ(names_in("big").size(), 2u);
  EXPECT_EQ(read_file(path("big/Tri_Slip.csv")), "old slip\n");
  EXPECT_EQ(read_file(path("big/Tri_Amp.csv")), "old spectrum\n");
}

}  // namespace
