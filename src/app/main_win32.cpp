// Dazzlebox on Windows: "<saver name>.scr" with the standard screen saver switches.
#include "core/trace.h"
#include "platform/win32/win32_platform.h"
#include "startup/sub_main.h"

int main() {
  dbx::Trace("start");
  int code = 0;
  {
    auto platform = dbx::CreateSystemPlatform();
    code = dbx::RunDazzlebox(*platform, dbx::ProgramForms());
  }
  dbx::Trace("exit");
  return code;
}
