// Runs the real trislip-custom in a scratch folder: its files against the
// program's and the library's, its refusals, and runs that fail or are
// interrupted.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <libmseed.h>
#include <nlohmann/json.hpp>

#include "scratch.hpp"
#include "trislip/trislip.hpp"

namespace {

struct outcome {
  int status = -1;
  std::string out, err;
  bool exited_with(int code) const { return WIFEXITED(status) && WEXITSTATUS(status) == code; }
};

// How a run is started and disturbed.
struct how {
  bool as_nobody = false;      // as the unprivileged user, from a copy it can reach
  std::string signal_when;     // a file ("{pid}" the child's number) whose appearance
  int sig = SIGINT;            // ... triggers this signal
  bool ignore_sighup = false;  // as nohup starts it
  rlim_t file_limit = RLIM_INFINITY;
  std::string stale_files;     // a folder given temporary files of the run's own process number
  std::string fail_close, fail_rename;  // the dynamic build, with these calls failing
  // The dynamic build, raising SIGTERM in a call: mkdir(), rename() or
  // close() of a path that holds these.
  std::string signal_mkdir, signal_rename, signal_close;
};

class custom : public scratch_test {
 protected:
  outcome run(const char* program, std::vector<std::string> args, const how& h = {}) const {
    static std::atomic<int> runs{0};
    const std::string tag = std::to_string(runs++);
    const std::string out_path = path("stdout" + tag), err_path = path("stderr" + tag);
    // nobody may not reach the build tree (a checkout in a folder of mode
    // 0700): it runs a copy in the scratch folder.
    std::string copy;
    if (h.as_nobody) {
      copy = path(".program");
      write_file(copy, read_file(program));
      chmod(copy.c_str(), 0755);
      program = copy.c_str();
    }
    if (!h.fail_close.empty() || !h.fail_rename.empty() || !h.signal_mkdir.empty() || !h.signal_rename.empty() ||
        !h.signal_close.empty()) {
      program = TRISLIP_CUSTOM_DYNAMIC_BINARY;
    }
    const pid_t pid = fork();
    if (pid == 0) {
      const int in = open("/dev/null", O_RDONLY);
      const int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
      const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
      dup2(in, 0);
      dup2(out, 1);
      dup2(err, 2);
      if (!h.stale_files.empty()) {
        // Longer than the results, so that a reused file shows its tail.
        const std::string junk(400000, '#'), own = std::to_string(getpid());
        for (const char* name : {"Tri_Slip.csv", "Tri_Amp.csv", "trislip.json"}) {
          write_file(path(h.stale_files + "/." + name + ".tmp" + own), junk);
        }
      }
      if (h.as_nobody && geteuid() == 0 &&
          (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0)) {
        _exit(126);
      }
      if (chdir(dir_.c_str()) != 0) _exit(126);
      if (h.ignore_sighup) signal(SIGHUP, SIG_IGN);
      const rlimit fsize{h.file_limit, h.file_limit};
      setrlimit(RLIMIT_FSIZE, &fsize);
      if (!h.fail_close.empty()) setenv("TRISLIP_FAIL_CLOSE", h.fail_close.c_str(), 1);
      if (!h.fail_rename.empty()) setenv("TRISLIP_FAIL_RENAME", h.fail_rename.c_str(), 1);
      if (!h.signal_mkdir.empty()) setenv("TRISLIP_SIGNAL_MKDIR", h.signal_mkdir.c_str(), 1);
      if (!h.signal_rename.empty()) setenv("TRISLIP_SIGNAL_RENAME", h.signal_rename.c_str(), 1);
      if (!h.signal_close.empty()) setenv("TRISLIP_SIGNAL_CLOSE", h.signal_close.c_str(), 1);
      if (program == std::string(TRISLIP_CUSTOM_DYNAMIC_BINARY)) {
        setenv("LD_PRELOAD", TRISLIP_FAILING_CALLS_SHIM, 1);
      }
      std::vector<char*> argv{const_cast<char*>(program)};
      for (auto& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(program, argv.data());
      _exit(127);
    }
    std::string trigger = h.signal_when;
    if (const auto at = trigger.find("{pid}"); at != std::string::npos) {
      trigger.replace(at, 5, std::to_string(pid));
    }
    outcome r;
    bool signalled = trigger.empty();
    while (waitpid(pid, &r.status, WNOHANG) == 0) {
      if (!signalled && access(trigger.c_str(), F_OK) == 0) {
        kill(pid, h.sig);
        signalled = true;
      }
      usleep(1000);
    }
    r.out = read_file(out_path);
    r.err = read_file(err_path);
    unlink(out_path.c_str());
    unlink(err_path.c_str());
    return r;
  }
  outcome custom_run(std::vector<std::string> args, const how& h = {}) const {
    return run(TRISLIP_CUSTOM_BINARY, std::move(args), h);
  }

  // The names in a folder of the scratch tree, "." and ".." left out,
  // sorted.
  std::vector<std::string> names_in(const std::string& sub) const {
    std::vector<std::string> names;
    if (DIR* d = opendir(path(sub).c_str())) {
      while (dirent* e = readdir(d)) {
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) names.push_back(e->d_name);
      }
      closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
  }
  bool exists(const std::string& sub) const { return access(path(sub).c_str(), F_OK) == 0; }

  // Older result files in sub, with the lock file of earlier runs.
  void older_files(const std::string& sub) const {
    mkdir(path(sub).c_str(), 0777);
    write_file(path(sub + "/Tri_Slip.csv"), "old slip\n");
    write_file(path(sub + "/Tri_Amp.csv"), "old spectrum\n");
    write_file(path(sub + "/trislip.json"), "{}\n");
    write_file(path(sub + "/.trislip.lock"), "");
  }
  void expect_older_files(const std::string& sub) const {
    EXPECT_EQ(names_in(sub), (std::vector<std::string>{".trislip.lock", "Tri_Amp.csv", "Tri_Slip.csv",
                                                       "trislip.json"}));
    expect_text(sub + "/Tri_Slip.csv", "old slip\n");
    expect_text(sub + "/Tri_Amp.csv", "old spectrum\n");
    expect_text(sub + "/trislip.json", "{}\n");
  }
  // A file's text, compared by size first: a new set of 100 MB in place of
  // the old one is reported by its size in an instant, not by a line diff
  // that takes minutes to build.
  void expect_text(const std::string& name, const std::string& want) const {
    const std::string got = read_file(path(name));
    if (got.size() != want.size()) {
      ADD_FAILURE() << name << ": " << got.size() << " bytes, where the older file had " << want.size();
      return;
    }
    EXPECT_EQ(got, want) << name;
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
  // Both files over the 1 MiB buffer; nt not a power of two, so the report
  // gives DUR and NOM of nfast = 65536.
  const outcome r = custom_run({"--nt", "50000", "--dt", "0.0025", "--tr", "1.5", "--ar", "0.9",
                                "--nv", "6", "--format", "full", "--output-dir", "o2"});
  ASSERT_TRUE(r.exited_with(0)) << r.err;
  EXPECT_EQ(r.out,
            "\n Regularized Triangle Slip Velocity Function\n\n"
            "  dt,nt=  0.0025 50000\n"
            "  Dmax,fmax,Tr,Ar=  1.  10.  1.5  0.9\n"
            "  TauMin,TauMax=  0.1  0.759375\n\n"
            "  Slip functions are stored in Tri_Slip.csv\n"
            "  Fourier spectrum of slip velocity is stored in Tri_Amp.csv\n\n"
            "  DUR,DOM,NOM,EOM=  163.84  0.0383495197 32768  1256.63706\n"
            "  Highest Frequency (hz)=  200.\n");
  trislip::parameters p;
  p.nt = 50000;
  p.dt = 0.0025;
  p.tr = 1.5;
  p.ar = 0.9;
  p.nv = 6;
  const trislip::slip_series s = trislip::synthesize(p);
  const trislip::spectrum a = trislip::amplitude_spectrum(s, p);
  const std::string slip = read_file(path("o2/Tri_Slip.csv"));
  const std::string amp = read_file(path("o2/Tri_Amp.csv"));
  EXPECT_GT(slip.size(), std::size_t{1} << 20);
  EXPECT_GT(amp.size(), std::size_t{1} << 20);
  EXPECT_EQ(slip.substr(0, slip.find('\n')), "time(s),velocity,displacement,acceleration");
  EXPECT_EQ(amp.substr(0, amp.find('\n')), "freq(Hz),abs(vel),abs(acc)");
  const auto sc = columns_of(slip, 4);
  EXPECT_EQ(sc[0].size(), 50000u);
  EXPECT_TRUE(same_bits(sc[0], s.time) && same_bits(sc[1], s.velocity) &&
              same_bits(sc[2], s.displacement) && same_bits(sc[3], s.acceleration));
  const auto ac = columns_of(amp, 3);
  EXPECT_EQ(ac[0].size(), 32768u);
  EXPECT_TRUE(same_bits(ac[0], a.frequency) && same_bits(ac[1], a.velocity) &&
              same_bits(ac[2], a.acceleration));
  EXPECT_EQ(nlohmann::json::parse(read_file(path("o2/trislip.json")))["nfast"], 65536);

  // A C++ caller's series of the wrong length is refused, not read past.
  trislip::slip_series short_series = s;
  short_series.velocity.resize(49999);
  EXPECT_THROW(trislip::amplitude_spectrum(short_series, p), std::invalid_argument);
}

TEST_F(custom, bad_input_is_refused_by_name_with_nothing_written) {
  write_file(path("a_file"), "");
  const std::string header = "lon,lat,depth_km,strike,dip,rake,area_m2,slip_m,tinit_s\n";
  write_file(path("bad_dip.csv"), header + "1,2,3,4,5,6,7,8,0\n1,2,3,4,95,6,7,8,0\n");
  write_file(path("bad_slip.csv"), header + "1,2,3,4,5,6,7,x,0\n");
  write_file(path("no_tinit.csv"), "lon,lat,depth_km,strike,dip,rake,area_m2,slip_m\n1,2,3,4,5,6,7,8\n");
  write_file(path("negative_slip.csv"), header + "1,2,3,4,5,6,7,-1,0\n");
  write_file(path("header_only.csv"), header);
  write_file(path("open_quote.csv"), header + "1,2,3,4,5,6,7,8,0\n1,2,\"3,4,5,6,7,8,0\n");
  write_file(path("open_quote_header.csv"), "lon,lat,\"depth_km\n");
  write_file(path("nv_64.csv"), "lon,lat,depth_km,strike,dip,rake,area_m2,slip_m,tinit_s,nv\n350,2,3,4,5,6,7,1,0,64\n");
  const std::pair<std::vector<std::string>, const char*> cases[] = {
      {{"--bogus"}, "--bogus"},
      {{"--dt", "abc"}, "--dt"},
      {{"--nt", "1.5"}, "--nt"},
      {{"--nt", "1"}, "--nt 1: must be from 2 to 67108864"},
      {{"--tr", "1"}, "--tr 1: must be finite and > 1"},
      {{"--nv", "65"}, "--nv 65: must be from 1 to 64"},
      {{"--format", "csv"}, "--format"},
      {{"--dt", "0.00009"}, "a step below 0.0001 s"},
      {{"--dt", "0.0001"}, "frequencies reach 4997.55859 Hz"},
      {{"--nt", "4001", "--dt", "0.25"}, "times reach 1000 s"},
      {{"--nt", "300000"}, "--format full"},
      {{"--dmax", "1e10"}, "--format full"},
      // Only the lowest acceleration, -1494519.98 m/s^2, overflows F15.7.
      {{"--dmax", "30000"}, "the slip acceleration reaches -1494519.98"},
      {{"--dt", "1e305", "--format", "full"}, "--dt 1e+305: times go beyond the range of a double"},
      {{"--output-dir", "a_file/out"}, "--output-dir"},
      {{"--export", "sw4,sac2"}, "--export sw4,sac2: unknown export format \"sac2\""},
      {{"--export", "sw4", "--nt", "6"}, "--export sw4: its reader needs at least 7 samples"},
      {{"--export", "sac,"}, "--export sac,: unknown export format \"\""},
      {{"--export", "sac", "--dmax", "1e40", "--format", "full"}, "beyond what SAC's float32 samples hold"},
      {{"--seed-id", "XX.STF"}, "--seed-id XX.STF: must be NET.STA.LOC"},
      {{"--start-time", "2023-02-29T00:00:00"}, "--start-time 2023-02-29T00:00:00: no day 29"},
      {{"--export", "srf", "--lon", "1", "--dip", "30"},
       "--export srf: a point source needs --lat, --depth, --strike, --rake, --area"},
      {{"--lon", "1"}, "--lon: goes with --export srf"},
      {{"--export", "srf", "--subfaults", "bad_dip.csv"}, "bad_dip.csv: line 3, column dip: 95 must be from 0 to 90"},
      {{"--export", "srf", "--subfaults", "bad_slip.csv"}, "line 2, column slip_m: \"x\" is not a number"},
      {{"--export", "srf", "--subfaults", "no_tinit.csv"}, "the header has no column tinit_s"},
      {{"--export", "srf", "--subfaults", "negative_slip.csv"}, "negative_slip.csv: line 2, column slip_m: -1 must be"},
      {{"--export", "srf", "--subfaults", "header_only.csv"}, "header_only.csv: no subfaults in the table"},
      {{"--export", "srf", "--subfaults", "open_quote.csv"}, "open_quote.csv: line 3: Escaped string was not closed\n"},
      {{"--export", "srf", "--subfaults", "open_quote_header.csv"}, "open_quote_header.csv: line 1: Escaped string"},
      {{"--export", "srf", "--lon", "1", "--lat", "2", "--depth", "0.1", "--strike", "0", "--dip", "90",
        "--rake", "0", "--area", "1e6"},
       "--depth depth 0.1 km: a square subfault of 1e+06 m^2 centred there reaches above the surface"},
      // One rigidity for the moments and another in SRF 2.0's VS and DEN.
      {{"--export", "specfem-cmt", "--lon", "1", "--lat", "2", "--depth", "3", "--strike", "0", "--dip", "90",
        "--rake", "0", "--area", "1e6", "--mu", "3e10", "--vs", "3200", "--density", "2700"},
       "--mu 3e+10: disagrees with --vs 3200 and --density 2700, which give 2.7648e+10 Pa (density x vs^2) beyond "
       "0.1%"},
  };
  for (const auto& [args, says] : cases) {
    std::vector<std::string> all = args;
    if (all[0] != "--output-dir") all.insert(all.end(), {"--output-dir", "out"});
    const outcome r = custom_run(all);
    EXPECT_TRUE(r.exited_with(2)) << args[0] << ": " << r.status;
    EXPECT_NE(r.err.find(says), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << "not one line: " << r.err;
    EXPECT_FALSE(exists("out")) << args[0] << ": the folder was created";
  }
  // The limits themselves are accepted: times to 999.75 s, frequencies to
  // 999.5 Hz, SW4's shortest record, 64 pulses and a longitude east of 180
  // in a table.
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--nt", "4000", "--dt", "0.25"}, {"--dt", "0.0005"}, {"--export", "sw4", "--nt", "7"},
        {"--export", "srf", "--subfaults", "nv_64.csv"}}) {
    std::vector<std::string> all = args;
    all.insert(all.end(), {"--output-dir", "ok", "--quiet"});
    const outcome r = custom_run(all);
    EXPECT_TRUE(r.exited_with(0)) << args[1] << ": " << r.err;
    std::system(("rm -rf '" + path("ok") + "'").c_str());
  }
}

// A signal at each moment of a run, raised from inside the call that
// marks it: the message and status say what is on disk. Before anything is
// staged, nothing changes; once the files are being put in place, the set
// is finished and the run says it was interrupted after publishing (status
// 3), as it does when the signal comes as it lets go of the folder's lock.
// (While the files are written: the test below.)
TEST_F(custom, a_signal_at_each_moment_says_what_is_on_disk) {
  ASSERT_TRUE(custom_run({"--output-dir", "ref", "--quiet"}).exited_with(0));
  how before;
  before.signal_mkdir = "fresh";
  outcome r = custom_run({"--output-dir", "fresh/out", "--quiet"}, before);
  EXPECT_TRUE(r.exited_with(1)) << r.status;
  EXPECT_EQ(r.err, "trislip-custom: interrupted, unfinished files removed\n");
  EXPECT_FALSE(exists("fresh"));

  how during, after;
  during.signal_rename = "/Tri_Slip.csv";
  after.signal_close = "/.trislip.lock";
  for (const how* h : {&during, &after}) {
    SCOPED_TRACE(h == &during ? "while publishing" : "after publishing");
    older_files("pub");
    r = custom_run({"--output-dir", "pub", "--quiet"}, *h);
    EXPECT_TRUE(r.exited_with(3)) << r.status;
    EXPECT_EQ(r.err, "trislip-custom: interrupted after its files were published; they are complete\n");
    EXPECT_EQ(names_in("pub"), (std::vector<std::string>{".trislip.lock", "Tri_Amp.csv", "Tri_Slip.csv",
                                                         "trislip.json"}));
    for (const char* name : {"Tri_Slip.csv", "Tri_Amp.csv"}) {
      EXPECT_TRUE(read_file(path(std::string("pub/") + name)) == read_file(path(std::string("ref/") + name)))
          << name << " is not the new run's";
    }
  }
}

TEST_F(custom, failed_and_interrupted_runs_leave_older_files_untouched) {
  mkdir(path("ro").c_str(), 0755);
  write_file(path("ro/Tri_Slip.csv"), "old\n");
  chmod(path("ro").c_str(), 0555);
  how nobody;
  nobody.as_nobody = true;
  outcome r = custom_run({"--output-dir", "ro", "--quiet"}, nobody);
  EXPECT_TRUE(r.exited_with(1)) << r.status;
  EXPECT_NE(r.err.find("Permission denied"), std::string::npos) << r.err;
  EXPECT_EQ(names_in("ro"), std::vector<std::string>{"Tri_Slip.csv"});

  // Interrupted, or hung up on, while the time series is being written.
  for (int sig : {SIGINT, SIGHUP}) {
    older_files("big");
    how h;
    h.signal_when = path("big/.Tri_Slip.csv.tmp{pid}");
    h.sig = sig;
    r = custom_run({"--nt", "4194304", "--format", "full", "--output-dir", "big", "--quiet"}, h);
    EXPECT_TRUE(r.exited_with(1)) << sig << ": " << r.status;
    EXPECT_EQ(r.err, "trislip-custom: interrupted, unfinished files removed\n");
    expect_older_files("big");
  }
  // Started under nohup, a hangup does not stop it.
  how nohup;
  nohup.signal_when = path("big/.Tri_Slip.csv.tmp{pid}");
  nohup.sig = SIGHUP;
  nohup.ignore_sighup = true;
  r = custom_run({"--nt", "1048576", "--output-dir", "big", "--quiet", "--dt", "0.0009"}, nohup);
  EXPECT_TRUE(r.exited_with(0)) << r.status << r.err;
  EXPECT_GT(read_file(path("big/Tri_Slip.csv")).size(), 1000000u);

  // A failure at any step: a file-size limit between the spectrum's 75805
  // bytes and the time series' 233516, a folder in the way, a failed
  // close (the spectrum's, on its own thread) and a failed rename of the
  // last file, after the other two are in place.
  struct failure {
    how h;
    const char* says;
  };
  failure cases[4];
  cases[0].h.file_limit = 100000;
  cases[0].says = "cannot write in/Tri_Slip.csv: File too large; no file changed\n";
  cases[1].says = "cannot put in/Tri_Amp.csv in place: a folder of that name is in the way; no file changed\n";
  cases[2].h.fail_close = ".Tri_Amp.csv.tmp";
  cases[2].says = "cannot write in/Tri_Amp.csv: Input/output error; no file changed\n";
  cases[3].h.fail_rename = "/trislip.json";
  cases[3].says = "cannot put in/trislip.json in place: Input/output error; no file changed\n";
  for (const failure& c : cases) {
    SCOPED_TRACE(c.says);
    std::system(("rm -rf '" + path("in") + "'").c_str());
    older_files("in");
    if (&c == &cases[1]) {
      unlink(path("in/Tri_Amp.csv").c_str());
      mkdir(path("in/Tri_Amp.csv").c_str(), 0755);
    }
    r = custom_run({"--output-dir", "in", "--quiet"}, c.h);
    EXPECT_TRUE(r.exited_with(1)) << r.status;
    EXPECT_EQ(r.err, std::string("trislip-custom: ") + c.says);
    if (&c != &cases[1]) {
      expect_older_files("in");
    } else {
      EXPECT_EQ(read_file(path("in/Tri_Slip.csv")), "old slip\n");
      EXPECT_EQ(read_file(path("in/trislip.json")), "{}\n");
      EXPECT_EQ(names_in("in").size(), 4u);
    }
  }

  // Temporary files of an earlier run: its own process number's are
  // replaced, not reused; a run that has ended leaves its files to be
  // removed.
  ASSERT_TRUE(run(TRISLIP_BINARY, {}).exited_with(0));
  std::system(("rm -rf '" + path("out") + "'").c_str());
  mkdir(path("out").c_str(), 0777);
  const pid_t ended = fork();
  if (ended == 0) _exit(0);
  waitpid(ended, nullptr, 0);
  write_file(path("out/.Tri_Slip.csv.tmp" + std::to_string(ended)), "stale");
  write_file(path("out/.Tri_Amp.csv.old" + std::to_string(ended)), "stale");
  how stale;
  stale.stale_files = "out";
  r = custom_run({"--output-dir", "out", "--quiet"}, stale);
  EXPECT_TRUE(r.exited_with(0)) << r.err;
  EXPECT_EQ(read_file(path("out/Tri_Slip.csv")), read_file(path("Tri_Slip.csv")));
  EXPECT_EQ(read_file(path("out/Tri_Amp.csv")), read_file(path("Tri_Amp.csv")));
  EXPECT_EQ(names_in("out"), (std::vector<std::string>{".trislip.lock", "Tri_Amp.csv", "Tri_Slip.csv",
                                                       "trislip.json"}));
  // Another user's, in a shared folder, cannot be removed: other names are
  // taken. Only a test run as root can run the program as another user.
  if (geteuid() != 0) {
    std::fprintf(stderr, "skipped: another user's stale files (the tests run as a user, not root)\n");
    return;
  }
  mkdir(path("shared").c_str(), 0777);
  chmod(path("shared").c_str(), 01777);
  stale.stale_files = "shared";
  stale.as_nobody = true;
  r = custom_run({"--output-dir", "shared", "--quiet"}, stale);
  EXPECT_TRUE(r.exited_with(0)) << r.err;
  EXPECT_EQ(read_file(path("shared/Tri_Slip.csv")), read_file(path("Tri_Slip.csv")));
  EXPECT_EQ(names_in("shared").size(), 7u);
}

// Every export, read back by the Debian tools that convert between SAC
// and miniSEED, beside CSV files that are the program's own.
TEST_F(custom, exports_are_published_with_the_files_and_read_back_by_the_converters) {
  ASSERT_TRUE(run(TRISLIP_BINARY, {}).exited_with(0));
  const outcome r = custom_run({"--export", "sw4,specfem,specfem-globe,pylith,sac,mseed", "--output-dir", "x",
                                "--quiet", "--start-time", "2020-05-17T10:00:00"});
  ASSERT_TRUE(r.exited_with(0)) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(read_file(path("x/Tri_Slip.csv")), read_file(path("Tri_Slip.csv")));
  EXPECT_EQ(read_file(path("x/Tri_Amp.csv")), read_file(path("Tri_Amp.csv")));
  const auto j = nlohmann::json::parse(read_file(path("x/trislip.json")));
  std::vector<std::string> listed;
  for (const auto& e : j["exports"]) listed.push_back(e["file"].get<std::string>() + " " + e["unit"].get<std::string>());
  EXPECT_EQ(listed, (std::vector<std::string>{"trislip_sw4.txt 1", "trislip_specfem.stf 1", "stf 1",
                                              "trislip.timedb 1", "trislip_velocity.sac m/s",
                                              "trislip_displacement.sac m", "trislip_acceleration.sac m/s^2",
                                              "trislip.mseed m/s, m, m/s^2"}));
  EXPECT_TRUE(j["warnings"].empty());
  // The globe code reads every line as a value; the Cartesian file says what it holds.
  EXPECT_EQ(read_file(path("x/stf")).find('#'), std::string::npos);
  EXPECT_EQ(read_file(path("x/trislip_specfem.stf")).rfind("# ", 0), 0u);
  // A miniSEED file alone still has its codes and start time recorded.
  ASSERT_TRUE(custom_run({"--export", "mseed", "--output-dir", "m", "--quiet", "--seed-id", "IU.ABCDE.00"}).exited_with(0));
  const auto m = nlohmann::json::parse(read_file(path("m/trislip.json")));
  EXPECT_EQ(m["seed_id"], "IU.ABCDE.00");
  EXPECT_EQ(m["start_time"], "1970-01-01T00:00:00");

  // mseed2sac writes each channel as SAC: the same float32 samples as ours.
  ASSERT_EQ(std::system(("cd '" + path("x") + "' && mseed2sac trislip.mseed >/dev/null 2>&1").c_str()), 0);
  const std::pair<const char*, const char*> sac[] = {{"HXV", "trislip_velocity.sac"},
                                                     {"HXD", "trislip_displacement.sac"},
                                                     {"HXA", "trislip_acceleration.sac"}};
  for (const auto& [channel, ours] : sac) {
    const std::string theirs = read_file(path(std::string("x/XX.STF.00.") + channel + ".D.2020.138.100000.SAC"));
    const std::string mine = read_file(path(std::string("x/") + ours));
    ASSERT_EQ(theirs.size(), mine.size()) << channel;
    EXPECT_EQ(theirs.substr(632), mine.substr(632)) << channel;
    EXPECT_EQ(theirs.substr(280, 24), mine.substr(280, 24)) << channel << ": reference time";
  }
  // sac2mseed takes our SAC file (float32 kept with -e 4) back to miniSEED.
  ASSERT_EQ(std::system(("cd '" + path("x") + "' && sac2mseed -e 4 -o back.mseed trislip_velocity.sac >/dev/null 2>&1").c_str()), 0);
  MSRecord* msr = nullptr;
  std::vector<float> back;
  while (ms_readmsr(&msr, path("x/back.mseed").c_str(), 0, nullptr, nullptr, 1, 1, 0) == MS_NOERROR) {
    const auto* f = static_cast<const float*>(msr->datasamples);
    back.insert(back.end(), f, f + msr->numsamples);
  }
  ms_readmsr(&msr, nullptr, 0, nullptr, nullptr, 0, 0, 0);
  const std::string mine = read_file(path("x/trislip_velocity.sac"));
  ASSERT_EQ(back.size(), 4096u);
  EXPECT_EQ(std::memcmp(back.data(), mine.data() + 632, 4 * 4096), 0);
}

TEST_F(custom, sampling_warnings_are_said_and_strict_refuses) {
  const std::pair<std::vector<std::string>, std::vector<std::string>> cases[] = {
      {{"--nt", "100"}, {"record_too_short", "slip_lost"}},
      {{"--fmax", "1000"}, {"step_too_coarse", "slip_lost"}},
  };
  for (const auto& [args, checks] : cases) {
    std::vector<std::string> all = args;
    all.insert(all.end(), {"--output-dir", "w", "--quiet"});
    outcome r = custom_run(all);
    EXPECT_TRUE(r.exited_with(0)) << r.err;
    std::vector<std::string> said, recorded;
    for (std::size_t at = 0; at < r.err.size(); at = r.err.find('\n', at) + 1) {
      said.push_back(r.err.substr(at, r.err.find('\n', at) - at));
    }
    const auto j = nlohmann::json::parse(read_file(path("w/trislip.json")));
    for (const auto& w : j["warnings"]) {
      recorded.push_back(w["check"]);
      EXPECT_NE(std::find(said.begin(), said.end(), "trislip-custom: warning: " + w["message"].get<std::string>()),
                said.end());
    }
    EXPECT_EQ(recorded, checks) << r.err;
    EXPECT_EQ(said.size(), 2u) << r.err;

    std::system(("rm -rf '" + path("w") + "'").c_str());
    all.push_back("--strict");
    r = custom_run(all);
    EXPECT_TRUE(r.exited_with(2)) << r.status;
    EXPECT_NE(r.err.find("trislip-custom: --strict: refused for the warnings above; nothing written\n"),
              std::string::npos) << r.err;
    EXPECT_FALSE(exists("w"));
  }
}

// SRF for a point source and for a table: what trislip.json says of it,
// and the warnings that name the row.
TEST_F(custom, srf_of_a_point_and_of_a_table) {
  outcome r = custom_run({"--export", "srf", "--lon", "-118.5", "--lat", "34.2", "--depth", "10", "--strike", "120",
                          "--dip", "45", "--rake", "90", "--area", "1e6", "--mu", "3e10", "--output-dir", "p",
                          "--quiet"});
  ASSERT_TRUE(r.exited_with(0)) << r.err;
  EXPECT_EQ(r.err, "");
  const std::string srf = read_file(path("p/trislip.srf"));
  EXPECT_EQ(srf.substr(0, srf.find("POINTS")).find("1.0\nPLANE 1\n"), 0u);
  auto j = nlohmann::json::parse(read_file(path("p/trislip.json")));
  EXPECT_EQ(j["srf"]["points"], 1);
  EXPECT_EQ(j["srf"]["moment_Nm"], 3e16);  // 3e10 Pa * 1e6 m^2 * 1 m
  EXPECT_DOUBLE_EQ(j["srf"]["mw"].get<double>(), 2.0 / 3.0 * (std::log10(3e16) - 9.1));

  write_file(path("rows.csv"),
             "lon,lat,depth_km,strike,dip,rake,area_m2,slip_m,tinit_s,fmax_hz,vs_m_s,density_kg_m3\n"
             "-118.50,34.20,5,120,45,90,1e6,0.5,0,,3000,2500\n"
             "-118.49,34.21,6,120,45,90,1e6,1.5,0.4,5,3000,2500\n"
             "-118.48,34.22,7,120,45,90,1e6,1.0,0.8,1000,3000,2500\n");
  r = custom_run({"--export", "srf", "--subfaults", "rows.csv", "--srf-version", "2.0", "--output-dir", "t", "--quiet"});
  ASSERT_TRUE(r.exited_with(0)) << r.err;
  j = nlohmann::json::parse(read_file(path("t/trislip.json")));
  EXPECT_EQ(j["srf"]["points"], 3);
  EXPECT_EQ(j["srf"]["potency_m3"], 3e6);
  EXPECT_EQ(j["srf"]["moment_Nm"], 2500.0 * 3000 * 3000 * 3e6);  // VS and DEN known for every row
  std::vector<std::string> checks;
  for (const auto& w : j["warnings"]) checks.push_back(w["check"]);
  EXPECT_EQ(checks, (std::vector<std::string>{"srf_no_plane", "step_too_coarse", "slip_lost"}));
  EXPECT_NE(r.err.find("trislip-custom: warning: row 3: the shortest pulse lasts 0.001 s"), std::string::npos) << r.err;
  const std::string table = read_file(path("t/trislip.srf"));
  EXPECT_EQ(table.rfind("2.0\nPOINTS 3\n-118.5 34.2 5 120 45 1e+10 0 0.005 3e+05 2.5\n", 0), 0u) << table.substr(0, 80);
  // --strict refuses a table whose rows warn, with nothing written.
  r = custom_run({"--export", "srf", "--subfaults", "rows.csv", "--output-dir", "s", "--quiet", "--strict",
                  "--plane", "-118.5,34.2,3,1,3,1,120,45,4,0,0.5"});
  EXPECT_TRUE(r.exited_with(2)) << r.err;
  EXPECT_FALSE(exists("s"));
  // The same plane 6 km deeper does not hold the rows: said, and in
  // trislip.json.
  r = custom_run({"--export", "srf", "--subfaults", "rows.csv", "--output-dir", "g", "--quiet",
                  "--plane", "-118.5,34.2,3,1,3,1,120,45,10,0,0.5"});
  ASSERT_TRUE(r.exited_with(0)) << r.err;
  EXPECT_NE(r.err.find("trislip-custom: warning: 3 of 3 points lie outside their segment's plane by more than half "
                       "a subfault (row 1, row 2, row 3); the first, row 1, lies "),
            std::string::npos) << r.err;
  j = nlohmann::json::parse(read_file(path("g/trislip.json")));
  EXPECT_EQ(j["geometry"]["result"], "failed");
  EXPECT_EQ(j["geometry"]["points_outside"], 3);
  EXPECT_EQ(j["geometry"]["hypocentre"]["on_a_segment"], true);

  // Without a PLANE block, no plane is needed; a table's own VS and DEN
  // that disagree with --mu are refused by row, ones that agree within
  // 0.1% taken.
  r = custom_run({"--export", "srf", "--subfaults", "rows.csv", "--mu", "3e10", "--srf-without-plane",
                  "--output-dir", "n", "--quiet"});
  EXPECT_TRUE(r.exited_with(2));
  EXPECT_NE(r.err.find("--mu 3e+10: disagrees with row 1's vs_m_s 3000 and density_kg_m3 2500, which give 2.25e+10"),
            std::string::npos) << r.err;
  r = custom_run({"--export", "srf", "--subfaults", "rows.csv", "--mu", "2.251e10", "--srf-without-plane",
                  "--output-dir", "n", "--quiet"});
  ASSERT_TRUE(r.exited_with(0)) << r.err;
  EXPECT_EQ(read_file(path("n/trislip.srf")).rfind("1.0\nPOINTS 3\n", 0), 0u);
}

// Runs with other parameters into the same folder at the same time: the
// folder always ends with the three files of one of them.
TEST_F(custom, concurrent_runs_into_one_folder_publish_whole_sets) {
  const std::vector<std::string> fixed{"--quiet", "--output-dir", "out"};
  std::vector<std::string> full = fixed;
  full.insert(full.end(), {"--format", "full", "--dmax", "2"});
  for (int pair = 0; pair < 300; ++pair) {
    outcome a, b;
    std::thread other([&] { b = custom_run(full); });
    a = custom_run(fixed);
    other.join();
    ASSERT_TRUE(a.exited_with(0) && b.exited_with(0)) << a.err << b.err;
    const bool slip_full = read_file(path("out/Tri_Slip.csv")).rfind("time(s)", 0) == 0;
    const bool amp_full = read_file(path("out/Tri_Amp.csv")).rfind("freq(Hz)", 0) == 0;
    const bool json_full = nlohmann::json::parse(read_file(path("out/trislip.json")))["format"] == "full";
    ASSERT_TRUE(slip_full == amp_full && amp_full == json_full) << "a mixed set after pair " << pair;
  }
  EXPECT_EQ(names_in("out"), (std::vector<std::string>{".trislip.lock", "Tri_Amp.csv", "Tri_Slip.csv",
                                                       "trislip.json"}));
}

}  // namespace
