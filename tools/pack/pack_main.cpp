// dazzlebox-pack: makes a ready saver from a folder of pictures or from one movie.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "pack/pack.h"

#ifdef _WIN32
#include <windows.h>
// after windows.h, which it builds on
#include <shellapi.h>

#include "platform/win32/image_loader.h"
#else
#include <unistd.h>

#include "platform/imageio/image_io.h"
#endif

namespace fs = std::filesystem;

namespace {

constexpr const char* kUsage =
    "usage: dazzlebox-pack --name NAME --out OUT\n"
    "         (--pictures DIR|FILE... [--interval S] [--effects all|N...] [--step N]\n"
    "          [--background COLOUR | gradient C1 C2 ANGLE | picture FILE]\n"
    "          [--music FILE.wav [--once]]\n"
    "        | --movie FILE.swf [--scale show-all|exact-fit|no-scale] [--quality Q]\n"
    "          [--background COLOUR])\n"
    "        [--inputs key,left,right,move|none] [--show-pointer]\n"
    "        [--description TEXT] [--version TEXT] [--copyright TEXT] [--url TEXT]\n"
    "        [--program FILE] [--installer] [--xscreensaver] [--ansi]\n"
    "Colours are #RRGGBB or colour numbers. Pictures of a folder are taken in natural name "
    "order.\n";

fs::path OwnFolder(const char* argv0) {
#ifdef _WIN32
  char buf[MAX_PATH];
  const DWORD n = ::GetModuleFileNameA(nullptr, buf, MAX_PATH);
  if (n > 0 && n < MAX_PATH) return fs::path(std::string(buf, n)).parent_path();
#else
  std::error_code ec;
  const fs::path self = fs::read_symlink("/proc/self/exe", ec);
  if (!ec) return self.parent_path();
#endif
  return fs::absolute(argv0).parent_path();
}

// The program to pack: beside this tool, or where the build puts it.
fs::path FindProgram(const fs::path& own, bool windowsProgram) {
  const char* name = windowsProgram ? "Dazzlebox.scr" : "dazzlebox";
  for (const fs::path& candidate : {own / name, own / ".." / ".." / "src" / "app" / name,
                                    own / ".." / "libexec" / "xscreensaver" / name}) {
    std::error_code ec;
    if (fs::is_regular_file(candidate, ec)) return fs::weakly_canonical(candidate, ec);
  }
  return {};
}

bool IsWindowsProgram(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  char mz[2] = {};
  in.read(mz, 2);
  return in && mz[0] == 'M' && mz[1] == 'Z';
}

std::string ShellQuoted(const std::string& s) {
#ifdef _WIN32
  return "\"" + s + "\"";
#else
  std::string out = "'";
  for (char c : s) {
    if (c == '\'') {
      out += "'\\''";
    } else {
      out += c;
    }
  }
  return out + "'";
#endif
}

int MakeInstaller(const dbx::PackOptions& o, const std::vector<fs::path>& files) {
  const fs::path setup = fs::absolute(o.out) / (o.name + " Setup.exe");
  const fs::path script =
      fs::absolute(o.out).parent_path() / (std::string(".").append(o.name).append(".nsi"));
  {
    std::ofstream out(script, std::ios::binary);
    out << dbx::InstallerScript(o, fs::absolute(o.out), files, setup);
    if (!out) {
      std::fprintf(stderr, "%s: cannot be written\n", script.string().c_str());
      return 1;
    }
  }
  const std::string cmd = "makensis -V2 -INPUTCHARSET UTF8 " + ShellQuoted(script.string());
  const int rc = std::system(cmd.c_str());
  std::error_code ec;
  fs::remove(script, ec);
  if (rc != 0 || !fs::is_regular_file(setup, ec)) {
    std::fprintf(stderr, "makensis failed (is the nsis package installed?)\n");
    return 1;
  }
  std::printf("%s\n", setup.string().c_str());
  return 0;
}

#ifdef _WIN32
// The pack works in UTF-8 (file names, texts); the system's picture decoder takes paths in the
// ANSI code page.
std::string Utf8ToSystemAnsi(const std::string& utf8) {
  const int n = ::MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0);
  if (n <= 0) return utf8;
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, wide.data(), n);
  const int m = ::WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
  if (m <= 0) return utf8;
  std::string ansi(static_cast<std::size_t>(m), '\0');
  ::WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, ansi.data(), m, nullptr, nullptr);
  ansi.pop_back();
  return ansi;
}

class Utf8Pictures final : public dbx::ImageLoader {
 public:
  std::optional<dbx::Surface> Load(const std::string& path) override {
    return wic_.Load(Utf8ToSystemAnsi(path));
  }
  std::optional<dbx::Surface> Decode(const std::uint8_t* data, std::size_t size) override {
    return wic_.Decode(data, size);
  }

 private:
  dbx::win32::WicImageLoader wic_;
};

// The command line as UTF-8 words (argv arrives in the ANSI code page).
std::vector<std::string> Utf8Arguments() {
  std::vector<std::string> out;
  int argc = 0;
  wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
  if (!argv) return out;
  for (int i = 1; i < argc; ++i) {
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, nullptr, 0, nullptr, nullptr);
    std::string a(static_cast<std::size_t>(n > 0 ? n : 1), '\0');
    if (n > 0) ::WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, a.data(), n, nullptr, nullptr);
    a.pop_back();
    out.push_back(std::move(a));
  }
  ::LocalFree(argv);
  return out;
}
#endif

#ifndef _WIN32
std::string ReadText(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

// Copies the packed saver under the user's data folder and lists it in xscreensaver's settings.
int InstallForXscreensaver(const dbx::PackOptions& o) {
  std::string data = Env("XDG_DATA_HOME");
  const std::string home = Env("HOME");
  if (data.empty()) data = home + "/.local/share";
  const fs::path dest = fs::path(data) / "dazzlebox" / "savers" / o.name;
  std::error_code ec;
  fs::remove_all(dest, ec);
  fs::create_directories(dest.parent_path(), ec);
  fs::copy(o.out, dest, fs::copy_options::recursive, ec);
  if (ec) {
    std::fprintf(stderr, "%s: cannot be written (%s)\n", dest.string().c_str(),
                 ec.message().c_str());
    return 1;
  }
  const fs::path rc = fs::path(home) / ".xscreensaver";
  const std::string text = fs::exists(rc, ec) ? ReadText(rc) : std::string();
  const std::string defaults = ReadText("/etc/X11/app-defaults/XScreenSaver");
  const std::string command = ShellQuoted((dest / (o.name + ".scr")).string()) + " -root";
  const std::string updated = dbx::AddXscreensaverEntry(text, defaults, o.name, command);
  if (updated != text) {
    const fs::path tmp = fs::path(rc).concat(".dazzlebox-tmp");
    {
      std::ofstream out(tmp, std::ios::binary);
      out << updated;
      if (!out) {
        std::fprintf(stderr, "%s: cannot be written\n", tmp.string().c_str());
        return 1;
      }
    }
    fs::rename(tmp, rc, ec);
    if (ec) {
      std::fprintf(stderr, "%s: cannot be written\n", rc.string().c_str());
      return 1;
    }
  }
  std::printf("%s\n", dest.string().c_str());
  return 0;
}
#endif

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
  const std::vector<std::string> args = Utf8Arguments();
  (void)argc;
#else
  const std::vector<std::string> args(argv + 1, argv + argc);
#endif
  dbx::PackCommand cmd = dbx::ParsePackArguments(args);
  if (cmd.help) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (!cmd.error.empty()) {
    std::fprintf(stderr, "dazzlebox-pack: %s\n%s", cmd.error.c_str(), kUsage);
    return 2;
  }
  dbx::PackOptions& o = cmd.options;
#ifdef _WIN32
  const bool windowsProgram = true;
#else
  const bool windowsProgram = cmd.installer;
  if (cmd.installer && cmd.xscreensaver) {
    std::fprintf(stderr,
                 "dazzlebox-pack: --installer and --xscreensaver pack different programs\n");
    return 2;
  }
#endif
  if (o.program.empty()) o.program = FindProgram(OwnFolder(argv[0]), windowsProgram);
  if (o.program.empty()) {
    std::fprintf(stderr,
                 "dazzlebox-pack: the program to pack was not found; give --program FILE\n");
    return 1;
  }
  if (cmd.installer && !IsWindowsProgram(o.program)) {
    std::fprintf(stderr, "%s: --installer needs the Windows program (Dazzlebox.scr)\n",
                 o.program.string().c_str());
    return 1;
  }
#ifdef _WIN32
  o.encoding = dbx::SeedEncoding::kAnsi;
  Utf8Pictures images;
#else
  dbx::FileImageLoader images;
#endif
  const dbx::PackReport report = dbx::Pack(o, images);
  if (!report.ok) {
    for (const std::string& e : report.errors) std::fprintf(stderr, "%s\n", e.c_str());
    return 1;
  }
  if (cmd.installer) return MakeInstaller(o, report.written);
#ifndef _WIN32
  if (cmd.xscreensaver) return InstallForXscreensaver(o);
#endif
  std::printf("%s\n", o.out.string().c_str());
  return 0;
}
