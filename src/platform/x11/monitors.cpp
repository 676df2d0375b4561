// The monitors of the desktop: XRandR's monitors (RandR 1.5), else Xinerama's heads.
#include <X11/extensions/Xinerama.h>
#include <X11/extensions/Xrandr.h>

#include <algorithm>

#include "platform/x11/display.h"

namespace dbx::x11 {
namespace {

std::vector<Rect> RandrMonitors(Display* d) {
  int event = 0, error = 0, major = 0, minor = 0;
  if (!XRRQueryExtension(d, &event, &error) || !XRRQueryVersion(d, &major, &minor)) return {};
  if (major < 1 || (major == 1 && minor < 5)) return {};
  int n = 0;
  XRRMonitorInfo* info = XRRGetMonitors(d, DefaultRootWindow(d), True, &n);
  if (!info) return {};
  std::vector<Rect> out;
  for (int i = 0; i < n; ++i) {
    const Rect r{info[i].x, info[i].y, info[i].width, info[i].height};
    // The primary monitor first.
    if (info[i].primary) {
      out.insert(out.begin(), r);
    } else {
      out.push_back(r);
    }
  }
  XRRFreeMonitors(info);
  return out;
}

std::vector<Rect> XineramaHeads(Display* d) {
  int event = 0, error = 0;
  if (!XineramaQueryExtension(d, &event, &error) || !XineramaIsActive(d)) return {};
  int n = 0;
  XineramaScreenInfo* heads = XineramaQueryScreens(d, &n);
  if (!heads) return {};
  std::vector<Rect> out;
  out.reserve(static_cast<std::size_t>(std::max(n, 0)));
  for (int i = 0; i < n; ++i) {
    out.push_back(Rect{heads[i].x_org, heads[i].y_org, heads[i].width, heads[i].height});
  }
  XFree(heads);
  return out;
}

}  // namespace

std::vector<Rect> QueryMonitors(Display* d) {
  if (!d) return {};
  std::vector<Rect> monitors = RandrMonitors(d);
  if (monitors.size() < 2) {
    std::vector<Rect> heads = XineramaHeads(d);
    if (heads.size() > monitors.size()) monitors = std::move(heads);
  }
  // A head listed twice (mirrored outputs, a server that stacks its heads) is one monitor.
  std::vector<Rect> unique;
  for (const Rect& r : monitors) {
    if (!r.Empty() && std::find(unique.begin(), unique.end(), r) == unique.end()) {
      unique.push_back(r);
    }
  }
  return unique;
}

}  // namespace dbx::x11
