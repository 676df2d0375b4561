// Nudger: runs the command line it is given as a new process and ends at once.
#pragma once

#include "core/platform.h"

namespace dbx {

// Starts the process's own command-line text, shown normally and focused, without waiting. Every
// failure (an empty line, a program that cannot be found) is ignored. Always returns 0.
int RunNudger(Process& process);

}  // namespace dbx
