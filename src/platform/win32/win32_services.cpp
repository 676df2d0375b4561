#include "platform/win32/win32_services.h"

#include <mmsystem.h>

#include <algorithm>
#include <cstdint>
#include <new>
#include <vector>

namespace dbx::win32 {

// ---------------------------------------------------------------------------------------------
// Registry

std::optional<std::string> RegistrySettingsStore::ReadText(std::string_view key,
                                                           std::string_view name) {
  const std::string keyPath(key);
  const std::string valueName(name);
  // A key that does not open leaves no handle, and the query below then fails on it.
  HKEY handle = nullptr;
  if (::RegOpenKeyA(root_, keyPath.c_str(), &handle) != ERROR_SUCCESS) handle = nullptr;
  std::optional<std::string> result;
  DWORD type = REG_NONE;
  DWORD size = 0;
  if (handle != nullptr &&
      ::RegQueryValueExA(handle, valueName.c_str(), nullptr, &type, nullptr, &size) ==
          ERROR_SUCCESS &&
      type == REG_SZ) {
    try {
      // One spare byte, so that a value stored without its terminating zero still reads whole.
      std::vector<char> buffer(static_cast<std::size_t>(size) + 1, '\0');
      DWORD read = size;
      DWORD readType = REG_NONE;
      if (::RegQueryValueExA(handle, valueName.c_str(), nullptr, &readType,
                             reinterpret_cast<BYTE*>(buffer.data()), &read) == ERROR_SUCCESS &&
          readType == REG_SZ) {
        const std::size_t limit = std::min<std::size_t>(read, size);
        std::size_t length = 0;
        while (length < limit && buffer[length] != '\0') ++length;
        result.emplace(buffer.data(), length);
      }
    } catch (const std::bad_alloc&) {
      result.reset();
    }
  }
  if (handle != nullptr) ::RegCloseKey(handle);
  return result;
}

void RegistrySettingsStore::WriteText(std::string_view key, std::string_view name,
                                      std::string_view text) {
  const std::string keyPath(key);
  const std::string valueName(name);
  HKEY handle = nullptr;
  if (::RegCreateKeyA(root_, keyPath.c_str(), &handle) != ERROR_SUCCESS || handle == nullptr) {
    return;  // A write that cannot reach its key is lost, silently.
  }
  // The program's text is already in the ANSI code page; the stored length counts no zero.
  static const char kEmpty[1] = {'\0'};
  const BYTE* data = reinterpret_cast<const BYTE*>(text.empty() ? kEmpty : text.data());
  if (text.size() <= 0xFFFFFFFFu) {
    ::RegSetValueExA(handle, valueName.c_str(), 0, REG_SZ, data, static_cast<DWORD>(text.size()));
  }
  ::RegCloseKey(handle);
}

// ---------------------------------------------------------------------------------------------
// INI reader

std::string ProfileIniReader::ReadString(const std::string& file, std::string_view section,
                                         std::string_view key, std::string_view fallback,
                                         std::size_t bufferSize) {
  if (bufferSize == 0) return {};
  if (bufferSize > 0x7FFFFFFF) bufferSize = 0x7FFFFFFF;
  const std::string sectionName(section);
  const std::string keyName(key);
  const std::string fallbackText(fallback);
  std::vector<char> buffer(bufferSize, '\0');
  const DWORD length =
      ::GetPrivateProfileStringA(sectionName.c_str(), keyName.c_str(), fallbackText.c_str(),
                                 buffer.data(), static_cast<DWORD>(bufferSize), file.c_str());
  std::size_t end = 0;
  while (end < length && end < bufferSize && buffer[end] != '\0') ++end;
  return std::string(buffer.data(), end);
}

// ---------------------------------------------------------------------------------------------
// Paths

std::string Win32SystemPaths::SystemDirectory() {
  // The call reports the size it needs when the buffer is too small; a second call with that size
  // gets a folder of any length whole.
  std::vector<char> buffer(MAX_PATH + 1, '\0');
  UINT length = ::GetSystemDirectoryA(buffer.data(), static_cast<UINT>(buffer.size()));
  if (length >= buffer.size()) {
    buffer.assign(static_cast<std::size_t>(length) + 1, '\0');
    length = ::GetSystemDirectoryA(buffer.data(), static_cast<UINT>(buffer.size()));
    if (length >= buffer.size()) return {};
  }
  std::string folder(buffer.data(), length);
  while (!folder.empty() && folder.back() == '\\') folder.pop_back();
  return folder;
}

std::string Win32SystemPaths::LongPathName(const std::string& path) {
  std::vector<char> buffer(MAX_PATH + 1, '\0');
  DWORD length = ::GetLongPathNameA(path.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
  if (length >= buffer.size()) {
    buffer.assign(static_cast<std::size_t>(length) + 1, '\0');
    length = ::GetLongPathNameA(path.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length >= buffer.size()) return {};
  }
  if (length == 0) return {};
  return std::string(buffer.data(), length);
}

bool Win32SystemPaths::FileExists(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// ---------------------------------------------------------------------------------------------
// Process

std::string_view ArgumentsAfterProgramName(std::string_view line) {
  // The C runtime's own rule for WinMain's command line: the name is a quoted run (to the closing
  // quote) or everything up to the first blank or control character; what follows it, less the
  // blanks in between, is the program's text.
  const auto blank = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
  std::size_t i = 0;
  if (i < line.size() && line[i] == '"') {
    ++i;
    while (i < line.size() && line[i] != '"') ++i;
    if (i < line.size()) ++i;  // the closing quote
  } else {
    while (i < line.size() && !blank(line[i])) ++i;
  }
  while (i < line.size() && blank(line[i])) ++i;
  return line.substr(i);
}

std::string_view FileNamePart(std::string_view path) {
  const std::size_t slash = path.find_last_of("\\/");
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string InstanceMarkName(std::string_view programPath) {
  // Kernel object names may not hold backslashes and are limited in length: a hash of the
  // upper-cased path keys the mark.
  std::uint64_t hash = 14695981039346656037ull;
  for (const char c : programPath) {
    const auto byte = static_cast<unsigned char>(c);
    const unsigned char upper = (byte >= 'a' && byte <= 'z') ? byte - ('a' - 'A') : byte;
    hash = (hash ^ upper) * 1099511628211ull;
  }
  static const char kHex[] = "0123456789abcdef";
  std::string name = "Local\\Dazzlebox.Instance.";
  for (int shift = 60; shift >= 0; shift -= 4) name += kHex[(hash >> shift) & 0xF];
  return name;
}

std::string ModulePath() {
  std::vector<char> buffer(MAX_PATH + 1, '\0');
  for (;;) {
    const DWORD length =
        ::GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return {};
    if (length < buffer.size()) return std::string(buffer.data(), length);
    if (buffer.size() > 65536) return {};
    buffer.assign(buffer.size() * 2, '\0');
  }
}

Win32Process::Win32Process() {
  // The mark is keyed on the long form of the program path, so that a start under the 8.3 name
  // and one under the long name count as the same program.
  const std::string path = ModulePath();
  const std::string longPath = Win32SystemPaths().LongPathName(path);
  const std::string name = InstanceMarkName(longPath.empty() ? path : longPath);
  instanceMark_ = ::CreateMutexA(nullptr, FALSE, name.c_str());
  previousInstance_ = instanceMark_ != nullptr && ::GetLastError() == ERROR_ALREADY_EXISTS;
}

Win32Process::~Win32Process() {
  if (instanceMark_ != nullptr) ::CloseHandle(instanceMark_);
}

std::string Win32Process::CommandLine() {
  const char* line = ::GetCommandLineA();
  return line == nullptr ? std::string() : std::string(ArgumentsAfterProgramName(line));
}

std::string Win32Process::ProgramFileName() {
  return std::string(FileNamePart(ModulePath()));
}

bool Win32Process::TopLevelWindowExists(std::string_view title) {
  const std::string text(title);
  return ::FindWindowA(nullptr, text.c_str()) != nullptr;
}

std::optional<Size> Win32Process::ClientSizeOf(NativeHandle window) {
  const HWND hwnd = ToHwnd(window);
  RECT rect{};
  if (hwnd == nullptr || !::IsWindow(hwnd) || !::GetClientRect(hwnd, &rect)) return std::nullopt;
  return Size{rect.right, rect.bottom};
}

bool Win32Process::Start(std::string_view commandLine) {
  if (commandLine.find_first_not_of(" \t") == std::string_view::npos) return false;
  // CreateProcessA may write into the command line, so it gets a copy of its own.
  std::vector<char> line(commandLine.begin(), commandLine.end());
  line.push_back('\0');
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOWNORMAL;
  PROCESS_INFORMATION info{};
  if (!::CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &info)) {
    return false;
  }
  // We were started by the user a moment ago and may pass the focus on to the new program.
  ::AllowSetForegroundWindow(info.dwProcessId);
  ::CloseHandle(info.hThread);
  ::CloseHandle(info.hProcess);
  return true;
}

void Win32Process::ExitNow(int code) {
  ::ExitProcess(static_cast<UINT>(code));
}

// ---------------------------------------------------------------------------------------------
// Pointer, sound, message box, colours

Point Win32Cursor::Position() {
  POINT point{};
  if (!::GetCursorPos(&point)) return {};
  return {point.x, point.y};
}

bool Win32SoundPlayer::Play(const std::string& path, SoundRepeat repeat) {
  UINT flags = SND_ASYNC | SND_NODEFAULT;
  if (repeat == SoundRepeat::kLoop) flags |= SND_LOOP;
  return ::sndPlaySoundA(path.c_str(), flags) != FALSE;
}

void Win32SoundPlayer::Stop() {
  ::sndPlaySoundA(nullptr, 0);
}

void Win32Dialogs::MessageBox(std::string_view text, std::string_view caption, MessageKind kind) {
  const std::string body(text);
  const std::string title(caption);
  UINT icon = MB_ICONINFORMATION;
  if (kind == MessageKind::kWarning) icon = MB_ICONWARNING;
  if (kind == MessageKind::kError) icon = MB_ICONERROR;
  ::MessageBoxA(::GetActiveWindow(), body.c_str(), title.c_str(), MB_OK | icon);
}

std::int32_t Win32SystemColors::SysColor(int index) {
  return static_cast<std::int32_t>(::GetSysColor(index));
}

}  // namespace dbx::win32
