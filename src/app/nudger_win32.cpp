// Nudger on Windows: runs its command line as a new process, shown normally and focused.
#include "launcher/nudger.h"
#include "platform/win32/win32_platform.h"

int main() {
  auto platform = dbx::CreateSystemPlatform();
  return dbx::RunNudger(platform->Proc());
}
