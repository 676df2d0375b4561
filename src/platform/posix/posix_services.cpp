#include "platform/posix/posix_services.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>

#include "core/ini_file.h"

extern char** environ;

namespace dbx {
namespace {

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? std::string(v) : std::string();
}

std::string DirName(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

void MakeDirs(const std::string& dir) {
  if (dir.empty() || dir == "/" || dir == ".") return;
  struct stat st {};
  if (::stat(dir.c_str(), &st) == 0) return;
  MakeDirs(DirName(dir));
  ::mkdir(dir.c_str(), 0700);
}

bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

// A file descriptor that closes itself.
struct Fd {
  int fd = -1;
  explicit Fd(int f) : fd(f) {}
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
};

constexpr std::size_t kMaxSettingsFile = 16u << 20;
constexpr std::size_t kMaxIniFile = 16u << 20;

}  // namespace

std::optional<std::string> ReadWholeFile(const std::string& path, std::size_t maxBytes) {
  Fd f(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (f.fd < 0) return std::nullopt;
  std::string out;
  char buf[65536];
  for (;;) {
    const ssize_t n = ::read(f.fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      return std::nullopt;
    }
    if (n == 0) break;
    if (out.size() + static_cast<std::size_t>(n) > maxBytes) return std::nullopt;
    out.append(buf, static_cast<std::size_t>(n));
  }
  return out;
}

std::string OwnProgramPath() {
  char buf[PATH_MAX + 1];
  const ssize_t n = ::readlink("/proc/self/exe", buf, PATH_MAX);
  if (n <= 0) return {};
  return std::string(buf, static_cast<std::size_t>(n));
}

FileSettingsStore::FileSettingsStore(std::string path) : path_(std::move(path)) {}

std::string FileSettingsStore::DefaultPath() {
  if (std::string p = Env("DAZZLEBOX_SETTINGS_FILE"); !p.empty()) return p;
  std::string base = Env("XDG_CONFIG_HOME");
  if (base.empty()) {
    std::string home = Env("HOME");
    base = (home.empty() ? std::string("/tmp") : home) + "/.config";
  }
  return base + "/dazzlebox/settings.reg";
}

RegistryDocument FileSettingsStore::Load() const {
  if (auto text = ReadWholeFile(path_, kMaxSettingsFile)) {
    if (auto doc = RegistryDocument::Parse(*text)) return std::move(*doc);
  }
  return {};
}

std::optional<std::string> FileSettingsStore::ReadText(std::string_view key,
                                                       std::string_view name) {
  // The file is replaced by rename, so a reader always sees a whole version of it.
  return Load().ReadText(key, name);
}

void FileSettingsStore::WriteText(std::string_view key, std::string_view name,
                                  std::string_view text) {
  WriteTexts({SettingWrite{std::string(key), std::string(name), std::string(text)}});
}

void FileSettingsStore::WriteTexts(const std::vector<SettingWrite>& writes) {
  if (writes.empty()) return;
  const std::string dir = DirName(path_);
  MakeDirs(dir);
  Fd lock(::open((path_ + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
  if (lock.fd < 0) return;
  while (::flock(lock.fd, LOCK_EX) != 0) {
    if (errno != EINTR) return;
  }
  RegistryDocument doc = Load();
  for (const auto& w : writes) doc.WriteText(w.key, w.name, w.text);
  const std::string data = doc.Serialize();
  const std::string temp = path_ + ".tmp." + std::to_string(::getpid());
  {
    Fd out(::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    if (out.fd < 0) return;
    if (!WriteAll(out.fd, data) || ::fsync(out.fd) != 0) {
      ::unlink(temp.c_str());
      return;
    }
  }
  if (::rename(temp.c_str(), path_.c_str()) != 0) {
    ::unlink(temp.c_str());
    return;
  }
  Fd d(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (d.fd >= 0) ::fsync(d.fd);
}

std::string PosixFiles::ReadString(const std::string& file, std::string_view section,
                                   std::string_view key, std::string_view fallback,
                                   std::size_t bufferSize) {
  const auto text = ReadWholeFile(file, kMaxIniFile);
  std::optional<std::string_view> view;
  if (text) view = *text;
  return IniProfileString(view, section, key, fallback, bufferSize);
}

std::string PosixFiles::SystemDirectory() {
  std::string dir = Env("DAZZLEBOX_SYSTEM_DIR");
  if (dir.empty()) {
    std::string program =
        programPath.find('/') == std::string::npos ? OwnProgramPath() : programPath;
    if (!program.empty() && program.front() != '/') {
      char cwd[PATH_MAX];
      if (::getcwd(cwd, sizeof cwd)) program = std::string(cwd) + "/" + program;
    }
    dir = DirName(program);
  }
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  return dir;
}

std::string PosixFiles::LongPathName(const std::string& path) {
  // Names have one form here: the long path of an existing file is the path itself.
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? path : std::string();
}

bool PosixFiles::FileExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::vector<std::string> SplitCommandLine(std::string_view text) {
  std::vector<std::string> args;
  std::string current;
  bool inWord = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
      if (inWord) args.push_back(std::move(current));
      current.clear();
      inWord = false;
      continue;
    }
    inWord = true;
    if (c == '\'') {
      const auto close = text.find('\'', i + 1);
      const auto end = close == std::string_view::npos ? text.size() : close;
      current.append(text.substr(i + 1, end - i - 1));
      i = end;
    } else if (c == '"') {
      for (++i; i < text.size() && text[i] != '"'; ++i) {
        if (text[i] == '\\' && i + 1 < text.size() &&
            std::strchr("\"\\$`", text[i + 1]) != nullptr) {
          ++i;
        }
        current += text[i];
      }
    } else if (c == '\\' && i + 1 < text.size()) {
      current += text[++i];
    } else {
      current += c;
    }
  }
  if (inWord) args.push_back(std::move(current));
  return args;
}

std::string JoinCommandLine(const std::vector<std::string>& args) {
  std::string out;
  for (const std::string& arg : args) {
    if (!out.empty()) out += ' ';
    out += '\'';
    for (char c : arg) {
      if (c == '\'') {
        out += "'\\''";  // close the quotes, an escaped quote, open them again
      } else {
        out += c;
      }
    }
    out += '\'';
  }
  return out;
}

bool SpawnDetached(const std::vector<std::string>& argv) {
  if (argv.empty() || argv.front().empty()) return false;
  std::vector<char*> raw;
  raw.reserve(argv.size() + 1);
  for (const auto& a : argv) raw.push_back(const_cast<char*>(a.c_str()));
  raw.push_back(nullptr);
  pid_t pid = 0;
  return ::posix_spawnp(&pid, raw[0], nullptr, nullptr, raw.data(), environ) == 0;
}

InstanceLock::InstanceLock(const std::string& saverName) {
  std::string dir = Env("XDG_RUNTIME_DIR");
  if (dir.empty()) dir = "/tmp";
  // One lock file per saver name and user.
  const std::size_t hash = std::hash<std::string>{}(saverName);
  const std::string path =
      dir + "/dazzlebox-" + std::to_string(::getuid()) + "-" + std::to_string(hash) + ".lock";
  fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd_ < 0) return;
  previous_ = ::flock(fd_, LOCK_EX | LOCK_NB) != 0;
  ::flock(fd_, LOCK_SH);
}

InstanceLock::~InstanceLock() {
  if (fd_ >= 0) ::close(fd_);
}

}  // namespace dbx
