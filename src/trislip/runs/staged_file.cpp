#include "trislip/runs/staged_file.hpp"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace trislip {
namespace {

// The temporary files of this run. A handler may read the table at any
// moment, so a slot's path is complete before it is marked in use, and
// slots change only while the ending signals are held.
constexpr int max_staged = 16;
constexpr std::size_t max_path = 4096;
struct staged {
  volatile std::sig_atomic_t in_use = 0;
  bool folder = false;  // a folder of files, published whole
  bool finished = false;
  char temp_path[max_path] = {};
  std::string final_path;
};
staged table[max_staged];

const char* program_name = "trislip";

// Set once every file of the run is in place: an ending signal after that
// interrupts a run whose files are complete, and says so.
volatile std::sig_atomic_t set_published = 0;

const int ending_signals[] = {SIGINT, SIGTERM, SIGHUP};

using signals_held = ending_signals_held;

[[noreturn]] void fail(const std::string& what, const std::string& path, int err) {
  throw std::runtime_error("cannot " + what + " " + path + ": " + std::strerror(err));
}

void say(const char* text) { (void)!::write(2, text, std::strlen(text)); }

// Removes a staged folder and the files in it (it holds no folders), with
// system calls only, so that a signal handler may call it. Other threads
// may still be adding files meanwhile: it goes over the folder again until
// it is empty and gone.
void remove_folder(const char* path) noexcept {
  for (int pass = 0; pass < 1000; ++pass) {
    const int fd = ::open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    const auto remove = [fd](const char* name) {
      if (!(name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)))) ::unlinkat(fd, name, 0);
    };
#if defined(__EMSCRIPTEN__)
    // The browser page's module has no signals, and no raw system calls.
    if (DIR* d = ::fdopendir(::dup(fd))) {
      while (const dirent* e = ::readdir(d)) remove(e->d_name);
      ::closedir(d);
    }
#else
    alignas(8) char buf[8192];
    for (;;) {
      const long n = ::syscall(SYS_getdents64, fd, buf, sizeof buf);
      if (n <= 0) break;
      for (long at = 0; at < n;) {
        // struct linux_dirent64: ino (8), off (8), reclen (2), type (1), name
        unsigned short reclen;
        std::memcpy(&reclen, buf + at + 16, sizeof reclen);
        remove(buf + at + 19);
        at += reclen;
      }
    }
#endif
    ::close(fd);
    if (::rmdir(path) == 0 || errno != ENOTEMPTY) return;
  }
}

// A slot not in use, or -1. Called with the ending signals held.
int free_slot() {
  for (int i = 0; i < max_staged; ++i) {
    if (!table[i].in_use) return i;
  }
  return -1;
}

// Marks a slot in use once its path is complete, so that a handler never
// reads half a path.
void take_slot(int slot, const std::string& temp, const std::string& final_path, bool folder) {
  staged& s = table[slot];
  std::memcpy(s.temp_path, temp.c_str(), temp.size() + 1);
  s.final_path = final_path;
  s.folder = folder;
  s.finished = false;
  s.in_use = 1;
}

void remove_entry(staged& s) noexcept {
  if (s.folder) {
    remove_folder(s.temp_path);
  } else {
    ::unlink(s.temp_path);
  }
}

extern "C" void on_ending_signal(int) {
  if (set_published) {
    say(program_name);
    say(": interrupted after its files were published; they are complete\n");
    ::_exit(interrupted_after_publishing);
  }
  discard_staged_files();
  say(program_name);
  say(": interrupted, unfinished files removed\n");
  ::_exit(1);
}

}  // namespace

ending_signals_held::ending_signals_held() {
  sigset_t set;
  sigemptyset(&set);
  for (int s : ending_signals) sigaddset(&set, s);
  pthread_sigmask(SIG_BLOCK, &set, &old_);
}

ending_signals_held::~ending_signals_held() { pthread_sigmask(SIG_SETMASK, &old_, nullptr); }

staged_file::staged_file(const std::string& dir, const std::string& name)
    : final_path_(dir + "/" + name), buffer_(new char[buffer_size]) {
  const std::string stem = dir + "/." + name + ".tmp" + std::to_string(::getpid());
  signals_held hold;
  slot_ = free_slot();
  if (slot_ < 0) {
    delete[] buffer_;
    throw std::logic_error("too many staged files");
  }
  // A stale file of an earlier run with the same process number is left
  // alone: the next free name is taken instead.
  std::string temp;
  for (int attempt = 0; fd_ < 0; ++attempt) {
    temp = attempt == 0 ? stem : stem + "." + std::to_string(attempt);
    if (temp.size() >= max_path) {
      delete[] buffer_;
      fail("create", temp, ENAMETOOLONG);
    }
    fd_ = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd_ < 0 && (errno != EEXIST || attempt == 99)) {
      const int err = errno;
      delete[] buffer_;
      fail("create", temp, err);
    }
  }
  take_slot(slot_, temp, final_path_, false);
}

staged_file::~staged_file() {
  if (fd_ >= 0) ::close(fd_);
  {
    // Not published: the temporary file goes.
    signals_held hold;
    staged& s = table[slot_];
    if (s.in_use) {
      ::unlink(s.temp_path);
      s.in_use = 0;
    }
  }
  delete[] buffer_;
}

const char* staged_file::temp_path() const { return table[slot_].temp_path; }

void staged_file::put(const char* text, std::size_t n) {
  if (n >= buffer_size / 2) {
    // Large pieces go straight to the file, after what is buffered.
    flush();
    write_all(text, n);
    return;
  }
  while (n > 0) {
    const std::size_t room = buffer_size - used_;
    const std::size_t part = n < room ? n : room;
    std::memcpy(buffer_ + used_, text, part);
    used_ += part;
    text += part;
    n -= part;
    if (used_ == buffer_size) flush();
  }
}

void staged_file::flush() {
  write_all(buffer_, used_);
  used_ = 0;
}

void staged_file::write_all(const char* p, std::size_t n) {
  while (n > 0) {
    const ssize_t w = ::write(fd_, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) fail("write", final_path_, w < 0 ? errno : EIO);
    p += w;
    n -= static_cast<std::size_t>(w);
  }
}

void staged_file::finish() {
  flush();
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) fail("write", final_path_, errno);
  table[slot_].finished = true;
}

staged_folder::staged_folder(const std::string& dir, const std::string& name) : final_path_(dir + "/" + name) {
  const std::string stem = dir + "/." + name + ".tmp" + std::to_string(::getpid());
  signals_held hold;
  slot_ = free_slot();
  if (slot_ < 0) throw std::logic_error("too many staged files");
  for (int attempt = 0;; ++attempt) {
    path_ = attempt == 0 ? stem : stem + "." + std::to_string(attempt);
    if (path_.size() >= max_path) fail("create", path_, ENAMETOOLONG);
    if (::mkdir(path_.c_str(), 0777) == 0) break;
    if (errno != EEXIST || attempt == 99) fail("create", path_, errno);
  }
  take_slot(slot_, path_, final_path_, true);
}

staged_folder::~staged_folder() {
  signals_held hold;
  staged& s = table[slot_];
  if (s.in_use) {
    remove_entry(s);
    s.in_use = 0;
  }
}

void staged_folder::finish() { table[slot_].finished = true; }

namespace {

// An exclusive advisory lock on dir/.trislip.lock, for the time a set of
// files is put in place. The file stays: removing it would let two runs
// lock different files of the same name.
class folder_lock {
 public:
  explicit folder_lock(const std::string& dir) {
    const std::string path = dir + "/.trislip.lock";
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd_ < 0) fail("lock", path, errno);
    while (::flock(fd_, LOCK_EX) != 0) {
      if (errno == EINTR) continue;
      const int err = errno;
      ::close(fd_);
      fail("lock", path, err);
    }
  }
  ~folder_lock() { ::close(fd_); }
  folder_lock(const folder_lock&) = delete;
  folder_lock& operator=(const folder_lock&) = delete;

 private:
  int fd_ = -1;
};

// Where the older file of a final name waits while the new set is put in
// place: a second link to it where the file system allows one (the final
// name never disappears), else the file itself, renamed.
struct kept {
  std::string backup;
  bool had_old = false;  // an older file was kept
  bool moved = false;    // ... by renaming it, not by a second link
};

std::string backup_name(const std::string& final_path) {
  const std::size_t slash = final_path.rfind('/');
  return final_path.substr(0, slash + 1) + "." + final_path.substr(slash + 1) + ".old" +
         std::to_string(::getpid());
}

// Keeps the older file (or, for a folder, the older folder) at final_path,
// if any; returns 0 or the error.
int keep_older(const std::string& final_path, bool folder, kept& k) {
  k.backup = backup_name(final_path);
  struct stat st {};
  if (::lstat(final_path.c_str(), &st) != 0) return errno == ENOENT ? 0 : errno;
  if (folder) {
    if (!S_ISDIR(st.st_mode)) return ENOTDIR;
    if (::rename(final_path.c_str(), k.backup.c_str()) != 0) return errno;
    k.had_old = k.moved = true;
    return 0;
  }
  if (S_ISDIR(st.st_mode)) return EISDIR;
  ::unlink(k.backup.c_str());
  if (::link(final_path.c_str(), k.backup.c_str()) == 0) {
    k.had_old = true;
    return 0;
  }
  if (::rename(final_path.c_str(), k.backup.c_str()) != 0) return errno;
  k.had_old = k.moved = true;
  return 0;
}

}  // namespace

void publish_staged_files(const std::string& dir) {
  folder_lock lock(dir);
  signals_held hold;
  std::vector<staged*> set;
  for (staged& s : table) {
    if (!s.in_use) continue;
    if (!s.finished) throw std::logic_error("publishing an unfinished file");
    set.push_back(&s);
  }
  std::vector<kept> older(set.size());

  // Puts the older files back after a failure at file `failed`, when the
  // files before it are in place; returns what could not be put back.
  const auto restore = [&](std::size_t failed) {
    std::string lost;
    for (std::size_t i = 0; i < set.size(); ++i) {
      const std::string& final_path = set[i]->final_path;
      const kept& k = older[i];
      bool ok = true;
      if (i < failed && set[i]->folder) {
        // The new folder goes back to its temporary name, to be removed.
        ok = ::rename(final_path.c_str(), set[i]->temp_path) == 0 &&
             (!k.had_old || ::rename(k.backup.c_str(), final_path.c_str()) == 0);
      } else if (i < failed) {
        ok = k.had_old ? ::rename(k.backup.c_str(), final_path.c_str()) == 0
                       : ::unlink(final_path.c_str()) == 0;
        set[i]->in_use = 0;  // its temporary name is gone
      } else if (k.moved) {
        ok = ::rename(k.backup.c_str(), final_path.c_str()) == 0;
      } else if (k.had_old) {
        ::unlink(k.backup.c_str());
      }
      if (!ok && k.had_old) {
        lost += "; the older " + final_path + " could not be restored (it is kept as " + k.backup + ")";
      } else if (!ok) {
        lost += "; the new " + final_path + " could not be removed";
      }
    }
    return lost;
  };
  const auto give_up = [&](const std::string& final_path, int err, std::size_t failed) {
    const std::string what = "cannot put " + final_path + " in place: " +
                             (err == EISDIR    ? "a folder of that name is in the way"
                              : err == ENOTDIR ? "a file of that name is in the way"
                                               : std::strerror(err));
    const std::string lost = restore(failed);
    if (!lost.empty()) throw publish_incomplete(what + lost);
    throw std::runtime_error(what);
  };

  // Nothing visible changes until every older file is kept.
  for (std::size_t i = 0; i < set.size(); ++i) {
    if (const int err = keep_older(set[i]->final_path, set[i]->folder, older[i]); err != 0) {
      give_up(set[i]->final_path, err, 0);
    }
  }
  for (std::size_t i = 0; i < set.size(); ++i) {
    if (::rename(set[i]->temp_path, set[i]->final_path.c_str()) != 0) give_up(set[i]->final_path, errno, i);
  }
  for (std::size_t i = 0; i < set.size(); ++i) {
    if (older[i].had_old && set[i]->folder) {
      remove_folder(older[i].backup.c_str());
    } else if (older[i].had_old) {
      ::unlink(older[i].backup.c_str());
    }
    set[i]->in_use = 0;
  }
  // Still held: a signal that came during the renames is taken only now,
  // as one that came after them.
  set_published = 1;
}

void remove_stale_staged_files(const std::string& dir, const std::vector<std::string>& names) {
  DIR* d = ::opendir(dir.c_str());
  if (d == nullptr) return;
  const std::string own = std::to_string(::getpid());
  while (const dirent* e = ::readdir(d)) {
    const std::string entry = e->d_name;
    for (const std::string& name : names) {
      // .NAME.tmpPID, .NAME.tmpPID.N or .NAME.oldPID
      const std::string stem = "." + name + ".";
      if (entry.compare(0, stem.size(), stem) != 0 || entry.size() < stem.size() + 4) continue;
      const std::string kind = entry.substr(stem.size(), 3);
      if (kind != "tmp" && kind != "old") continue;
      std::string pid = entry.substr(stem.size() + 3);
      if (const std::size_t dot = pid.find('.'); kind == "tmp" && dot != std::string::npos) {
        const std::string n = pid.substr(dot + 1);
        if (n.empty() || n.find_first_not_of("0123456789") != std::string::npos) continue;
        pid.resize(dot);
      }
      if (pid.empty() || pid.size() > 9 || pid.find_first_not_of("0123456789") != std::string::npos) continue;
      const bool ended = ::kill(static_cast<pid_t>(std::stol(pid)), 0) != 0 && errno == ESRCH;
      if (pid == own || ended) {
        if (::unlinkat(::dirfd(d), e->d_name, 0) != 0 && (errno == EISDIR || errno == EPERM)) {
          remove_folder((dir + "/" + entry).c_str());  // a staged folder
        }
      }
    }
  }
  ::closedir(d);
}

void discard_staged_files() noexcept {
  for (staged& s : table) {
    if (s.in_use) {
      remove_entry(s);
      s.in_use = 0;
    }
  }
}

void discard_staged_files_on_signals(const char* program) {
  program_name = program;
  struct sigaction action {};
  action.sa_handler = on_ending_signal;
  sigemptyset(&action.sa_mask);
  for (int s : ending_signals) sigaddset(&action.sa_mask, s);
  for (int s : ending_signals) {
    struct sigaction old {};
    // A signal ignored at start (nohup) stays ignored.
    if (sigaction(s, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
    sigaction(s, &action, nullptr);
  }
  std::signal(SIGXFSZ, SIG_IGN);
}

}  // namespace trislip
