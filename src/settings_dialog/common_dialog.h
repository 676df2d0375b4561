// mCommonDialog: the system's open-file and colour dialogs as two calls with plain arguments.
// The request records, flags, filter conversion and the cancel values are worked out here; a
// small backend per system runs the dialog itself (comdlg32 on Windows, GTK3 on Linux).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace dbx {

// Request flags of the open-file dialog.
enum OpenFileFlags : std::uint32_t {
  kOfnReadOnly = 0x1,
  kOfnHideReadOnly = 0x4,
  kOfnEnableHook = 0x20,
  kOfnEnableTemplate = 0x40,
  kOfnAllowMultiSelect = 0x200,
  kOfnFileMustExist = 0x1000,
};

// Request flags of the colour dialog.
enum ChooseColorFlags : std::uint32_t {
  kCcRgbInit = 0x1,
  kCcFullOpen = 0x2,
  kCcPreventFullOpen = 0x4,
  kCcEnableHook = 0x10,
  kCcEnableTemplate = 0x20,
  kCcSolidColor = 0x80,
  kCcAnyColor = 0x100,
};

// The yes/no options of an open-file request.
enum class OpenOption : std::uint8_t {
  kFileMustExist = 1,
  kMultiSelect = 2,
  kReadOnly = 4,  // the read-only box is ticked (in, and out when the user ticked it)
  kHideReadOnly = 8,
};

// A set of open-file options: `OpenOption::kFileMustExist | OpenOption::kHideReadOnly`.
class OpenOptions {
 public:
  constexpr OpenOptions() = default;
  constexpr OpenOptions(OpenOption option)  // a set of one option
      : bits_(static_cast<std::uint8_t>(option)) {}
  constexpr bool Has(OpenOption option) const {
    return (bits_ & static_cast<std::uint8_t>(option)) != 0;
  }
  constexpr OpenOptions& Add(OpenOption option) {
    bits_ = static_cast<std::uint8_t>(bits_ | static_cast<std::uint8_t>(option));
    return *this;
  }
  friend constexpr OpenOptions operator|(OpenOptions a, OpenOption b) { return a.Add(b); }
  friend constexpr bool operator==(OpenOptions, OpenOptions) = default;

 private:
  std::uint8_t bits_ = 0;
};
constexpr OpenOptions operator|(OpenOption a, OpenOption b) {
  return OpenOptions(a) | b;
}

// The capacity of the file-name and file-title buffers, in characters.
inline constexpr std::size_t kFileBufferSize = 260;

// The owner argument that means "no owner window".
inline constexpr std::int32_t kNoOwner = -1;

// The text before the first zero character; all of it when there is none.
std::string CutAtNull(std::string_view text);

// The filter as the system takes it: every "|" and ":" becomes a zero character and two zero
// characters end it ("Movies|*.swf" -> "Movies\0*.swf\0\0").
std::string ConvertFilter(std::string_view filter);

// Pair `index` (1-based) of a converted filter: "description\0pattern", or the empty text when
// the filter has no such pair.
std::string FilterPair(std::string_view converted, std::int32_t index);

// The flags of an open-file request: the caller's flags without the hook and template bits, plus
// the bits of the options.
std::uint32_t OpenDialogFlags(std::uint32_t callerFlags, OpenOptions options);

// The flags of a colour request: start at the given colour, any or solid colours, the custom part
// open or closed; hook and template bits cleared.
std::uint32_t ColorDialogFlags(bool anyColor, bool fullOpen, bool preventFullOpen);

// The open-file request as the system dialog gets it, and what it hands back.
struct OpenFileRequest {
  std::intptr_t owner = 0;  // 0: none
  std::string filter;       // converted (zero separated, two zeros at the end)
  std::int32_t filterIndex = 0;
  std::string fileBuffer;   // kFileBufferSize characters, zero padded
  std::string titleBuffer;  // kFileBufferSize characters, zero padded
  std::string initialDir;   // empty: none
  std::string title;        // empty: the system's default title
  std::string defaultExt;   // empty: none
  std::uint32_t flags = 0;  // in and out
};

// The colour request. The custom colours are the process's row of 16, which the dialog may change.
struct ColorRequest {
  std::intptr_t owner = 0;  // 0: none
  std::int32_t color = 0;   // 0x00BBGGRR, in and out
  std::array<std::int32_t, 16>* customColors = nullptr;
  std::uint32_t flags = 0;
};

// One system's dialogs. Run* return the system dialog's result: 1 when the user confirmed.
class CommonDialogBackend {
 public:
  virtual ~CommonDialogBackend() = default;
  virtual int RunOpenDialog(OpenFileRequest& request) = 0;
  virtual int RunColorDialog(ColorRequest& request) = 0;
  // The colour value (0x00BBGGRR) of system colour `index`.
  virtual std::int32_t SysColor(int index) = 0;
};

// The custom colours of the colour dialog, kept for the life of the process.
struct CustomColors {
  std::array<std::int32_t, 16> colors{};
  bool filled = false;
};
CustomColors& ProcessCustomColors();

// The open-file dialog. Returns true when the user chose a file; then the in/out arguments hold
// the choice, and `options` gains kReadOnly when the user ticked the read-only box. Otherwise the
// file name, file title and filter are empty, the flags 0, the filter index -1 and the options as
// they were. An initial file name or title that does not fit the 260-character buffer is refused
// before any dialog opens, with the same cancel values.
bool ShowOpenDialog(CommonDialogBackend& backend, std::string& fileName, std::string& fileTitle,
                    OpenOptions& options, std::string& filter, std::int32_t& filterIndex,
                    std::string_view initialDir, std::string_view title,
                    std::string_view defaultExt, std::int32_t owner, std::int32_t& flags);

// The colour dialog. Returns true when the user chose a colour (in `color`); otherwise `color` is
// -1.
bool ShowColorDialog(CommonDialogBackend& backend, std::int32_t& color, bool anyColor,
                     bool fullOpen, bool preventFullOpen, std::int32_t owner);

}  // namespace dbx
