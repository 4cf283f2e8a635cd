#include "shared_library.hpp"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace trislip::detail {

shared_library::shared_library(const char* soname, const char* what)
    : name_(std::string(what) + " (" + soname + ")") {
#ifdef _WIN32
  handle_ = reinterpret_cast<void*>(LoadLibraryA(soname));
  if (!handle_) error_ = name_ + " could not be loaded";
#else
  handle_ = dlopen(soname, RTLD_NOW | RTLD_LOCAL);
  if (!handle_) {
    const char* why = dlerror();
    error_ = name_ + " could not be loaded" + (why ? std::string(": ") + why : std::string());
  }
#endif
}

shared_library::any_function shared_library::address(const char* name) {
  if (!handle_) return nullptr;
#ifdef _WIN32
  const auto f = reinterpret_cast<any_function>(GetProcAddress(static_cast<HMODULE>(handle_), name));
#else
  // POSIX lets dlsym's pointer stand for a function's address.
  const auto f = reinterpret_cast<any_function>(dlsym(handle_, name));
#endif
  if (!f && error_.empty()) error_ = name_ + " has no function " + name;
  return f;
}

}  // namespace trislip::detail
