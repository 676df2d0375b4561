// The one place that includes the Windows headers for this layer. <windows.h> maps MessageBox and
// CreateWindow to their A/W variants as macros, which would rename the methods of platform.h that
// carry the same names; they are undone here so that every file of the layer sees one spelling.
#pragma once

#include <windows.h>

#undef MessageBox
#undef CreateWindow

#include <cstdint>

#include "core/platform.h"

namespace dbx::win32 {

// Window handles travel through portable code as numbers. An HWND is a sign-extended 32-bit value
// on 64-bit Windows, so a handle given on the command line as a 32-bit integer converts exactly.
inline HWND ToHwnd(NativeHandle handle) {
  return reinterpret_cast<HWND>(static_cast<std::uintptr_t>(handle));
}
inline NativeHandle FromHwnd(HWND hwnd) {
  return static_cast<NativeHandle>(reinterpret_cast<std::uintptr_t>(hwnd));
}

}  // namespace dbx::win32
