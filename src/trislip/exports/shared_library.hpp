// A shared library opened by name the first time a run needs it. netCDF
// and PROJ bring some fifty libraries with them (HDF5, curl, SQLite, TLS),
// whose loading and relocation cost a process about 25 ms at start; opened
// here, only the runs that write NRF or project a position pay for them.
// The library stays open to the end of the process: HDF5 registers
// handlers that run at exit.
#pragma once

#include <string>

namespace trislip::detail {

class shared_library {
 public:
  // Opens `soname` (e.g. "libproj.so.25"); `what` names it in messages
  // ("PROJ"). Never throws: a library that cannot be opened, or lacks a
  // function asked for, leaves error() saying so.
  shared_library(const char* soname, const char* what);
  shared_library(const shared_library&) = delete;
  shared_library& operator=(const shared_library&) = delete;

  // The address of `name` as an `F` (the function's own type, from the
  // library's header), or nullptr with error() set.
  template <class F>
  F function(const char* name) {
    return reinterpret_cast<F>(address(name));
  }

  bool usable() const { return error_.empty(); }
  const std::string& error() const { return error_; }

 private:
  using any_function = void (*)();
  any_function address(const char* name);

  void* handle_ = nullptr;
  std::string name_;
  std::string error_;
};

}  // namespace trislip::detail

// A struct NAME of the functions that LIST(X) names (X(f) for each), typed
// from the library's own header and looked up in `soname` the first time
// GETTER() is called; its `error` is empty when every one was found.
#define TRISLIP_LIBRARY_MEMBER(f) decltype(&::f) f = nullptr;
#define TRISLIP_LIBRARY_LOOKUP(f) a.f = library.function<decltype(&::f)>(#f);
#define TRISLIP_OPENED_LIBRARY(NAME, GETTER, soname, what, LIST)               \
  struct NAME {                                                                \
    LIST(TRISLIP_LIBRARY_MEMBER)                                               \
    std::string error;                                                         \
  };                                                                           \
  const NAME& GETTER() {                                                       \
    static const NAME api = [] {                                               \
      static ::trislip::detail::shared_library library(soname, what);          \
      NAME a;                                                                  \
      LIST(TRISLIP_LIBRARY_LOOKUP)                                             \
      a.error = library.error();                                               \
      return a;                                                                \
    }();                                                                       \
    return api;                                                                \
  }
