// Dazzlebox on Linux: the same switches as on Windows (/s, /p <window>, /c), and xscreensaver's
// -window-id / -root / $XSCREENSAVER_WINDOW.
#include "platform/x11/x11_platform.h"
#include "startup/sub_main.h"

int main(int argc, char** argv) {
  auto platform = dbx::CreateX11Platform(dbx::ParseX11Arguments(argc, argv));
  return dbx::RunDazzlebox(*platform, dbx::ProgramForms());
}
