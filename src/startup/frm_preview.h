// The preview of picture content: a borderless window that shows a plain dark grey area.
#pragma once

#include <memory>

#include "core/platform.h"
#include "startup/sub_main.h"

namespace dbx {

inline constexpr Pixel kPreviewGrey = MakePixel(0x40, 0x40, 0x40);

class frmPreview final : public Form, private WindowEvents {
 public:
  explicit frmPreview(Platform& platform);
  ~frmPreview() override;
  Window* GetWindow() override { return window_.get(); }
  bool Loaded() const override { return window_ != nullptr; }

 private:
  void OnResize(Size client) override;
  void OnPaint() override;
  void OnCloseRequest() override;

  Platform& platform_;
  std::unique_ptr<Window> window_;
  Surface area_;
};

}  // namespace dbx
