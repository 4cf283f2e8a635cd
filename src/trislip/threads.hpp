#pragma once

#include <algorithm>
#include <thread>

// Whether this build can start threads. A WebAssembly build without
// shared memory (the browser page, which must open from the file system)
// cannot: there every part of a run that would go to another thread runs
// on the calling one, in the order the threaded run's output keeps.
namespace trislip {

#if defined(__EMSCRIPTEN__) && !defined(__EMSCRIPTEN_PTHREADS__)
inline constexpr bool can_start_threads = false;
#else
inline constexpr bool can_start_threads = true;
#endif

// How many threads to share work among: the machine's cores, at least 1.
inline unsigned worker_count() {
  if (!can_start_threads) return 1;
  return std::max(1u, std::thread::hardware_concurrency());
}

}  // namespace trislip
