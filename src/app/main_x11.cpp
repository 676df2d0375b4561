// Dazzlebox on Linux: the same switches as on Windows (/s, /p <window>, /c), and xscreensaver's
// -window-id / -root / $XSCREENSAVER_WINDOW; "--version" prints the version.
#include "app/version.h"
#include "core/trace.h"
#include "platform/x11/x11_platform.h"
#include "startup/sub_main.h"

int main(int argc, char** argv) {
  if (dbx::PrintVersionIfAsked(argc, argv, "dazzlebox")) return 0;
  dbx::Trace("start");
  int code = 0;
  {
    auto platform = dbx::CreateX11Platform(dbx::ParseX11Arguments(argc, argv));
    code = dbx::RunDazzlebox(*platform, dbx::ProgramForms());
  }
  dbx::Trace("exit");
  return code;
}
