// The small services of the Windows layer: settings in the registry, the INI reader, paths, the
// process, the pointer, sound, message boxes and system colours.
#pragma once

#include <string>
#include <string_view>

#include "platform/win32/win32_api.h"

namespace dbx::win32 {

// Text values under a root key of the registry (HKEY_CURRENT_USER for the program). Only REG_SZ
// values read as text; anything else, and anything absent, reads as nothing.
class RegistrySettingsStore final : public SettingsStore {
 public:
  explicit RegistrySettingsStore(HKEY root = HKEY_CURRENT_USER) : root_(root) {}
  std::optional<std::string> ReadText(std::string_view key, std::string_view name) override;
  void WriteText(std::string_view key, std::string_view name, std::string_view text) override;

 private:
  HKEY root_;
};

// GetPrivateProfileStringA with the caller's buffer size.
class ProfileIniReader final : public IniReader {
 public:
  std::string ReadString(const std::string& file, std::string_view section, std::string_view key,
                         std::string_view fallback, std::size_t bufferSize) override;
};

class Win32SystemPaths final : public SystemPaths {
 public:
  std::string SystemDirectory() override;
  std::string LongPathName(const std::string& path) override;
  char Separator() const override { return '\\'; }
  bool FileExists(const std::string& path) override;
};

// The text that follows the program's own name in a command line, as the C runtime hands it to
// WinMain: a quoted name ends at its closing quote, an unquoted one at the first blank; the blanks
// after it are skipped, trailing ones kept.
std::string_view ArgumentsAfterProgramName(std::string_view commandLine);

// The part of a path after its last folder separator ('\' or '/').
std::string_view FileNamePart(std::string_view path);

// The name of the object that marks a running instance of the program at `programPath`; paths
// that differ only in letter case give the same name.
std::string InstanceMarkName(std::string_view programPath);

class Win32Process final : public Process {
 public:
  // Marks this process as a running instance of its program file, so that later instances see it.
  Win32Process();
  ~Win32Process() override;
  Win32Process(const Win32Process&) = delete;
  Win32Process& operator=(const Win32Process&) = delete;

  std::string CommandLine() override;
  std::string ProgramFileName() override;
  // The mark is the program file's: on Windows it is the saver's own "<saver name>.scr".
  bool PreviousInstanceRunning(std::string_view) override { return previousInstance_; }
  bool TopLevelWindowExists(std::string_view title) override;
  std::optional<Size> ClientSizeOf(NativeHandle window) override;
  bool Start(std::string_view commandLine) override;
  [[noreturn]] void ExitNow(int code) override;

 private:
  HANDLE instanceMark_ = nullptr;
  bool previousInstance_ = false;
};

// The path of the running program file, as it was started (long or 8.3 form).
std::string ModulePath();

class Win32Cursor final : public Cursor {
 public:
  int Show(bool show) override { return ::ShowCursor(show ? TRUE : FALSE); }
  Point Position() override;
};

class Win32SoundPlayer final : public SoundPlayer {
 public:
  bool Play(const std::string& path, SoundRepeat repeat) override;
  void Stop() override;
};

class Win32Dialogs final : public Dialogs {
 public:
  void MessageBox(std::string_view text, std::string_view caption, MessageKind kind) override;
};

class Win32SystemColors final : public SystemColors {
 public:
  std::int32_t SysColor(int index) override;
};

}  // namespace dbx::win32
