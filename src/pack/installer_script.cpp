// The Windows setup program of a packed saver, as a script for the NSIS compiler. It installs
// the packed files into the system directory (the 64-bit one, as the program is 64-bit),
// offers to open the system's screensaver settings with the new saver chosen, and registers an
// uninstaller that removes exactly the files it installed and the folders it made.
#include <initializer_list>
#include <set>

#include "pack/pack.h"

namespace dbx {
namespace {

namespace fs = std::filesystem;

// A literal text for the script: $ and " escaped.
std::string Esc(std::string_view s) {
  std::string out;
  for (char c : s) {
    if (c == '$') {
      out += "$$";
    } else if (c == '"') {
      out += "$\\\"";
    } else {
      out += c;
    }
  }
  return out;
}

// A script string: `s` keeps its variables ($SYSDIR); literal parts are escaped by the caller.
std::string Quoted(std::string_view s) {
  std::string out;
  out.reserve(s.size() + 2);
  out += '"';
  out += s;
  out += '"';
  return out;
}

// Joins texts (written out so that the optimiser sees plain appends).
std::string Cat(std::initializer_list<std::string_view> parts) {
  std::string out;
  for (std::string_view p : parts) out += p;
  return out;
}

std::string WindowsPath(const fs::path& rel) {
  std::string s = rel.generic_string();
  for (char& c : s) {
    if (c == '/') c = '\\';
  }
  return s;
}

}  // namespace

std::string InstallerScript(const PackOptions& o, const fs::path& packed,
                            const std::vector<fs::path>& files, const fs::path& setupExe) {
  const std::string name = Esc(o.name);
  const std::string uninstKey =
      "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Dazzlebox " + name;
  const std::string uninstDir = "$PROGRAMFILES64\\Dazzlebox\\" + name;
  std::string s;
  // The program is a 64-bit file, and so is its setup program.
  s += "Target amd64-unicode\n";
  s += "!include x64.nsh\n";
  s += "Name " + Quoted(name) + "\n";
  s += "OutFile " + Quoted(Esc(setupExe.string())) + "\n";
  s += "RequestExecutionLevel admin\n";
  s += "ShowInstDetails show\n";
  s += "Page instfiles\n";
  s += "UninstPage instfiles\n\n";

  s += "Function .onInit\n";
  s += "  ${If} ${RunningX64}\n";
  s += "    ${DisableX64FSRedirection}\n";
  s += "    SetRegView 64\n";
  s += "  ${EndIf}\n";
  s += "FunctionEnd\n\n";
  s += "Function un.onInit\n";
  s += "  ${If} ${RunningX64}\n";
  s += "    ${DisableX64FSRedirection}\n";
  s += "    SetRegView 64\n";
  s += "  ${EndIf}\n";
  s += "FunctionEnd\n\n";

  // Folders to make, parents first; removed in the opposite order by the uninstaller (only when
  // empty, so nothing of another saver goes with them).
  std::set<std::string> dirs;
  for (const fs::path& f : files) {
    fs::path d = f.parent_path();
    while (!d.empty()) {
      dirs.insert(Esc(WindowsPath(d)));
      d = d.parent_path();
    }
  }

  s += "Section \"Install\"\n";
  for (const fs::path& f : files) {
    const fs::path dir = f.parent_path();
    s += "  SetOutPath " +
         Quoted(dir.empty() ? std::string("$SYSDIR") : Cat({"$SYSDIR\\", Esc(WindowsPath(dir))})) +
         "\n";
    // Paths of the packed files are taken literally from where this script was made.
    s += "  File " + Quoted(Cat({"/oname=", Esc(f.filename().string())})) + " " +
         Quoted(Esc((packed / f).string())) + "\n";
  }
  s += "  CreateDirectory " + Quoted(uninstDir) + "\n";
  s += "  WriteUninstaller " + Quoted(uninstDir + "\\Uninstall.exe") + "\n";
  s += "  WriteRegStr HKLM " + Quoted(uninstKey) + " DisplayName " +
       Quoted(name + " (screensaver)") + "\n";
  s += "  WriteRegStr HKLM " + Quoted(uninstKey) + " UninstallString " +
       Quoted("$\\\"" + uninstDir + "\\Uninstall.exe$\\\"") + "\n";
  s += "  WriteRegStr HKLM " + Quoted(uninstKey) + " QuietUninstallString " +
       Quoted("$\\\"" + uninstDir + "\\Uninstall.exe$\\\" /S") + "\n";
  if (!o.version.empty()) {
    s += "  WriteRegStr HKLM " + Quoted(uninstKey) + " DisplayVersion " + Quoted(Esc(o.version)) +
         "\n";
  }
  if (!o.url.empty()) {
    s += "  WriteRegStr HKLM " + Quoted(uninstKey) + " URLInfoAbout " + Quoted(Esc(o.url)) + "\n";
  }
  s += "  WriteRegDWORD HKLM " + Quoted(uninstKey) + " NoModify 1\n";
  s += "  WriteRegDWORD HKLM " + Quoted(uninstKey) + " NoRepair 1\n";
  // The offer to use it now opens the system's own screensaver settings with it chosen.
  s += "  IfSilent done\n";
  s += "  MessageBox MB_YESNO " + Quoted("Use " + name + " as your screensaver now?") +
       " IDNO done\n";
  s += "  Exec " +
       Quoted("rundll32.exe desk.cpl,InstallScreenSaver $\\\"$SYSDIR\\" + name + ".scr$\\\"") +
       "\n";
  s += "  done:\n";
  s += "SectionEnd\n\n";

  s += "Section \"Uninstall\"\n";
  for (const fs::path& f : files) {
    s += "  Delete " + Quoted(Cat({"$SYSDIR\\", Esc(WindowsPath(f))})) + "\n";
  }
  for (auto it = dirs.rbegin(); it != dirs.rend(); ++it) {
    s += "  RMDir " + Quoted("$SYSDIR\\" + *it) + "\n";
  }
  s += "  DeleteRegKey HKLM " + Quoted(uninstKey) + "\n";
  s += "  Delete " + Quoted(uninstDir + "\\Uninstall.exe") + "\n";
  s += "  RMDir " + Quoted(uninstDir) + "\n";
  s += "  RMDir " + Quoted("$PROGRAMFILES64\\Dazzlebox") + "\n";
  s += "SectionEnd\n";
  return s;
}

}  // namespace dbx
