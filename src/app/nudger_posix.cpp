// Nudger on Linux: runs its arguments as a new process, without a shell, and ends at once. The
// arguments are the program and its arguments as they stand: `nudger "/opt/My Saver.scr" /s`
// starts "/opt/My Saver.scr" with the one argument "/s". "--version" alone prints the version.
#include "app/version.h"
#include "launcher/nudger.h"
#include "platform/posix/posix_services.h"

namespace {

class NudgerProcess final : public dbx::Process {
 public:
  explicit NudgerProcess(std::string line) : line_(std::move(line)) {}
  std::string CommandLine() override { return line_; }
  std::string ProgramFileName() override { return "nudger"; }
  bool PreviousInstanceRunning(std::string_view) override { return false; }
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
  // Joined so that splitting the text again gives back exactly these arguments.
  const std::string line =
      dbx::JoinCommandLine(std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc));
  NudgerProcess process(line);
  return dbx::RunNudger(process);
}
