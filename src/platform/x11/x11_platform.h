// The Linux platform: X11 windows and input, a poll-based message loop with timers and a frame
// tick, the file settings store, libjpeg/BMP pictures and SDL2 sound.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "core/platform.h"

namespace dbx {

struct X11StartOptions {
  // The program's own arguments after argv[0], joined as the command-line text.
  std::string commandLine;
  // argv[0]: its file name is the program name (a link named "<saver>.scr" names the saver).
  std::string argv0;
  // Draw the full-screen window into this foreign window instead (xscreensaver's window).
  NativeHandle hostWindow = 0;
};

// Reads xscreensaver's conventions from the arguments: "-window-id <id>" (decimal or 0x hex),
// "-root", or $XSCREENSAVER_WINDOW. Such a start shows the show in that window; anything else is
// taken as the command-line text of the switches (/s, /p <handle>, /c).
X11StartOptions ParseX11Arguments(int argc, char** argv);

std::unique_ptr<Platform> CreateX11Platform(const X11StartOptions& options);

}  // namespace dbx
