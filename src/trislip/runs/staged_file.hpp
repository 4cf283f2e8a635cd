#pragma once

#include <signal.h>

#include <cstddef>
#include <stdexcept>
#include <string>
#include <vector>

// Result files that are complete or absent. Each is written under a
// temporary name beside its final one and renamed into place, together with
// the others, only once all of them are complete. A failure, or a signal
// that ends the run, removes the temporary files and leaves any older file
// of the final name untouched.
namespace trislip {

class staged_file {
 public:
  // Creates dir/.NAME.tmpPID (exclusively) for writing. Throws
  // std::runtime_error naming the file and the system's reason.
  staged_file(const std::string& dir, const std::string& name);
  // Removes the temporary file unless it has been published.
  ~staged_file();
  staged_file(const staged_file&) = delete;
  staged_file& operator=(const staged_file&) = delete;

  void put(const char* text, std::size_t n);

  // The temporary file's name, for a writer that must open the file by
  // name itself (netCDF): it writes there instead of through put().
  const char* temp_path() const;

  // Writes what is buffered and closes the temporary file.
  void finish();

  static constexpr std::size_t buffer_size = 1 << 20;

 private:
  void flush();
  void write_all(const char* p, std::size_t n);

  std::string final_path_;
  int slot_ = -1;  // in the registry of temporary names
  int fd_ = -1;
  std::size_t used_ = 0;
  char* buffer_;
};

// A folder of files published whole with the staged files, under its final
// name: its files are written into dir/.NAME.tmpPID/ (path()) by whoever
// wants, and the folder is renamed into place with the set. An older
// folder of that name is replaced whole; a failure or an ending signal
// removes the temporary folder and its files.
class staged_folder {
 public:
  staged_folder(const std::string& dir, const std::string& name);
  ~staged_folder();
  staged_folder(const staged_folder&) = delete;
  staged_folder& operator=(const staged_folder&) = delete;

  const std::string& path() const { return path_; }
  // Every file in it is written and closed.
  void finish();

 private:
  std::string final_path_, path_;
  int slot_ = -1;
};

// Puts every finished staged file in place as one set. Runs that publish
// into the same folder take turns on an advisory lock (dir/.trislip.lock),
// held only while the files are put in place, so that the folder always
// holds the files of one run. Each older file is first kept under a
// backup name; if any file cannot be put in place, the older files are
// restored and std::runtime_error names the file that could not, with
// nothing changed. The ending signals are held meanwhile. Only a kill that
// cannot be caught, in the microseconds this takes, can leave a mixed set.
void publish_staged_files(const std::string& dir);

// Thrown by publish_staged_files when an older file could not be restored
// after a failure: what() says which files changed.
class publish_incomplete : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Removes the temporary and backup files of NAMES in dir that runs which
// have ended left behind (a kill that cannot be caught, a crash): those of
// a process number that no longer runs, or that is this process's own.
void remove_stale_staged_files(const std::string& dir, const std::vector<std::string>& names);

// Removes every temporary file still registered, with async-signal-safe
// calls only: for the signal handlers.
void discard_staged_files() noexcept;

// Installs handlers for SIGINT, SIGTERM and SIGHUP that discard the staged
// files, print "PROGRAM: interrupted, unfinished files removed" and exit with
// status 1; once publish_staged_files has put the set in place (a signal
// that came while it did is held until then), they print "PROGRAM:
// interrupted after its files were published; they are complete" and exit
// with interrupted_after_publishing. A write that would exceed a file-size
// limit fails with an error instead of killing the process.
void discard_staged_files_on_signals(const char* program);
constexpr int interrupted_after_publishing = 3;

// Holds the ending signals (SIGINT, SIGTERM, SIGHUP) on this thread while
// it lives. Threads started meanwhile keep them held for good: the handler
// then runs on the main thread only, which holds them itself whenever it
// changes the table of staged files.
class ending_signals_held {
 public:
  ending_signals_held();
  ~ending_signals_held();
  ending_signals_held(const ending_signals_held&) = delete;
  ending_signals_held& operator=(const ending_signals_held&) = delete;

 private:
  sigset_t old_;
};

}  // namespace trislip
