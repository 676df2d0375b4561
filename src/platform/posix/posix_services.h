// The services of a POSIX system that need no display: the per-user file settings store, the seed
// file reader, the program's folder, the instance lock and starting processes.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/platform.h"
#include "core/registry_document.h"

namespace dbx {

// The settings store as one file (format: settings/registry_document.h). Every write re-reads the
// file under an exclusive lock, changes the one value and replaces the file atomically (temporary
// file, fsync, rename), so two processes seeding at once, or a process killed between two writes,
// never leave a half-written file.
class FileSettingsStore final : public SettingsStore {
 public:
  explicit FileSettingsStore(std::string path);
  std::optional<std::string> ReadText(std::string_view key, std::string_view name) override;
  void WriteText(std::string_view key, std::string_view name, std::string_view text) override;
  // All the writes in one replacement of the file: a seeding is kept whole or not at all.
  void WriteTexts(const std::vector<SettingWrite>& writes) override;
  const std::string& path() const { return path_; }

  // $DAZZLEBOX_SETTINGS_FILE, else $XDG_CONFIG_HOME/dazzlebox/settings.reg, else
  // $HOME/.config/dazzlebox/settings.reg.
  static std::string DefaultPath();

 private:
  RegistryDocument Load() const;
  std::string path_;
};

class PosixFiles final : public IniReader, public SystemPaths {
 public:
  std::string ReadString(const std::string& file, std::string_view section, std::string_view key,
                         std::string_view fallback, std::size_t bufferSize) override;
  // $DAZZLEBOX_SYSTEM_DIR, else the folder that holds the program file (as started: a link
  // elsewhere counts as its own folder).
  std::string SystemDirectory() override;
  // The program as it was started (argv[0]); empty: the running executable.
  std::string programPath;
  std::string LongPathName(const std::string& path) override;
  char Separator() const override { return '/'; }
  bool FileExists(const std::string& path) override;
};

// Reads a whole file; nothing when it cannot be read or is larger than maxBytes.
std::optional<std::string> ReadWholeFile(const std::string& path, std::size_t maxBytes);

// The program's own file, resolved (/proc/self/exe).
std::string OwnProgramPath();

// Splits a command text into arguments the way a shell would for plain words: spaces separate,
// '...' keeps everything literally, "..." keeps everything but \" \\ \$ \`, and a backslash
// outside quotes escapes the next character. Nothing else of a shell is interpreted.
std::vector<std::string> SplitCommandLine(std::string_view text);
// The text that SplitCommandLine splits into exactly `args` (each argument quoted).
std::string JoinCommandLine(const std::vector<std::string>& args);

// Starts argv[0] (searched in PATH) with the arguments, without a shell and without waiting.
bool SpawnDetached(const std::vector<std::string>& argv);

// The previous-instance test: every instance holds a shared lock on a file named after the saver
// for its whole life; an instance that cannot take the lock exclusively for a moment is not alone.
class InstanceLock {
 public:
  explicit InstanceLock(const std::string& saverName);
  ~InstanceLock();
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;
  bool PreviousInstanceRunning() const { return previous_; }

 private:
  int fd_ = -1;
  bool previous_ = false;
};

}  // namespace dbx
