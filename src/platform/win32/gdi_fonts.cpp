#include "platform/win32/gdi_fonts.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/win32/win32_api.h"

namespace dbx::win32 {

namespace {

constexpr int kEm = 2048;  // pixels to the em of the fonts made here

std::wstring Widen(std::string_view s) {
  if (s.empty()) return {};
  const int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
  std::wstring w(static_cast<std::size_t>(std::max(n, 0)), L'\0');
  if (n > 0) MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
  return w;
}

std::string Narrow(const wchar_t* w) {
  const int n = WideCharToMultiByte(CP_UTF8, 0, w, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 1) return {};
  std::string s(static_cast<std::size_t>(n - 1), '\0');
  WideCharToMultiByte(CP_UTF8, 0, w, -1, s.data(), n, nullptr, nullptr);
  return s;
}

std::string Lower(std::string_view s) {
  std::string o(s);
  for (char& c : o)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return o;
}

int CALLBACK CollectFamily(const LOGFONTW* lf, const TEXTMETRICW*, DWORD, LPARAM param) {
  if (lf->lfFaceName[0] != L'@')
    reinterpret_cast<std::set<std::string>*>(param)->insert(Narrow(lf->lfFaceName));
  return 1;
}

int CALLBACK Found(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM param) {
  *reinterpret_cast<bool*>(param) = true;
  return 0;
}

float Fixed(FIXED f) {
  return static_cast<float>(f.value) + static_cast<float>(f.fract) / 65536.0f;
}

class GdiFonts final : public FontSource {
 public:
  GdiFonts() : dc_(CreateCompatibleDC(nullptr)) {}
  ~GdiFonts() override {
    for (const Face& f : faces_) DeleteObject(f.font);
    if (dc_) DeleteDC(dc_);
  }

  int OpenFace(std::string_view family, bool bold, bool italic) override {
    if (!dc_) return -1;
    const std::string key = Lower(family) + (bold ? "|b" : "|") + (italic ? "|i" : "|");
    if (const auto it = byRequest_.find(key); it != byRequest_.end()) return it->second;
    std::string name(family);
    const std::string l = Lower(family);
    if (l == "_sans" || l.empty()) name = "Arial";
    if (l == "_serif") name = "Times New Roman";
    if (l == "_typewriter") name = "Courier New";
    if (!Installed(name)) name = "Arial";
    int handle = -1;
    const std::string resolved = Lower(name) + (bold ? "|b" : "|") + (italic ? "|i" : "|");
    for (std::size_t i = 0; i < faces_.size(); ++i)
      if (faces_[i].key == resolved) handle = static_cast<int>(i);
    if (handle < 0) {
      const std::wstring w = Widen(name);
      HFONT font = CreateFontW(-kEm, 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, italic ? TRUE : FALSE,
                               FALSE, FALSE, DEFAULT_CHARSET, OUT_TT_ONLY_PRECIS,
                               CLIP_DEFAULT_PRECIS, ANTIALIASED_QUALITY, DEFAULT_PITCH, w.c_str());
      if (font) {
        faces_.push_back({resolved, font});
        handle = static_cast<int>(faces_.size() - 1);
      }
    }
    byRequest_[key] = handle;
    return handle;
  }

  FaceMetrics Metrics(int face) override {
    FaceMetrics m;
    if (!Select(face)) return m;
    TEXTMETRICW tm{};
    if (GetTextMetricsW(dc_, &tm)) {
      m.ascent = static_cast<float>(tm.tmAscent) / kEm;
      m.descent = static_cast<float>(tm.tmDescent) / kEm;
      m.leading = static_cast<float>(tm.tmExternalLeading) / kEm;
    }
    return m;
  }

  std::optional<GlyphOutline> Glyph(int face, char32_t ch) override {
    if (ch > 0xFFFF || !Select(face)) return std::nullopt;
    const wchar_t wc = static_cast<wchar_t>(ch);
    WORD index = 0;
    if (GetGlyphIndicesW(dc_, &wc, 1, &index, GGI_MARK_NONEXISTING_GLYPHS) == GDI_ERROR ||
        index == 0xFFFF)
      return std::nullopt;
    const MAT2 identity{{0, 1}, {0, 0}, {0, 0}, {0, 1}};
    GLYPHMETRICS gm{};
    const UINT format = GGO_NATIVE | GGO_UNHINTED;
    const DWORD size = GetGlyphOutlineW(dc_, wc, format, &gm, 0, nullptr, &identity);
    if (size == GDI_ERROR) return std::nullopt;
    GlyphOutline out;
    out.advance = static_cast<float>(gm.gmCellIncX) / kEm;
    if (size == 0) return out;  // a blank
    std::vector<std::uint8_t> buf(size);
    if (GetGlyphOutlineW(dc_, wc, format, &gm, size, buf.data(), &identity) == GDI_ERROR)
      return std::nullopt;
    auto point = [&](const POINTFX& p) {
      out.points.push_back(Fixed(p.x) / kEm);
      out.points.push_back(-Fixed(p.y) / kEm);
    };
    auto pointXY = [&](float x, float y) {
      out.points.push_back(x / kEm);
      out.points.push_back(-y / kEm);
    };
    std::size_t at = 0;
    while (at + sizeof(TTPOLYGONHEADER) <= size) {
      TTPOLYGONHEADER head;
      std::memcpy(&head, buf.data() + at, sizeof head);
      if (head.cb < sizeof head || at + head.cb > size) break;
      const std::size_t end = at + head.cb;
      out.verbs.push_back(GlyphOutline::Verb::kMove);
      point(head.pfxStart);
      float px = Fixed(head.pfxStart.x), py = Fixed(head.pfxStart.y);
      std::size_t c = at + sizeof head;
      while (c + 4 <= end) {
        WORD type = 0, count = 0;
        std::memcpy(&type, buf.data() + c, 2);
        std::memcpy(&count, buf.data() + c + 2, 2);
        const std::size_t pts = c + 4;
        if (pts + static_cast<std::size_t>(count) * sizeof(POINTFX) > end) break;
        std::vector<POINTFX> p(count);
        std::memcpy(p.data(), buf.data() + pts, count * sizeof(POINTFX));
        if (type == TT_PRIM_LINE) {
          for (const POINTFX& q : p) {
            out.verbs.push_back(GlyphOutline::Verb::kLine);
            point(q);
          }
        } else if (type == TT_PRIM_QSPLINE) {
          // B-spline: on-curve points lie halfway between consecutive control points.
          for (std::size_t i = 0; i + 1 < p.size(); ++i) {
            out.verbs.push_back(GlyphOutline::Verb::kQuad);
            point(p[i]);
            if (i + 2 == p.size()) {
              point(p[i + 1]);
            } else {
              pointXY((Fixed(p[i].x) + Fixed(p[i + 1].x)) / 2,
                      (Fixed(p[i].y) + Fixed(p[i + 1].y)) / 2);
            }
          }
        } else if (type == TT_PRIM_CSPLINE) {
          // Cubic pieces: each split in two quadratic ones.
          float x0 = px, y0 = py;
          for (std::size_t i = 0; i + 3 <= p.size(); i += 3) {
            const float x1 = Fixed(p[i].x), y1 = Fixed(p[i].y), x2 = Fixed(p[i + 1].x),
                        y2 = Fixed(p[i + 1].y), x3 = Fixed(p[i + 2].x), y3 = Fixed(p[i + 2].y);
            const float mx = (x0 + 3 * x1 + 3 * x2 + x3) / 8, my = (y0 + 3 * y1 + 3 * y2 + y3) / 8;
            const float abx = (x0 + x1) / 2, aby = (y0 + y1) / 2, cdx = (x2 + x3) / 2,
                        cdy = (y2 + y3) / 2, bcx = (x1 + x2) / 2, bcy = (y1 + y2) / 2;
            const float abcx = (abx + bcx) / 2, abcy = (aby + bcy) / 2, bcdx = (bcx + cdx) / 2,
                        bcdy = (bcy + cdy) / 2;
            out.verbs.push_back(GlyphOutline::Verb::kQuad);
            pointXY((3 * (abx + abcx) - x0 - mx) / 4, (3 * (aby + abcy) - y0 - my) / 4);
            pointXY(mx, my);
            out.verbs.push_back(GlyphOutline::Verb::kQuad);
            pointXY((3 * (bcdx + cdx) - mx - x3) / 4, (3 * (bcdy + cdy) - my - y3) / 4);
            pointXY(x3, y3);
            x0 = x3;
            y0 = y3;
          }
        }
        if (!p.empty()) {
          px = Fixed(p.back().x);
          py = Fixed(p.back().y);
        }
        c = pts + static_cast<std::size_t>(count) * sizeof(POINTFX);
      }
      out.verbs.push_back(GlyphOutline::Verb::kLine);  // close the contour
      point(head.pfxStart);
      at = end;
    }
    return out;
  }

  std::vector<std::string> Families() override {
    std::set<std::string> names;
    if (dc_) {
      LOGFONTW lf{};
      lf.lfCharSet = DEFAULT_CHARSET;
      EnumFontFamiliesExW(dc_, &lf, CollectFamily, reinterpret_cast<LPARAM>(&names), 0);
    }
    return {names.begin(), names.end()};
  }

 private:
  struct Face {
    std::string key;
    HFONT font;
  };

  bool Installed(const std::string& name) {
    const std::wstring w = Widen(name);
    if (w.empty() || w.size() >= LF_FACESIZE) return false;
    LOGFONTW lf{};
    lf.lfCharSet = DEFAULT_CHARSET;
    std::copy(w.begin(), w.end(), lf.lfFaceName);
    bool found = false;
    EnumFontFamiliesExW(dc_, &lf, Found, reinterpret_cast<LPARAM>(&found), 0);
    return found;
  }

  bool Select(int face) {
    if (!dc_ || face < 0 || static_cast<std::size_t>(face) >= faces_.size()) return false;
    SelectObject(dc_, faces_[static_cast<std::size_t>(face)].font);
    return true;
  }

  HDC dc_;
  std::vector<Face> faces_;
  std::map<std::string, int> byRequest_;
};

}  // namespace

std::unique_ptr<FontSource> CreateGdiFonts() {
  return std::make_unique<GdiFonts>();
}

}  // namespace dbx::win32
