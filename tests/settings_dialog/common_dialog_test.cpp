#include "settings_dialog/common_dialog.h"

#include <gtest/gtest.h>

#include <functional>

namespace dbx {
namespace {

using namespace std::string_literals;

TEST(CommonDialog, ConvertFilterTurnsBarsAndColonsIntoZeros) {
  EXPECT_EQ(ConvertFilter("SWF movie|*.swf"), "SWF movie\0*.swf\0\0"s);
  EXPECT_EQ(ConvertFilter("Movies:*.swf|All:*.*"), "Movies\0*.swf\0All\0*.*\0\0"s);
  EXPECT_EQ(ConvertFilter(""), "\0\0"s);
}

TEST(CommonDialog, FilterPairPicksThePairOfTheIndex) {
  struct Case {
    std::string filter;
    std::int32_t index;
    std::string pair;
  };
  const Case cases[] = {
      {"SWF movie|*.swf", 1, "SWF movie\0*.swf"s},
      {"SWF movie:*.swf", 1, "SWF movie\0*.swf"s},
      {"Movies|*.swf|All files|*.*", 1, "Movies\0*.swf"s},
      {"Movies|*.swf|All files|*.*", 2, "All files\0*.*"s},
      {"Movies|*.swf|All files|*.*", 3, ""},
      {"SWF movie|*.swf", 2, ""},
      {"SWF movie|*.swf", 0, ""},
      {"SWF movie|*.swf", -1, ""},
      {"", 1, ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FilterPair(ConvertFilter(c.filter), c.index), c.pair)
        << c.filter << " index " << c.index;
  }
  // A text that was not converted (no closing zeros) still gives its last pair.
  EXPECT_EQ(FilterPair("a\0b\0c\0d"s, 2), "c\0d"s);
  EXPECT_EQ(FilterPair("no zero at all", 1), "");
}

TEST(CommonDialog, CutAtNullKeepsTheTextBeforeTheFirstZero) {
  EXPECT_EQ(CutAtNull("C:\\a.swf\0\0\0"s), "C:\\a.swf");
  EXPECT_EQ(CutAtNull("\0abc"s), "");
  EXPECT_EQ(CutAtNull("whole"), "whole");
  EXPECT_EQ(CutAtNull(""), "");
}

TEST(CommonDialog, OpenFlagsClearHookAndTemplateAndAddTheArguments) {
  struct Case {
    std::uint32_t caller;
    OpenOptions options;
    std::uint32_t flags;
  };
  using enum OpenOption;
  const Case cases[] = {
      {0, {}, 0},
      {0, kFileMustExist, 0x1000},
      {0, kMultiSelect, 0x200},
      {0, kReadOnly, 0x1},
      {0, kHideReadOnly, 0x4},
      {0x60, {}, 0},
      {0xFFFFFFFF, {}, 0xFFFFFF9F},
      {0x80000, kFileMustExist | kMultiSelect | kReadOnly | kHideReadOnly, 0x81205},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(OpenDialogFlags(c.caller, c.options), c.flags) << std::hex << c.caller;
  }
}

TEST(CommonDialog, ColorFlagsStartAtTheColourAndNeverHookOrTemplate) {
  EXPECT_EQ(ColorDialogFlags(true, false, false), 0x101u);
  EXPECT_EQ(ColorDialogFlags(false, false, false), 0x81u);
  EXPECT_EQ(ColorDialogFlags(true, true, false), 0x103u);
  EXPECT_EQ(ColorDialogFlags(false, false, true), 0x85u);
  for (bool a : {false, true}) {
    for (bool f : {false, true}) {
      for (bool n : {false, true}) EXPECT_EQ(ColorDialogFlags(a, f, n) & 0x30u, 0u);
    }
  }
}

// A system dialog that answers as the test says and records what it was asked.
struct FakeBackend final : CommonDialogBackend {
  std::function<int(OpenFileRequest&)> open = [](OpenFileRequest&) { return 0; };
  std::function<int(ColorRequest&)> color = [](ColorRequest&) { return 0; };
  std::vector<OpenFileRequest> openRequests;
  std::vector<ColorRequest> colorRequests;
  int sysColorCalls = 0;
  int RunOpenDialog(OpenFileRequest& r) override {
    openRequests.push_back(r);
    return open(r);
  }
  int RunColorDialog(ColorRequest& r) override {
    colorRequests.push_back(r);
    return color(r);
  }
  std::int32_t SysColor(int index) override {
    ++sysColorCalls;
    return 0x010101 * index;
  }
};

struct OpenCall {
  std::string fileName = "start.swf", fileTitle = "start", filter = "Movies|*.swf|All|*.*";
  OpenOptions options = OpenOption::kFileMustExist | OpenOption::kHideReadOnly;
  std::int32_t index = 2, flags = 0x20;
  bool Run(FakeBackend& b, std::int32_t owner = kNoOwner) {
    return ShowOpenDialog(b, fileName, fileTitle, options, filter, index, "C:\\dir", "Pick", "swf",
                          owner, flags);
  }
};

TEST(CommonDialog, OpenRequestCarriesTheArgumentsInTheirSystemForm) {
  FakeBackend b;
  OpenCall call;
  call.Run(b);
  call = OpenCall{};
  call.Run(b, 0x1234);
  ASSERT_EQ(b.openRequests.size(), 2u);
  const OpenFileRequest& r = b.openRequests[0];
  EXPECT_EQ(r.owner, 0);
  EXPECT_EQ(b.openRequests[1].owner, 0x1234);
  EXPECT_EQ(r.filter, "Movies\0*.swf\0All\0*.*\0\0"s);
  EXPECT_EQ(r.filterIndex, 2);
  EXPECT_EQ(r.fileBuffer, "start.swf" + std::string(260 - 9, '\0'));
  EXPECT_EQ(r.titleBuffer, "start" + std::string(255, '\0'));
  EXPECT_EQ(r.flags, 0x1004u);
  EXPECT_EQ(r.initialDir, "C:\\dir");
  EXPECT_EQ(r.title, "Pick");
  EXPECT_EQ(r.defaultExt, "swf");
}

TEST(CommonDialog, OpenReturnsTheChoice) {
  FakeBackend b;
  b.open = [](OpenFileRequest& r) {
    r.fileBuffer.replace(0, 13, "C:\\m\\new.swf\0", 13);
    r.titleBuffer.replace(0, 8, "new.swf\0", 8);
    r.filterIndex = 1;
    r.flags |= kOfnReadOnly;
    return 1;
  };
  OpenCall call;
  EXPECT_TRUE(call.Run(b));
  EXPECT_EQ(call.fileName, "C:\\m\\new.swf");
  EXPECT_EQ(call.fileTitle, "new.swf");
  EXPECT_EQ(call.filter, "Movies\0*.swf"s);
  EXPECT_EQ(call.index, 1);
  EXPECT_EQ(call.flags, 0x1005);
  EXPECT_TRUE(call.options.Has(OpenOption::kReadOnly));
  EXPECT_TRUE(call.options.Has(OpenOption::kFileMustExist)) << "the other options stay";
}

TEST(CommonDialog, OpenCancelAndFailureGiveTheCancelValues) {
  for (int result : {0, 2, -1}) {
    FakeBackend b;
    b.open = [result](OpenFileRequest&) { return result; };
    OpenCall call;
    call.options.Add(OpenOption::kReadOnly);
    EXPECT_FALSE(call.Run(b));
    EXPECT_EQ(call.fileName, "");
    EXPECT_EQ(call.fileTitle, "");
    EXPECT_EQ(call.filter, "");
    EXPECT_EQ(call.flags, 0);
    EXPECT_EQ(call.index, -1);
    EXPECT_TRUE(call.options.Has(OpenOption::kReadOnly)) << "left as it was";
  }
}

TEST(CommonDialog, OpenRefusesInitialTextsLongerThanTheBuffer) {
  FakeBackend b;
  OpenCall call;
  call.fileName = std::string(261, 'a');
  EXPECT_FALSE(call.Run(b));
  EXPECT_TRUE(b.openRequests.empty());
  EXPECT_EQ(call.index, -1);
  call = OpenCall{};
  call.fileTitle = std::string(260, 'a');
  call.Run(b);
  EXPECT_EQ(b.openRequests.size(), 1u) << "260 characters still fit";
}

TEST(CommonDialog, ColorCancelGivesMinusOneAndCustomColoursLiveForTheProcess) {
  ProcessCustomColors() = CustomColors{};
  FakeBackend b;
  std::int32_t color = 0x123456;
  EXPECT_FALSE(ShowColorDialog(b, color, true, false, false, kNoOwner));
  EXPECT_EQ(color, -1);
  EXPECT_EQ(b.sysColorCalls, 16);
  ASSERT_EQ(b.colorRequests.size(), 1u);
  EXPECT_EQ(b.colorRequests[0].color, 0x123456);
  EXPECT_EQ(b.colorRequests[0].owner, 0);
  EXPECT_EQ(b.colorRequests[0].flags, 0x101u);
  EXPECT_EQ((*b.colorRequests[0].customColors)[15], 0x0F0F0F);

  // The user changes a custom colour and picks one; the next dialog offers the changed row and
  // the system colours are not read again.
  b.color = [](ColorRequest& r) {
    (*r.customColors)[3] = 0xABCDEF;
    r.color = 0x00FF00;
    return 1;
  };
  color = 0;
  EXPECT_TRUE(ShowColorDialog(b, color, false, true, false, 77));
  EXPECT_EQ(color, 0x00FF00);
  EXPECT_EQ(b.colorRequests[1].owner, 77);
  EXPECT_EQ(b.colorRequests[1].flags, 0x83u);
  b.color = [](ColorRequest& r) {
    EXPECT_EQ((*r.customColors)[3], 0xABCDEF);
    return 0;
  };
  EXPECT_FALSE(ShowColorDialog(b, color, true, false, false, kNoOwner));
  EXPECT_EQ(b.sysColorCalls, 16);
}

}  // namespace
}  // namespace dbx
