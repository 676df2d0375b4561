// The program's version, from the project's version in the build (DBX_VERSION), and the
// "--version" switch of the Linux programs.
#pragma once

#include <cstdio>
#include <cstring>

#ifndef DBX_VERSION
#error "the build defines DBX_VERSION, the project's version"
#endif

namespace dbx {

inline constexpr const char* kProgramVersion = DBX_VERSION;

// When the only argument is "--version", prints "<program> <version>" and returns true: the
// program then ends with 0 and does nothing else.
inline bool PrintVersionIfAsked(int argc, char** argv, const char* program) {
  if (argc != 2 || std::strcmp(argv[1], "--version") != 0) return false;
  std::printf("%s %s\n", program, kProgramVersion);
  return true;
}

}  // namespace dbx
