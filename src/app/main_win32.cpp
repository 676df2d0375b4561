// Dazzlebox on Windows: "<saver name>.scr" with the standard screen saver switches.
#include "platform/win32/win32_platform.h"
#include "startup/sub_main.h"

int main() {
  auto platform = dbx::CreateSystemPlatform();
  return dbx::RunDazzlebox(*platform, dbx::ProgramForms());
}
