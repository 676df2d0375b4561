// The Windows implementation of the toolkit layer, for the program mains.
#pragma once

#include <memory>

#include "core/platform.h"

namespace dbx {

// The platform of the running Windows session: the registry of the current user, the system
// directory, Win32 windows and timers, WIC pictures and winmm sound. Call it once, before any
// window is created, on the thread that will run the message loop.
std::unique_ptr<Platform> CreateSystemPlatform();

}  // namespace dbx
