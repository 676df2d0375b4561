#include "settings/paths.h"

namespace dbx {

std::string SystemDir(Platform& platform) {
  std::string dir = platform.Paths().SystemDirectory();
  while (dir.size() > 1 && dir.back() == kPathSep) dir.pop_back();
  return dir;
}

std::string LongPath(Platform& platform, const std::string& path) {
  return platform.Paths().LongPathName(path);
}

std::string FileTitle(std::string_view path) {
#ifdef _WIN32
  const auto pos = path.rfind(kPathSep);
#else
  // Content made on Windows names files with backslashes; both separate folders here.
  const auto pos = path.find_last_of("/\\");
#endif
  return std::string(pos == std::string_view::npos ? path : path.substr(pos + 1));
}

std::string AddBackslash(std::string_view path) {
  std::string out(path);
  if (out.empty() || out.back() != kPathSep) out += kPathSep;
  return out;
}

std::string MoviePath(Platform& platform, const std::string& saverName) {
  return SystemDir(platform) + kPathSep + saverName + ".swf";
}

std::string ContentFolder(Platform& platform, const std::string& saverName) {
  return SystemDir(platform) + kPathSep + std::string(kContentFolderName) + kPathSep + saverName +
         kPathSep;
}

std::string SeedFilePath(Platform& platform) {
  return SystemDir(platform) + kPathSep + std::string(kSeedFileName);
}

}  // namespace dbx
