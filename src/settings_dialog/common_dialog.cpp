#include "settings_dialog/common_dialog.h"

namespace dbx {

std::string CutAtNull(std::string_view text) {
  return std::string(text.substr(0, text.find('\0')));
}

std::string ConvertFilter(std::string_view filter) {
  std::string out(filter);
  for (char& c : out) {
    if (c == '|' || c == ':') c = '\0';
  }
  out.append(2, '\0');
  return out;
}

std::string FilterPair(std::string_view converted, std::int32_t index) {
  std::size_t start = 0;
  for (;;) {
    const std::size_t first = converted.find('\0', start);
    // A zero right at the start is the filter's closing pair of zeros: there are no more pairs.
    if (first == std::string_view::npos || first == start) return {};
    const std::size_t second = converted.find('\0', first + 1);
    if (index == 1) {
      const std::size_t end = second == std::string_view::npos ? converted.size() : second;
      return std::string(converted.substr(start, end - start));
    }
    // An index below 1 names no pair; the walk ends at the filter's closing zeros.
    if (second == std::string_view::npos) return {};
    start = second + 1;
    --index;
  }
}

std::uint32_t OpenDialogFlags(std::uint32_t callerFlags, OpenOptions options) {
  static constexpr struct {
    OpenOption option;
    std::uint32_t flag;
  } kBits[] = {{OpenOption::kFileMustExist, kOfnFileMustExist},
               {OpenOption::kMultiSelect, kOfnAllowMultiSelect},
               {OpenOption::kReadOnly, kOfnReadOnly},
               {OpenOption::kHideReadOnly, kOfnHideReadOnly}};
  std::uint32_t flags = callerFlags & ~std::uint32_t{kOfnEnableHook | kOfnEnableTemplate};
  for (const auto& bit : kBits) {
    if (options.Has(bit.option)) flags |= bit.flag;
  }
  return flags;
}

std::uint32_t ColorDialogFlags(bool anyColor, bool fullOpen, bool preventFullOpen) {
  std::uint32_t flags = kCcRgbInit | (anyColor ? kCcAnyColor : kCcSolidColor);
  if (fullOpen) flags |= kCcFullOpen;
  if (preventFullOpen) flags |= kCcPreventFullOpen;
  return flags & ~std::uint32_t{kCcEnableHook | kCcEnableTemplate};
}

CustomColors& ProcessCustomColors() {
  static CustomColors colors;
  return colors;
}

namespace {

std::intptr_t OwnerHandle(std::int32_t owner) {
  return owner == kNoOwner ? 0 : static_cast<std::intptr_t>(owner);
}

std::string PaddedBuffer(std::string_view initial) {
  std::string buffer(initial);
  buffer.resize(kFileBufferSize, '\0');
  return buffer;
}

}  // namespace

bool ShowOpenDialog(CommonDialogBackend& backend, std::string& fileName, std::string& fileTitle,
                    OpenOptions& options, std::string& filter, std::int32_t& filterIndex,
                    std::string_view initialDir, std::string_view title,
                    std::string_view defaultExt, std::int32_t owner, std::int32_t& flags) {
  const auto cancel = [&] {
    fileName.clear();
    fileTitle.clear();
    filter.clear();
    flags = 0;
    filterIndex = -1;
    return false;
  };
  // The buffers hold 260 characters; a longer initial text would be cut or overrun, so the call
  // is refused before any dialog opens.
  if (fileName.size() > kFileBufferSize || fileTitle.size() > kFileBufferSize) return cancel();

  OpenFileRequest request;
  request.flags = OpenDialogFlags(static_cast<std::uint32_t>(flags), options);
  request.filter = ConvertFilter(filter);
  request.filterIndex = filterIndex;
  request.fileBuffer = PaddedBuffer(fileName);
  request.titleBuffer = PaddedBuffer(fileTitle);
  request.owner = OwnerHandle(owner);
  request.initialDir = initialDir;
  request.title = title;
  request.defaultExt = defaultExt;

  if (backend.RunOpenDialog(request) != 1) return cancel();
  fileName = CutAtNull(request.fileBuffer);
  fileTitle = CutAtNull(request.titleBuffer);
  flags = static_cast<std::int32_t>(request.flags);
  filterIndex = request.filterIndex;
  filter = FilterPair(request.filter, request.filterIndex);
  if (request.flags & kOfnReadOnly) options.Add(OpenOption::kReadOnly);
  return true;
}

bool ShowColorDialog(CommonDialogBackend& backend, std::int32_t& color, bool anyColor,
                     bool fullOpen, bool preventFullOpen, std::int32_t owner) {
  CustomColors& custom = ProcessCustomColors();
  if (!custom.filled) {
    for (int i = 0; i < 16; ++i) custom.colors[static_cast<std::size_t>(i)] = backend.SysColor(i);
    custom.filled = true;
  }
  ColorRequest request;
  request.flags = ColorDialogFlags(anyColor, fullOpen, preventFullOpen);
  request.owner = OwnerHandle(owner);
  request.color = color;
  request.customColors = &custom.colors;
  if (backend.RunColorDialog(request) != 1) {
    color = -1;
    return false;
  }
  color = request.color;
  return true;
}

}  // namespace dbx
