#include "startup/frm_preview.h"

namespace dbx {

frmPreview::frmPreview(Platform& platform) : platform_(platform) {
  WindowOptions options;
  options.caption = "Form1";
  options.border = false;
  options.background = kPreviewGrey;
  window_ = platform_.CreateWindow(options, *this);
}

frmPreview::~frmPreview() {
  if (window_) window_->Destroy();
}

void frmPreview::OnResize(Size client) {
  area_.Resize(client.w, client.h, kPreviewGrey);
  OnPaint();
}

void frmPreview::OnPaint() {
  if (!window_) return;
  const Size client = window_->ClientSize();
  if (area_.width() != client.w || area_.height() != client.h) {
    area_.Resize(client.w, client.h, kPreviewGrey);
  }
  window_->Present(area_.View(), Rect{0, 0, client.w, client.h});
}

void frmPreview::OnCloseRequest() {
  // The preview parent went away: so does the preview, and with it the program.
  if (window_) window_->Destroy();
  window_.reset();
  platform_.Loop().Quit(0);
}

}  // namespace dbx
