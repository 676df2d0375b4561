#include "platform/win32_dialog/win32_config_dialog.h"

#include <windows.h>
// The common dialogs' header needs the types of <windows.h> first.
#include <commdlg.h>

#undef MessageBox
#undef CreateWindow

#include <algorithm>
#include <array>
#include <vector>

namespace dbx {
namespace {

constexpr char kDialogClass[] = "Dazzlebox.ConfigDialog";
constexpr char kAreaClass[] = "Dazzlebox.ConfigArea";
constexpr int kFirstControlId = 100;

int ControlId(ConfigControl c) {
  return kFirstControlId + static_cast<int>(c);
}

class Win32ConfigDialog;

// The dialog of this thread whose keys and pointer moves the message hook looks at.
Win32ConfigDialog* g_dialog = nullptr;
HHOOK g_hook = nullptr;

class Win32ConfigDialog final : public ConfigDialogUi {
 public:
  explicit Win32ConfigDialog(ConfigDialogEvents& events) : events_(events) {}
  ~Win32ConfigDialog() override { Close(); }

  bool Create();

  void SetText(ConfigControl c, std::string_view text) override;
  std::string Text(ConfigControl c) const override;
  void SetVisible(ConfigControl c, bool visible) override;
  bool Visible(ConfigControl c) const override { return visible_[Index(c)]; }
  void SetChecked(ConfigControl c, bool checked) override;
  bool Checked(ConfigControl c) const override;
  void SetUnderline(ConfigControl c, bool underline) override;
  void RemoveIcon() override;
  void Show() override;
  void Close() override;
  std::int32_t OwnerHandle() const override {
    return dialog_ ? static_cast<std::int32_t>(reinterpret_cast<std::intptr_t>(dialog_)) : kNoOwner;
  }
  Size PreviewSize() const override;
  void PresentPreview(const SurfaceView& frame) override;
  CommonDialogBackend& CommonDialogs() override { return commonDialogs_; }

  // The message hook's part: true when the message was handled and must go no further.
  bool PreTranslate(MSG& msg);

 private:
  static std::size_t Index(ConfigControl c) { return static_cast<std::size_t>(c); }
  HWND Control(ConfigControl c) const { return controls_[Index(c)]; }
  ConfigControl ControlOfWindow(HWND hwnd) const;
  static LRESULT CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  static LRESULT CALLBACK AreaProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
  void PaintArea(HWND hwnd);
  void FitToText(ConfigControl c);

  ConfigDialogEvents& events_;
  HWND dialog_ = nullptr;
  std::array<HWND, kConfigControlCount> controls_{};
  std::array<bool, kConfigControlCount> visible_{};
  HFONT labelFont_ = nullptr;
  HFONT underlinedFont_ = nullptr;
  HFONT dialogFont_ = nullptr;
  HBRUSH faceBrush_ = nullptr;
  int twipsX_ = 15, twipsY_ = 15;
  // The last frame of the movie preview, and the logo.
  std::vector<Pixel> preview_;
  Size previewSize_{};
  Surface logo_ = MakeLogo();
  Win32CommonDialogs commonDialogs_;
  bool shown_ = false;
};

LRESULT CALLBACK MessageHook(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HC_ACTION && wParam == PM_REMOVE && g_dialog != nullptr) {
    auto* msg = reinterpret_cast<MSG*>(lParam);
    if (g_dialog->PreTranslate(*msg)) {
      msg->message = WM_NULL;
      msg->wParam = 0;
      msg->lParam = 0;
    }
  }
  return ::CallNextHookEx(g_hook, code, wParam, lParam);
}

bool RegisterClasses(WNDPROC dialogProc, WNDPROC areaProc) {
  static bool done = false;
  if (done) return true;
  const HINSTANCE instance = ::GetModuleHandleA(nullptr);
  WNDCLASSA dialog{};
  dialog.lpfnWndProc = dialogProc;
  dialog.hInstance = instance;
  dialog.hCursor = ::LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
  dialog.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  dialog.lpszClassName = kDialogClass;
  dialog.cbWndExtra = DLGWINDOWEXTRA;
  WNDCLASSA area = dialog;
  area.lpfnWndProc = areaProc;
  area.hbrBackground = nullptr;
  area.cbWndExtra = 0;
  area.lpszClassName = kAreaClass;
  done = ::RegisterClassA(&dialog) != 0 && ::RegisterClassA(&area) != 0;
  return done;
}

bool Win32ConfigDialog::Create() {
  if (!RegisterClasses(&DialogProc, &AreaProc)) return false;
  const HINSTANCE instance = ::GetModuleHandleA(nullptr);

  // Twips per pixel from the screen's logical resolution (15 at 96 dots per inch).
  const HDC screen = ::GetDC(nullptr);
  const int dpiX = std::max(1, ::GetDeviceCaps(screen, LOGPIXELSX));
  const int dpiY = std::max(1, ::GetDeviceCaps(screen, LOGPIXELSY));
  ::ReleaseDC(nullptr, screen);
  twipsX_ = std::max(1, 1440 / dpiX);
  twipsY_ = std::max(1, 1440 / dpiY);

  const Rect client =
      TwipsToPixels(0, 0, kConfigClientWidthTwips, kConfigClientHeightTwips, twipsX_, twipsY_);
  const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
  const DWORD exStyle = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT;
  RECT frame{0, 0, client.w, client.h};
  ::AdjustWindowRectEx(&frame, style, FALSE, exStyle);
  const int w = frame.right - frame.left, h = frame.bottom - frame.top;
  RECT work{};
  ::SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
  const int x = static_cast<int>(work.left + std::max<LONG>(0, (work.right - work.left - w) / 2));
  const int y = static_cast<int>(work.top + std::max<LONG>(0, (work.bottom - work.top - h) / 2));
  dialog_ = ::CreateWindowExA(exStyle, kDialogClass, "Configure Screensaver", style, x, y, w, h,
                              nullptr, nullptr, instance, nullptr);
  if (dialog_ == nullptr) return false;
  ::SetWindowLongPtrA(dialog_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));

  // Tahoma 8.25 pt for the info labels, the system's dialog font for the rest.
  const int labelHeight = -::MulDiv(825, dpiY, 7200);
  labelFont_ = ::CreateFontA(labelHeight, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                             OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                             DEFAULT_PITCH | FF_SWISS, "Tahoma");
  underlinedFont_ = ::CreateFontA(labelHeight, 0, 0, 0, FW_NORMAL, FALSE, TRUE, FALSE,
                                  DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                                  DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, "Tahoma");
  NONCLIENTMETRICSA metrics{};
  metrics.cbSize = sizeof metrics;
  if (::SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) {
    dialogFont_ = ::CreateFontIndirectA(&metrics.lfMessageFont);
  }
  faceBrush_ = ::GetSysColorBrush(COLOR_BTNFACE);

  // Controls are made in tab order: the window order is the order in which Tab visits them.
  std::vector<const ControlSpec*> order;
  for (const auto& spec : ConfigControls()) order.push_back(&spec);
  std::sort(order.begin(), order.end(),
            [](const ControlSpec* a, const ControlSpec* b) { return a->tabIndex < b->tabIndex; });
  const ControlSpec& quality = ControlOf(ConfigControl::kFraQuality);
  for (const ControlSpec* spec : order) {
    int left = spec->left, top = spec->top;
    if (spec->kind == ControlKind::kOption) {
      left += quality.left;
      top += quality.top;
    }
    const Rect r = TwipsToPixels(left, top, spec->width, spec->height, twipsX_, twipsY_);
    const char* cls = "BUTTON";
    // Controls overlap (the previews lie on the frame): each paints only its own uncovered part.
    DWORD cs = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS;
    switch (spec->kind) {
      case ControlKind::kMoviePreview:
        cls = kAreaClass;
        cs |= WS_TABSTOP;
        break;
      case ControlKind::kPictureBox:
      case ControlKind::kLogo:
        cls = kAreaClass;
        break;
      case ControlKind::kFrame:
        cs |= BS_GROUPBOX;
        break;
      case ControlKind::kInfoLabel:
        cls = "STATIC";
        cs |= SS_LEFT | SS_NOTIFY;
        break;
      case ControlKind::kButton:
        cs |= BS_PUSHBUTTON | WS_TABSTOP;
        break;
      case ControlKind::kCheckBox:
        cs |= BS_AUTOCHECKBOX | WS_TABSTOP;
        break;
      case ControlKind::kOption:
        cs |= BS_AUTORADIOBUTTON;
        // One group: the first option starts it and is its tab stop.
        if (spec->id == ConfigControl::kOption0) cs |= WS_GROUP | WS_TABSTOP;
        break;
    }
    const std::string text(spec->text);
    HWND hwnd = ::CreateWindowExA(
        0, cls, text.c_str(), cs, r.x, r.y, r.w, r.h, dialog_,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(ControlId(spec->id))), instance, nullptr);
    controls_[Index(spec->id)] = hwnd;
    visible_[Index(spec->id)] = hwnd != nullptr;
    if (hwnd == nullptr) continue;
    if (cls == kAreaClass)
      ::SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    HFONT font = spec->kind == ControlKind::kInfoLabel ? labelFont_ : dialogFont_;
    if (font) ::SendMessageA(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    if (spec->autoSize) FitToText(spec->id);
  }
  // The preview controls lie in front of the frame behind them.
  for (ConfigControl c : {ConfigControl::kRirodIMG, ConfigControl::kFlash}) {
    if (Control(c)) ::SetWindowPos(Control(c), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  }
  // ...without changing the order that Tab follows, which goes by the windows' z-order: put the
  // tab stops back in tab order behind the preview.
  HWND after = Control(ConfigControl::kFlash) ? Control(ConfigControl::kFlash) : HWND_TOP;
  for (const ControlSpec* spec : order) {
    if (spec->id == ConfigControl::kFlash || spec->id == ConfigControl::kRirodIMG) continue;
    HWND hwnd = Control(spec->id);
    if (!hwnd) continue;
    ::SetWindowPos(hwnd, after, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    after = hwnd;
  }
  if (Control(ConfigControl::kRirodIMG)) {
    ::SetWindowPos(Control(ConfigControl::kRirodIMG), HWND_TOP, 0, 0, 0, 0,
                   SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  }

  g_dialog = this;
  if (g_hook == nullptr) {
    g_hook = ::SetWindowsHookExA(WH_GETMESSAGE, &MessageHook, nullptr, ::GetCurrentThreadId());
  }
  return true;
}

void Win32ConfigDialog::FitToText(ConfigControl c) {
  HWND hwnd = Control(c);
  if (!hwnd) return;
  const std::string text = Text(c);
  HDC dc = ::GetDC(hwnd);
  HGDIOBJ old = ::SelectObject(dc, labelFont_ ? labelFont_ : ::GetStockObject(DEFAULT_GUI_FONT));
  SIZE extent{};
  ::GetTextExtentPoint32A(dc, text.c_str(), static_cast<int>(text.size()), &extent);
  ::SelectObject(dc, old);
  ::ReleaseDC(hwnd, dc);
  ::SetWindowPos(hwnd, nullptr, 0, 0, std::max<LONG>(1, extent.cx), std::max<LONG>(1, extent.cy),
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void Win32ConfigDialog::SetText(ConfigControl c, std::string_view text) {
  if (!Control(c)) return;
  const std::string s(text);
  ::SetWindowTextA(Control(c), s.c_str());
  if (ControlOf(c).autoSize) FitToText(c);
  ::InvalidateRect(dialog_, nullptr, TRUE);
}

std::string Win32ConfigDialog::Text(ConfigControl c) const {
  if (!Control(c)) return {};
  std::string text(static_cast<std::size_t>(::GetWindowTextLengthA(Control(c))) + 1, '\0');
  text.resize(static_cast<std::size_t>(
      ::GetWindowTextA(Control(c), text.data(), static_cast<int>(text.size()))));
  return text;
}

void Win32ConfigDialog::SetVisible(ConfigControl c, bool visible) {
  visible_[Index(c)] = visible;
  if (Control(c)) ::ShowWindow(Control(c), visible ? SW_SHOWNA : SW_HIDE);
}

void Win32ConfigDialog::SetChecked(ConfigControl c, bool checked) {
  if (!Control(c)) return;
  if (checked && ControlOf(c).kind == ControlKind::kOption) {
    for (int i = 0; i < 5; ++i) {
      if (Control(OptionControl(i))) {
        ::SendMessageA(Control(OptionControl(i)), BM_SETCHECK, BST_UNCHECKED, 0);
      }
    }
  }
  ::SendMessageA(Control(c), BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

bool Win32ConfigDialog::Checked(ConfigControl c) const {
  return Control(c) && ::SendMessageA(Control(c), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void Win32ConfigDialog::SetUnderline(ConfigControl c, bool underline) {
  if (!Control(c)) return;
  ::SendMessageA(Control(c), WM_SETFONT,
                 reinterpret_cast<WPARAM>(underline ? underlinedFont_ : labelFont_), TRUE);
  RECT r{};
  ::GetWindowRect(Control(c), &r);
  ::MapWindowPoints(nullptr, dialog_, reinterpret_cast<POINT*>(&r), 2);
  ::InvalidateRect(dialog_, &r, TRUE);
}

void Win32ConfigDialog::RemoveIcon() {
  if (!dialog_) return;
  ::SendMessageA(dialog_, WM_SETICON, ICON_SMALL, 0);
  ::SendMessageA(dialog_, WM_SETICON, ICON_BIG, 0);
}

void Win32ConfigDialog::Show() {
  if (!dialog_) return;
  ::ShowWindow(dialog_, SW_SHOWNORMAL);
  ::UpdateWindow(dialog_);
  ::SetForegroundWindow(dialog_);
  // The focus goes to the first tab stop that can take it (a hidden preview cannot).
  HWND first = ::GetNextDlgTabItem(dialog_, nullptr, FALSE);
  if (first) ::SetFocus(first);
  shown_ = true;
  // The first showing counts as a resize.
  events_.OnResize();
}

void Win32ConfigDialog::Close() {
  if (g_dialog == this) {
    g_dialog = nullptr;
    if (g_hook) ::UnhookWindowsHookEx(g_hook);
    g_hook = nullptr;
  }
  if (dialog_) {
    HWND hwnd = dialog_;
    dialog_ = nullptr;
    ::SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
    for (HWND& c : controls_) {
      if (c) ::SetWindowLongPtrA(c, GWLP_USERDATA, 0);
      c = nullptr;
    }
    ::DestroyWindow(hwnd);
  }
  if (labelFont_) ::DeleteObject(labelFont_);
  if (underlinedFont_) ::DeleteObject(underlinedFont_);
  if (dialogFont_) ::DeleteObject(dialogFont_);
  labelFont_ = underlinedFont_ = dialogFont_ = nullptr;
}

Size Win32ConfigDialog::PreviewSize() const {
  RECT r{};
  if (!Control(ConfigControl::kFlash) || !::GetClientRect(Control(ConfigControl::kFlash), &r)) {
    return {};
  }
  return {r.right, r.bottom};
}

void Win32ConfigDialog::PresentPreview(const SurfaceView& frame) {
  previewSize_ = {frame.width(), frame.height()};
  preview_.resize(static_cast<std::size_t>(frame.width()) *
                  static_cast<std::size_t>(frame.height()));
  for (int y = 0; y < frame.height(); ++y) {
    std::copy(frame.Row(y), frame.Row(y) + frame.width(),
              preview_.begin() + static_cast<std::ptrdiff_t>(y) * frame.width());
  }
  if (HWND flash = Control(ConfigControl::kFlash)) {
    ::InvalidateRect(flash, nullptr, FALSE);
    ::UpdateWindow(flash);
  }
}

ConfigControl Win32ConfigDialog::ControlOfWindow(HWND hwnd) const {
  for (int i = 0; i < kConfigControlCount; ++i) {
    if (controls_[static_cast<std::size_t>(i)] == hwnd) return static_cast<ConfigControl>(i);
  }
  return ConfigControl::kCount;
}

bool Win32ConfigDialog::PreTranslate(MSG& msg) {
  if (!dialog_ || (msg.hwnd != dialog_ && !::IsChild(dialog_, msg.hwnd))) return false;
  switch (msg.message) {
    case WM_MOUSEMOVE:
      // The bare surface is the dialog itself (kCount), anything else the control under the
      // pointer.
      events_.OnMouseMove(msg.hwnd == dialog_ ? ConfigControl::kCount : ControlOfWindow(msg.hwnd));
      return false;
    case WM_KEYDOWN:
      // The dialog sees every key before the control with the focus: Esc closes it from anywhere.
      if (msg.wParam == VK_ESCAPE) {
        events_.OnKeyPress(27);
        return true;
      }
      break;
    case WM_CHAR:
      events_.OnKeyPress(static_cast<int>(msg.wParam));
      if (!dialog_) return true;
      break;
    default:
      break;
  }
  // Tab, the arrow keys, Space and Enter work as in any dialog.
  return ::IsDialogMessageA(dialog_, &msg) != 0;
}

LRESULT CALLBACK Win32ConfigDialog::DialogProc(HWND hwnd, UINT message, WPARAM wParam,
                                               LPARAM lParam) {
  auto* self = reinterpret_cast<Win32ConfigDialog*>(::GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  if (self == nullptr || self->dialog_ != hwnd) {
    return ::DefWindowProcA(hwnd, message, wParam, lParam);
  }
  return self->OnMessage(message, wParam, lParam);
}

LRESULT Win32ConfigDialog::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CLOSE:
      events_.OnCloseRequest();
      return 0;
    case WM_COMMAND: {
      const int id = LOWORD(wParam);
      if (HIWORD(wParam) == BN_CLICKED && id >= kFirstControlId &&
          id < kFirstControlId + kConfigControlCount) {
        const auto c = static_cast<ConfigControl>(id - kFirstControlId);
        const ControlKind kind = ControlOf(c).kind;
        if (kind == ControlKind::kButton || kind == ControlKind::kCheckBox ||
            kind == ControlKind::kOption) {
          events_.OnClick(c);
        }
      }
      return 0;
    }
    case WM_CTLCOLORSTATIC: {
      const auto hdc = reinterpret_cast<HDC>(wParam);
      const ConfigControl c = ControlOfWindow(reinterpret_cast<HWND>(lParam));
      if (c != ConfigControl::kCount && ControlOf(c).kind == ControlKind::kInfoLabel) {
        ::SetBkMode(hdc, TRANSPARENT);
        ::SetTextColor(hdc, ControlOf(c).blueText ? RGB(0, 0, 255) : ::GetSysColor(COLOR_BTNTEXT));
        return reinterpret_cast<LRESULT>(faceBrush_);
      }
      break;
    }
    case WM_SIZE:
      if (shown_) events_.OnResize();
      break;
    default:
      break;
  }
  return ::DefWindowProcA(dialog_, message, wParam, lParam);
}

LRESULT CALLBACK Win32ConfigDialog::AreaProc(HWND hwnd, UINT message, WPARAM wParam,
                                             LPARAM lParam) {
  auto* self = reinterpret_cast<Win32ConfigDialog*>(::GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  if (self != nullptr && message == WM_PAINT) {
    self->PaintArea(hwnd);
    return 0;
  }
  if (message == WM_ERASEBKGND) return 1;
  return ::DefWindowProcA(hwnd, message, wParam, lParam);
}

void Win32ConfigDialog::PaintArea(HWND hwnd) {
  PAINTSTRUCT ps;
  HDC dc = ::BeginPaint(hwnd, &ps);
  RECT client{};
  ::GetClientRect(hwnd, &client);
  const ConfigControl c = ControlOfWindow(hwnd);
  const auto blit = [&](const Pixel* pixels, Size size) {
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = size.w;
    bi.bmiHeader.biHeight = -size.h;  // top-down
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    ::SetDIBitsToDevice(dc, 0, 0, static_cast<DWORD>(size.w), static_cast<DWORD>(size.h), 0, 0, 0,
                        static_cast<UINT>(size.h), pixels, &bi, DIB_RGB_COLORS);
  };
  if (c == ConfigControl::kFlash && !preview_.empty()) {
    blit(preview_.data(), previewSize_);
  } else if (c == ConfigControl::kUserLogo) {
    ::FillRect(dc, &client, faceBrush_);
    blit(logo_.View().data(), kLogoSize);
  } else if (c == ConfigControl::kFlash) {
    ::FillRect(dc, &client, static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH)));
  } else {
    // RirodIMG: an empty white area.
    ::FillRect(dc, &client, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
  }
  ::EndPaint(hwnd, &ps);
}

}  // namespace

std::unique_ptr<ConfigDialogUi> CreateWin32ConfigDialogUi(Platform&, ConfigDialogEvents& events) {
  auto dialog = std::make_unique<Win32ConfigDialog>(events);
  if (!dialog->Create()) return nullptr;
  return dialog;
}

int Win32CommonDialogs::RunOpenDialog(OpenFileRequest& request) {
  // The texts are already in the ANSI code page: the program keeps all its texts in it.
  OPENFILENAMEA ofn{};
  // The short form of the record, without the trailing reserved fields.
  ofn.lStructSize = OPENFILENAME_SIZE_VERSION_400A;
  ofn.hwndOwner = reinterpret_cast<HWND>(request.owner);
  ofn.lpstrFilter = request.filter.c_str();
  ofn.nFilterIndex = static_cast<DWORD>(request.filterIndex);
  ofn.lpstrFile = request.fileBuffer.data();
  ofn.nMaxFile = static_cast<DWORD>(request.fileBuffer.size());
  ofn.lpstrFileTitle = request.titleBuffer.data();
  ofn.nMaxFileTitle = static_cast<DWORD>(request.titleBuffer.size());
  ofn.lpstrInitialDir = request.initialDir.empty() ? nullptr : request.initialDir.c_str();
  ofn.lpstrTitle = request.title.empty() ? nullptr : request.title.c_str();
  ofn.Flags = request.flags;
  ofn.lpstrDefExt = request.defaultExt.empty() ? nullptr : request.defaultExt.c_str();
  const BOOL ok = ::GetOpenFileNameA(&ofn);
  request.flags = ofn.Flags;
  request.filterIndex = static_cast<std::int32_t>(ofn.nFilterIndex);
  return ok ? 1 : 0;
}

int Win32CommonDialogs::RunColorDialog(ColorRequest& request) {
  static_assert(sizeof(COLORREF) == sizeof(std::int32_t));
  CHOOSECOLORA cc{};
  cc.lStructSize = sizeof cc;
  cc.hwndOwner = reinterpret_cast<HWND>(request.owner);
  cc.rgbResult = static_cast<COLORREF>(request.color);
  cc.lpCustColors =
      request.customColors ? reinterpret_cast<COLORREF*>(request.customColors->data()) : nullptr;
  cc.Flags = request.flags;
  if (!cc.lpCustColors) return 0;
  const BOOL ok = ::ChooseColorA(&cc);
  request.color = static_cast<std::int32_t>(cc.rgbResult);
  return ok ? 1 : 0;
}

std::int32_t Win32CommonDialogs::SysColor(int index) {
  return static_cast<std::int32_t>(::GetSysColor(index));
}

}  // namespace dbx
