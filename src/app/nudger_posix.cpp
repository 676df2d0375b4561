// Nudger on Linux: runs its command line as a new process, without a shell, and ends at once.
// One argument is taken as a whole command text ("prog 'arg one' two"); several arguments are
// the program and its arguments as they stand. "--version" alone prints the version.
#include "app/version.h"
#include "launcher/nudger.h"
#include "platform/posix/posix_services.h"

namespace {

std::string Quote(const std::string& arg) {
  std::string out = "'";
  for (char c : arg) {
    if (c == '\'') {
      out += "'\\''";
    } else {
      out += c;
    }
  }
  return out + "'";
}

class NudgerProcess final : public dbx::Process {
 public:
  explicit NudgerProcess(std::string line) : line_(std::move(line)) {}
  std::string CommandLine() override { return line_; }
  std::string ProgramFileName() override { return "nudger"; }
  bool PreviousInstanceRunning() override { return false; }
  bool TopLevelWindowExists(std::string_view) override { return false; }
  std::optional<dbx::Size> ClientSizeOf(dbx::NativeHandle) override { return std::nullopt; }
  bool Start(std::string_view line) override {
    return dbx::SpawnDetached(dbx::SplitCommandLine(line));
  }
  [[noreturn]] void ExitNow(int code) override { std::_Exit(code); }

 private:
  std::string line_;
};

}  // namespace

int main(int argc, char** argv) {
  if (dbx::PrintVersionIfAsked(argc, argv, "nudger")) return 0;
  std::string line;
  if (argc == 2) {
    line = argv[1];
  } else {
    for (int i = 1; i < argc; ++i) {
      if (i > 1) line += ' ';
      line += Quote(argv[i]);
    }
  }
  NudgerProcess process(line);
  return dbx::RunNudger(process);
}
