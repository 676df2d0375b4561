// Where the program and its content lie.
#pragma once

#include <string>
#include <string_view>

#include "core/platform.h"

namespace dbx {

// The folder separator of this build's paths. The content layout is the same on every system:
// <SystemDir>/<saver name>.scr, <SystemDir>/Zirezarev.ini, <SystemDir>/<saver name>.swf and the
// content folder <SystemDir>/DEvOrevi/<saver name>/.
#ifdef _WIN32
inline constexpr char kPathSep = '\\';
#else
inline constexpr char kPathSep = '/';
#endif

inline constexpr std::string_view kSeedFileName = "Zirezarev.ini";
inline constexpr std::string_view kSeedSection = "DM-NOVAPOST";
inline constexpr std::string_view kContentFolderName = "DEvOrevi";

// The system directory without a trailing separator.
std::string SystemDir(Platform& platform);
// The long form of an existing path; the empty text when the path does not exist.
std::string LongPath(Platform& platform, const std::string& path);
// The text after the last separator (on Linux "/" or "\"); a text without one is returned
// unchanged.
std::string FileTitle(std::string_view path);
// The text with a separator appended unless it already ends with one.
std::string AddBackslash(std::string_view path);

// SystemDir + sep + saver name + ".swf".
std::string MoviePath(Platform& platform, const std::string& saverName);
// SystemDir + sep + "DEvOrevi" + sep + saver name + sep.
std::string ContentFolder(Platform& platform, const std::string& saverName);
// SystemDir + sep + "Zirezarev.ini".
std::string SeedFilePath(Platform& platform);

}  // namespace dbx
