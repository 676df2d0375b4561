// Timestamped progress lines for measuring start-up and shut-down (DAZZLEBOX_TRACE=1), written to
// standard error with the milliseconds since the process started tracing.
#pragma once

#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace dbx {

inline bool TraceEnabled() {
  static const bool enabled = [] {
    const char* v = std::getenv("DAZZLEBOX_TRACE");
    return v && *v && *v != '0';
  }();
  return enabled;
}

inline void Trace(const char* what) {
  if (!TraceEnabled()) return;
  using namespace std::chrono;
  // Wall-clock milliseconds, so that a script can compare them with its own timestamps.
  const auto ms = duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
  std::fprintf(stderr, "dazzlebox-trace %lld %s\n", static_cast<long long>(ms), what);
  std::fflush(stderr);
}

}  // namespace dbx
