#include "platform/gtk/gtk_config_dialog.h"

#include <gtk/gtk.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <vector>

namespace dbx {
namespace {

class GtkCommonDialogs final : public CommonDialogBackend {
 public:
  explicit GtkCommonDialogs(Platform& platform) : platform_(platform) {}
  int RunOpenDialog(OpenFileRequest& request) override;
  int RunColorDialog(ColorRequest& request) override;
  std::int32_t SysColor(int index) override { return platform_.Colors().SysColor(index); }

 private:
  Platform& platform_;
};

// The pairs of a converted filter text ("description\0pattern\0...\0\0").
std::vector<std::pair<std::string, std::string>> FilterPairs(const std::string& converted) {
  std::vector<std::pair<std::string, std::string>> pairs;
  for (std::int32_t i = 1;; ++i) {
    const std::string pair = FilterPair(converted, i);
    if (pair.empty()) break;
    const std::size_t zero = pair.find('\0');
    pairs.emplace_back(pair.substr(0, zero),
                       zero == std::string::npos ? std::string() : pair.substr(zero + 1));
  }
  return pairs;
}

int GtkCommonDialogs::RunOpenDialog(OpenFileRequest& request) {
  const std::string title = request.title.empty() ? "Open" : request.title;
  GtkWidget* dialog =
      gtk_file_chooser_dialog_new(title.c_str(), nullptr, GTK_FILE_CHOOSER_ACTION_OPEN, "_Cancel",
                                  GTK_RESPONSE_CANCEL, "_Open", GTK_RESPONSE_ACCEPT, nullptr);
  GtkFileChooser* chooser = GTK_FILE_CHOOSER(dialog);
  gtk_file_chooser_set_select_multiple(chooser, (request.flags & kOfnAllowMultiSelect) != 0);
  std::vector<GtkFileFilter*> filters;
  for (const auto& [description, patterns] : FilterPairs(request.filter)) {
    GtkFileFilter* filter = gtk_file_filter_new();
    gtk_file_filter_set_name(filter, description.c_str());
    // Several patterns are separated by ";" as on Windows.
    std::size_t start = 0;
    while (start <= patterns.size()) {
      const std::size_t end = std::min(patterns.find(';', start), patterns.size());
      const std::string pattern = patterns.substr(start, end - start);
      if (!pattern.empty()) gtk_file_filter_add_pattern(filter, pattern.c_str());
      start = end + 1;
    }
    gtk_file_chooser_add_filter(chooser, filter);
    filters.push_back(filter);
  }
  if (request.filterIndex >= 1 && static_cast<std::size_t>(request.filterIndex) <= filters.size()) {
    gtk_file_chooser_set_filter(chooser,
                                filters[static_cast<std::size_t>(request.filterIndex - 1)]);
  }
  if (!request.initialDir.empty()) {
    gtk_file_chooser_set_current_folder(chooser, request.initialDir.c_str());
  }
  const std::string initial = CutAtNull(request.fileBuffer);
  if (!initial.empty()) gtk_file_chooser_set_filename(chooser, initial.c_str());

  int result = 0;
  if (gtk_dialog_run(GTK_DIALOG(dialog)) == GTK_RESPONSE_ACCEPT) {
    gchar* path = gtk_file_chooser_get_filename(chooser);
    // A path that does not fit the buffer is a failure, as on Windows.
    if (path != nullptr && std::strlen(path) < request.fileBuffer.size()) {
      const std::string chosen(path);
      std::fill(request.fileBuffer.begin(), request.fileBuffer.end(), '\0');
      request.fileBuffer.replace(0, chosen.size(), chosen);
      const std::string name = chosen.substr(chosen.find_last_of('/') + 1);
      std::fill(request.titleBuffer.begin(), request.titleBuffer.end(), '\0');
      if (name.size() < request.titleBuffer.size())
        request.titleBuffer.replace(0, name.size(), name);
      GtkFileFilter* used = gtk_file_chooser_get_filter(chooser);
      const auto it = std::find(filters.begin(), filters.end(), used);
      if (it != filters.end())
        request.filterIndex = static_cast<std::int32_t>(it - filters.begin()) + 1;
      result = 1;
    }
    g_free(path);
  }
  gtk_widget_destroy(dialog);
  while (gtk_events_pending()) gtk_main_iteration_do(FALSE);
  return result;
}

GdkRGBA ToRgba(std::int32_t color) {
  const auto c = static_cast<std::uint32_t>(color);
  return GdkRGBA{(c & 0xFF) / 255.0, ((c >> 8) & 0xFF) / 255.0, ((c >> 16) & 0xFF) / 255.0, 1.0};
}

std::int32_t FromRgba(const GdkRGBA& rgba) {
  const auto channel = [](double v) {
    return static_cast<std::uint32_t>(std::lround(std::clamp(v, 0.0, 1.0) * 255.0));
  };
  return static_cast<std::int32_t>(channel(rgba.red) | (channel(rgba.green) << 8) |
                                   (channel(rgba.blue) << 16));
}

int GtkCommonDialogs::RunColorDialog(ColorRequest& request) {
  GtkWidget* dialog = gtk_color_chooser_dialog_new("Color", nullptr);
  GtkColorChooser* chooser = GTK_COLOR_CHOOSER(dialog);
  gtk_color_chooser_set_use_alpha(chooser, FALSE);
  if (request.customColors) {
    // The process's custom colours are offered as a row of their own.
    std::array<GdkRGBA, 16> row{};
    for (std::size_t i = 0; i < row.size(); ++i) row[i] = ToRgba((*request.customColors)[i]);
    gtk_color_chooser_add_palette(chooser, GTK_ORIENTATION_HORIZONTAL, 8,
                                  static_cast<gint>(row.size()), row.data());
  }
  const GdkRGBA initial = ToRgba(request.color);
  gtk_color_chooser_set_rgba(chooser, &initial);
  // The custom part (GTK's editor) open from the start.
  if (request.flags & kCcFullOpen) g_object_set(dialog, "show-editor", TRUE, nullptr);
  int result = 0;
  if (gtk_dialog_run(GTK_DIALOG(dialog)) == GTK_RESPONSE_OK) {
    GdkRGBA chosen{};
    gtk_color_chooser_get_rgba(chooser, &chosen);
    request.color = FromRgba(chosen);
    // GTK has no editable custom row of ours: a chosen colour that is not in it yet goes to its
    // front, so that the next dialog of the process offers it.
    if (request.customColors) {
      auto& row = *request.customColors;
      if (std::find(row.begin(), row.end(), request.color) == row.end()) {
        std::rotate(row.rbegin(), row.rbegin() + 1, row.rend());
        row[0] = request.color;
      }
    }
    result = 1;
  }
  gtk_widget_destroy(dialog);
  while (gtk_events_pending()) gtk_main_iteration_do(FALSE);
  return result;
}

// ---------------------------------------------------------------------------------------------

class GtkConfigDialog final : public ConfigDialogUi {
 public:
  GtkConfigDialog(Platform& platform, ConfigDialogEvents& events)
      : platform_(platform), events_(events), dialogs_(platform) {}
  ~GtkConfigDialog() override { Close(); }

  bool Create();

  void SetText(ConfigControl c, std::string_view text) override;
  std::string Text(ConfigControl c) const override { return texts_[Index(c)]; }
  void SetVisible(ConfigControl c, bool visible) override;
  bool Visible(ConfigControl c) const override { return visible_[Index(c)]; }
  void SetChecked(ConfigControl c, bool checked) override;
  bool Checked(ConfigControl c) const override;
  void SetUnderline(ConfigControl c, bool underline) override;
  void RemoveIcon() override {
    if (window_) gtk_window_set_icon(GTK_WINDOW(window_), nullptr);
  }
  void Show() override;
  void Close() override;
  std::int32_t OwnerHandle() const override { return kNoOwner; }
  Size PreviewSize() const override;
  void PresentPreview(const SurfaceView& frame) override;
  CommonDialogBackend& CommonDialogs() override { return dialogs_; }

 private:
  static std::size_t Index(ConfigControl c) { return static_cast<std::size_t>(c); }
  GtkWidget* Widget(ConfigControl c) const { return widgets_[Index(c)]; }
  void ApplyLabelStyle(ConfigControl c);
  void Pump();

  static gboolean OnKey(GtkWidget*, GdkEventKey* event, gpointer self);
  static gboolean OnDelete(GtkWidget*, GdkEvent*, gpointer self);
  static gboolean OnSurfaceMotion(GtkWidget*, GdkEvent* event, gpointer self);
  static gboolean OnLabelMotion(GtkWidget* box, GdkEvent*, gpointer self);
  static gboolean OnLabelLeave(GtkWidget* box, GdkEventCrossing* event, gpointer self);
  static void OnClicked(GtkWidget* widget, gpointer self);
  static gboolean OnDraw(GtkWidget* widget, cairo_t* cr, gpointer self);

  Platform& platform_;
  ConfigDialogEvents& events_;
  GtkCommonDialogs dialogs_;
  GtkWidget* window_ = nullptr;
  GtkWidget* layout_ = nullptr;
  // The label inside each info label's event box.
  std::array<GtkWidget*, kConfigControlCount> widgets_{};
  std::array<GtkWidget*, kConfigControlCount> labels_{};
  std::array<std::string, kConfigControlCount> texts_{};
  std::array<bool, kConfigControlCount> visible_{};
  std::array<bool, kConfigControlCount> underline_{};
  // An option outside the group's view that holds the selection while none of the five is
  // selected (a GTK radio group always has one active member).
  GtkWidget* noOption_ = nullptr;
  std::vector<Pixel> preview_;
  Size previewSize_{};
  Surface logo_ = MakeLogo();
  TimerId pumpTimer_ = -1;
  int programmatic_ = 0;
  bool closing_ = false;
};

bool GtkConfigDialog::Create() {
  const int twips = 15;  // GTK lays out in 96 dpi units; its scale factor does the rest.
  window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_title(GTK_WINDOW(window_), "Configure Screensaver");
  gtk_window_set_resizable(GTK_WINDOW(window_), FALSE);
  gtk_window_set_type_hint(GTK_WINDOW(window_), GDK_WINDOW_TYPE_HINT_DIALOG);
  gtk_window_set_position(GTK_WINDOW(window_), GTK_WIN_POS_CENTER);
  const Rect client =
      TwipsToPixels(0, 0, kConfigClientWidthTwips, kConfigClientHeightTwips, twips, twips);
  // A layout does not grow with children that lie beyond its size: the controls right of the
  // client area stay there, unseen but working.
  layout_ = gtk_layout_new(nullptr, nullptr);
  gtk_widget_set_size_request(layout_, client.w, client.h);
  gtk_widget_add_events(layout_, GDK_POINTER_MOTION_MASK | GDK_ENTER_NOTIFY_MASK);
  gtk_container_add(GTK_CONTAINER(window_), layout_);
  g_signal_connect(window_, "key-press-event", G_CALLBACK(OnKey), this);
  g_signal_connect(window_, "delete-event", G_CALLBACK(OnDelete), this);
  g_signal_connect(layout_, "motion-notify-event", G_CALLBACK(OnSurfaceMotion), this);
  g_signal_connect(layout_, "enter-notify-event", G_CALLBACK(OnSurfaceMotion), this);

  std::vector<const ControlSpec*> order;
  for (const auto& spec : ConfigControls()) order.push_back(&spec);
  std::sort(order.begin(), order.end(),
            [](const ControlSpec* a, const ControlSpec* b) { return a->tabIndex < b->tabIndex; });
  // Made back to front: the frame first, the previews over it.
  const ConfigControl paintOrder[] = {
      ConfigControl::kFrame1,     ConfigControl::kRirodIMG, ConfigControl::kFlash,
      ConfigControl::kVercap,     ConfigControl::kDeccap,   ConfigControl::kWebsitecap,
      ConfigControl::kCopycap,    ConfigControl::kUserLogo, ConfigControl::kLabel1,
      ConfigControl::kCmdChange,  ConfigControl::kCmdBack,  ConfigControl::kChkCursor,
      ConfigControl::kFraQuality, ConfigControl::kOption0,  ConfigControl::kOption1,
      ConfigControl::kOption2,    ConfigControl::kOption3,  ConfigControl::kOption4};
  const ControlSpec& quality = ControlOf(ConfigControl::kFraQuality);
  noOption_ = gtk_radio_button_new(nullptr);
  g_object_ref_sink(noOption_);
  for (ConfigControl id : paintOrder) {
    const ControlSpec& spec = ControlOf(id);
    int left = spec.left, top = spec.top;
    if (spec.kind == ControlKind::kOption) {
      left += quality.left;
      top += quality.top;
    }
    const Rect r = TwipsToPixels(left, top, spec.width, spec.height, twips, twips);
    const std::string text(spec.text);
    GtkWidget* w = nullptr;
    switch (spec.kind) {
      case ControlKind::kMoviePreview:
      case ControlKind::kPictureBox:
      case ControlKind::kLogo:
        w = gtk_drawing_area_new();
        g_signal_connect(w, "draw", G_CALLBACK(OnDraw), this);
        if (spec.kind == ControlKind::kMoviePreview) gtk_widget_set_can_focus(w, TRUE);
        break;
      case ControlKind::kFrame:
        // Frame1's caption lies under the preview, which covers all of the frame but its edges;
        // GTK would draw the caption on top, so that frame shows none.
        w = gtk_frame_new(id == ConfigControl::kFrame1 ? nullptr : text.c_str());
        break;
      case ControlKind::kInfoLabel: {
        w = gtk_event_box_new();
        gtk_event_box_set_visible_window(GTK_EVENT_BOX(w), FALSE);
        gtk_widget_add_events(w, GDK_POINTER_MOTION_MASK | GDK_ENTER_NOTIFY_MASK);
        GtkWidget* label = gtk_label_new(text.c_str());
        gtk_label_set_xalign(GTK_LABEL(label), 0.0f);
        gtk_label_set_yalign(GTK_LABEL(label), 0.0f);
        if (!spec.autoSize) {
          gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
          gtk_widget_set_size_request(label, r.w, -1);
        }
        gtk_container_add(GTK_CONTAINER(w), label);
        labels_[Index(id)] = label;
        // The pointer arriving over the label counts as a move over it.
        g_signal_connect(w, "motion-notify-event", G_CALLBACK(OnLabelMotion), this);
        g_signal_connect(w, "enter-notify-event", G_CALLBACK(OnLabelMotion), this);
        gtk_widget_add_events(w, GDK_LEAVE_NOTIFY_MASK);
        g_signal_connect(w, "leave-notify-event", G_CALLBACK(OnLabelLeave), this);
        g_object_set_data(G_OBJECT(w), "dbx-control", GINT_TO_POINTER(static_cast<int>(id) + 1));
        if (!spec.autoSize) {
          // A label shows what fits its rectangle and cuts the rest off, as labels do on Windows.
          GtkWidget* clip = gtk_scrolled_window_new(nullptr, nullptr);
          gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(clip), GTK_POLICY_EXTERNAL,
                                         GTK_POLICY_EXTERNAL);
          gtk_container_add(GTK_CONTAINER(clip), w);
          w = clip;
        }
        break;
      }
      case ControlKind::kButton:
        w = gtk_button_new_with_label(text.c_str());
        g_signal_connect(w, "clicked", G_CALLBACK(OnClicked), this);
        break;
      case ControlKind::kCheckBox:
        w = gtk_check_button_new_with_label(text.c_str());
        g_signal_connect(w, "toggled", G_CALLBACK(OnClicked), this);
        break;
      case ControlKind::kOption:
        w = gtk_radio_button_new_with_label_from_widget(GTK_RADIO_BUTTON(noOption_), text.c_str());
        g_signal_connect(w, "toggled", G_CALLBACK(OnClicked), this);
        break;
    }
    g_object_set_data(G_OBJECT(w), "dbx-control", GINT_TO_POINTER(static_cast<int>(id) + 1));
    if (spec.kind != ControlKind::kInfoLabel || !spec.autoSize) {
      gtk_widget_set_size_request(w, std::max(1, r.w), std::max(1, r.h));
    }
    gtk_layout_put(GTK_LAYOUT(layout_), w, r.x, r.y);
    widgets_[Index(id)] = w;
    texts_[Index(id)] = text;
    visible_[Index(id)] = true;
    if (spec.kind == ControlKind::kInfoLabel) ApplyLabelStyle(id);
  }
  gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(noOption_), TRUE);

  // Tab follows the design's tab order.
  GList* chain = nullptr;
  for (const ControlSpec* spec : order) chain = g_list_append(chain, Widget(spec->id));
  G_GNUC_BEGIN_IGNORE_DEPRECATIONS
  gtk_container_set_focus_chain(GTK_CONTAINER(layout_), chain);
  G_GNUC_END_IGNORE_DEPRECATIONS
  g_list_free(chain);

  pumpTimer_ = platform_.Loop().CreateTimer(10, [this] { Pump(); });
  platform_.Loop().SetTimer(pumpTimer_, true, 10);
  return true;
}

void GtkConfigDialog::Pump() {
  for (int i = 0; i < 200 && gtk_events_pending(); ++i) gtk_main_iteration_do(FALSE);
}

void GtkConfigDialog::ApplyLabelStyle(ConfigControl c) {
  GtkWidget* label = labels_[Index(c)];
  if (!label) return;
  PangoAttrList* attrs = pango_attr_list_new();
  pango_attr_list_insert(attrs, pango_attr_family_new("Tahoma"));
  pango_attr_list_insert(attrs, pango_attr_size_new(static_cast<int>(8.25 * PANGO_SCALE)));
  if (ControlOf(c).blueText) pango_attr_list_insert(attrs, pango_attr_foreground_new(0, 0, 0xFFFF));
  if (underline_[Index(c)]) {
    pango_attr_list_insert(attrs, pango_attr_underline_new(PANGO_UNDERLINE_SINGLE));
  }
  gtk_label_set_attributes(GTK_LABEL(label), attrs);
  pango_attr_list_unref(attrs);
}

void GtkConfigDialog::SetText(ConfigControl c, std::string_view text) {
  texts_[Index(c)] = std::string(text);
  GtkWidget* w = Widget(c);
  if (!w) return;
  if (labels_[Index(c)]) {
    gtk_label_set_text(GTK_LABEL(labels_[Index(c)]), texts_[Index(c)].c_str());
  } else if (GTK_IS_BUTTON(w)) {
    gtk_button_set_label(GTK_BUTTON(w), texts_[Index(c)].c_str());
  } else if (GTK_IS_FRAME(w)) {
    gtk_frame_set_label(GTK_FRAME(w), texts_[Index(c)].c_str());
  }
}

void GtkConfigDialog::SetVisible(ConfigControl c, bool visible) {
  visible_[Index(c)] = visible;
  if (GtkWidget* w = Widget(c)) gtk_widget_set_visible(w, visible);
}

void GtkConfigDialog::SetChecked(ConfigControl c, bool checked) {
  GtkWidget* w = Widget(c);
  if (!w || !GTK_IS_TOGGLE_BUTTON(w)) return;
  ++programmatic_;
  if (!checked && ControlOf(c).kind == ControlKind::kOption) {
    if (gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(w))) {
      gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(noOption_), TRUE);
    }
  } else {
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(w), checked);
  }
  --programmatic_;
}

bool GtkConfigDialog::Checked(ConfigControl c) const {
  GtkWidget* w = Widget(c);
  return w && GTK_IS_TOGGLE_BUTTON(w) && gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(w));
}

void GtkConfigDialog::SetUnderline(ConfigControl c, bool underline) {
  if (underline_[Index(c)] == underline) return;
  underline_[Index(c)] = underline;
  ApplyLabelStyle(c);
}

void GtkConfigDialog::Show() {
  if (!window_) return;
  gtk_widget_show_all(window_);
  // show_all shows everything: the hidden preview goes back out of sight.
  for (int i = 0; i < kConfigControlCount; ++i) {
    const auto c = static_cast<ConfigControl>(i);
    if (!visible_[Index(c)] && Widget(c)) gtk_widget_hide(Widget(c));
  }
  gtk_window_present(GTK_WINDOW(window_));
  // The focus goes to the first control in tab order that can take it.
  std::vector<const ControlSpec*> order;
  for (const auto& spec : ConfigControls()) order.push_back(&spec);
  std::sort(order.begin(), order.end(),
            [](const ControlSpec* a, const ControlSpec* b) { return a->tabIndex < b->tabIndex; });
  for (const ControlSpec* spec : order) {
    GtkWidget* w = Widget(spec->id);
    if (w && visible_[Index(spec->id)] && gtk_widget_get_can_focus(w)) {
      gtk_widget_grab_focus(w);
      break;
    }
  }
  Pump();
  events_.OnResize();
}

void GtkConfigDialog::Close() {
  if (closing_) return;
  closing_ = true;
  if (pumpTimer_ >= 0) platform_.Loop().DestroyTimer(pumpTimer_);
  pumpTimer_ = -1;
  if (window_) {
    gtk_widget_destroy(window_);
    window_ = nullptr;
    widgets_.fill(nullptr);
    labels_.fill(nullptr);
    Pump();
  }
  if (noOption_) {
    g_object_unref(noOption_);
    noOption_ = nullptr;
  }
}

Size GtkConfigDialog::PreviewSize() const {
  GtkWidget* w = Widget(ConfigControl::kFlash);
  if (!w) return {};
  int width = 0, height = 0;
  gtk_widget_get_size_request(w, &width, &height);
  return {width, height};
}

void GtkConfigDialog::PresentPreview(const SurfaceView& frame) {
  previewSize_ = {frame.width(), frame.height()};
  preview_.resize(static_cast<std::size_t>(frame.width()) *
                  static_cast<std::size_t>(frame.height()));
  for (int y = 0; y < frame.height(); ++y) {
    std::copy(frame.Row(y), frame.Row(y) + frame.width(),
              preview_.begin() + static_cast<std::ptrdiff_t>(y) * frame.width());
  }
  if (GtkWidget* w = Widget(ConfigControl::kFlash)) gtk_widget_queue_draw(w);
}

ConfigControl ControlOfWidget(GtkWidget* widget) {
  const int tag = GPOINTER_TO_INT(g_object_get_data(G_OBJECT(widget), "dbx-control"));
  return tag > 0 ? static_cast<ConfigControl>(tag - 1) : ConfigControl::kCount;
}

gboolean GtkConfigDialog::OnKey(GtkWidget*, GdkEventKey* event, gpointer data) {
  auto* self = static_cast<GtkConfigDialog*>(data);
  // The dialog sees every key before the control with the focus.
  int code = 0;
  if (event->keyval == GDK_KEY_Escape) {
    code = 27;
  } else if (event->keyval == GDK_KEY_Return || event->keyval == GDK_KEY_KP_Enter) {
    code = 13;
  } else {
    code = static_cast<int>(gdk_keyval_to_unicode(event->keyval));
  }
  if (code == 0) return FALSE;
  self->events_.OnKeyPress(code);
  // Esc is the dialog's own key; a closed dialog has nothing left to pass the key to.
  return code == 27 || self->closing_;
}

gboolean GtkConfigDialog::OnDelete(GtkWidget*, GdkEvent*, gpointer data) {
  static_cast<GtkConfigDialog*>(data)->events_.OnCloseRequest();
  return TRUE;
}

gboolean GtkConfigDialog::OnSurfaceMotion(GtkWidget* layout, GdkEvent* event, gpointer data) {
  auto* self = static_cast<GtkConfigDialog*>(data);
  // Only the bare surface counts: the layout's own window, not a control's.
  if (event->any.window == gtk_layout_get_bin_window(GTK_LAYOUT(layout))) {
    self->events_.OnMouseMove(ConfigControl::kCount);
  }
  return FALSE;
}

gboolean GtkConfigDialog::OnLabelMotion(GtkWidget* box, GdkEvent*, gpointer data) {
  static_cast<GtkConfigDialog*>(data)->events_.OnMouseMove(ControlOfWidget(box));
  return TRUE;
}

// Leaving a label: where the pointer went decides. The bare surface counts as a move over it;
// another control does not. (The surface's own motion events are not delivered reliably when the
// pointer jumps there, so the label's leave event does this part.)
gboolean GtkConfigDialog::OnLabelLeave(GtkWidget* box, GdkEventCrossing* event, gpointer data) {
  auto* self = static_cast<GtkConfigDialog*>(data);
  if (self->closing_ || !self->layout_) return FALSE;
  gint ox = 0, oy = 0;
  gdk_window_get_origin(gtk_layout_get_bin_window(GTK_LAYOUT(self->layout_)), &ox, &oy);
  const int x = static_cast<int>(event->x_root) - ox, y = static_cast<int>(event->y_root) - oy;
  for (int i = 0; i < kConfigControlCount; ++i) {
    GtkWidget* w = self->widgets_[static_cast<std::size_t>(i)];
    if (!w || !gtk_widget_get_visible(w) || gtk_widget_is_ancestor(box, w) || w == box) continue;
    GtkAllocation a{};
    gtk_widget_get_allocation(w, &a);
    if (x >= a.x && y >= a.y && x < a.x + a.width && y < a.y + a.height) return FALSE;
  }
  const int w = gtk_widget_get_allocated_width(self->layout_);
  const int h = gtk_widget_get_allocated_height(self->layout_);
  if (x >= 0 && y >= 0 && x < w && y < h) self->events_.OnMouseMove(ConfigControl::kCount);
  return FALSE;
}

void GtkConfigDialog::OnClicked(GtkWidget* widget, gpointer data) {
  auto* self = static_cast<GtkConfigDialog*>(data);
  if (self->programmatic_ > 0 || self->closing_) return;
  const ConfigControl c = ControlOfWidget(widget);
  // An option reports its click when it becomes the selected one.
  if (ControlOf(c).kind == ControlKind::kOption &&
      !gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(widget))) {
    return;
  }
  self->events_.OnClick(c);
}

gboolean GtkConfigDialog::OnDraw(GtkWidget* widget, cairo_t* cr, gpointer data) {
  auto* self = static_cast<GtkConfigDialog*>(data);
  const ConfigControl c = ControlOfWidget(widget);
  const auto paint = [cr](const Pixel* pixels, Size size, int stride) {
    cairo_surface_t* s = cairo_image_surface_create_for_data(
        reinterpret_cast<unsigned char*>(const_cast<Pixel*>(pixels)), CAIRO_FORMAT_RGB24, size.w,
        size.h, stride * 4);
    cairo_set_source_surface(cr, s, 0, 0);
    cairo_paint(cr);
    cairo_surface_destroy(s);
  };
  if (c == ConfigControl::kFlash && !self->preview_.empty()) {
    paint(self->preview_.data(), self->previewSize_, self->previewSize_.w);
  } else if (c == ConfigControl::kUserLogo) {
    paint(self->logo_.View().data(), kLogoSize, static_cast<int>(self->logo_.View().stride()));
  } else if (c == ConfigControl::kFlash) {
    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_paint(cr);
  } else {
    cairo_set_source_rgb(cr, 1, 1, 1);  // RirodIMG: an empty white area
    cairo_paint(cr);
  }
  return TRUE;
}

}  // namespace

std::unique_ptr<ConfigDialogUi> CreateGtkConfigDialogUi(Platform& platform,
                                                        ConfigDialogEvents& events) {
  static const bool ready = gtk_init_check(nullptr, nullptr);
  if (!ready) return nullptr;
  auto dialog = std::make_unique<GtkConfigDialog>(platform, events);
  if (!dialog->Create()) return nullptr;
  return dialog;
}

}  // namespace dbx
