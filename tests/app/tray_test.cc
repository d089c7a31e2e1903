#include "app/tray.h"

#include <gtest/gtest.h>

#include <string>

#include "accesslog/access_log.h"
#include "app/controller.h"
#include "app/startup.h"
#include "base/dbglog.h"
#include "base/option.h"
#include "support/fake_platform.h"
#include "support/recording_view.h"

namespace qvx {
namespace {

class TrayTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(QVX_StartUp(0, nullptr));
    ASSERT_TRUE(QVX_OnInitDialog(view));
  }
  void TearDown() override {
    if (QVX_View()) QVX_OnClose();
  }
  void DoubleClick() { QVX_OnTrayMouse(kTrayLButtonDblClk); }

  test::FakePlatform fake;
  test::RecordingView view;
};

// Every way of hiding the window leaves one that a double click brings back, and a second double
// click hides it again.
TEST_F(TrayTest, DoubleClickShowsTheWindowAfterEachWayOfHidingIt) {
  ASSERT_TRUE(view.shown);
  // The tray menu's "Window Down".
  QVX_OnTrayCommand(kIdmTrayWindowDown);
  EXPECT_FALSE(view.shown);
  DoubleClick();
  EXPECT_TRUE(view.shown);
  // The main menu's "Task Tray Icon Input".
  QVX_OnCommand(kIdmTrayIconInput);
  EXPECT_FALSE(view.shown);
  DoubleClick();
  EXPECT_TRUE(view.shown);
  // The capture thread's hide (private message 0x8066).
  QVX_OnToTray();
  EXPECT_FALSE(view.shown);
  DoubleClick();
  EXPECT_TRUE(view.shown);
  // A double click itself, twice over.
  DoubleClick();
  EXPECT_FALSE(view.shown);
  DoubleClick();
  EXPECT_TRUE(view.shown);
  // "Window Up" on a shown window leaves it shown; a double click then hides it.
  QVX_OnTrayCommand(kIdmTrayWindowUp);
  EXPECT_TRUE(view.shown);
  DoubleClick();
  EXPECT_FALSE(view.shown);
  QVX_OnTrayCommand(kIdmTrayWindowUp);
  EXPECT_TRUE(view.shown);
  EXPECT_GE(view.fronted, 4);  // shown windows come to the front
}

TEST_F(TrayTest, RightButtonShowsTheMenuAndItsCommandsAct) {
  QVX_OnTrayMouse(kTrayRButtonDown);
  EXPECT_EQ(view.tray_menus, 1);
  QVX_OnTrayMouse(0x0205);  // button up: nothing
  QVX_OnTrayMouse(0x0201);  // a single left click: nothing
  EXPECT_EQ(view.tray_menus, 1);
  EXPECT_TRUE(view.shown);

  QVX_OnTrayCommand(kIdmTrayOption);
  ASSERT_EQ(view.dialogs.size(), 1u);
  EXPECT_EQ(view.dialogs[0], kDlgOption);
  EXPECT_FALSE(view.close_posted);
  QVX_OnTrayCommand(kIdmTrayEnd);
  EXPECT_TRUE(view.close_posted);
}

TEST_F(TrayTest, LogViewerFallsBackToNotepadThenReports) {
  const size_t boxes = fake.boxes().size();
  view.shell_result = 2;
  QVX_OnTrayCommand(kIdmTrayLogViewer);
  ASSERT_EQ(view.ran.size(), 1u);
  EXPECT_EQ(view.ran[0], std::string("NOTEPAD ") + LogPathBase);
  EXPECT_EQ(fake.boxes().size(), boxes);  // Notepad opened it

  view.run_result = 0;
  QVX_OnTrayCommand(kIdmTrayLogViewer);
  ASSERT_EQ(fake.boxes().size(), boxes + 1);
  EXPECT_EQ(fake.boxes().back().text, "A log file does not open.:Error Code=0");
  EXPECT_EQ(fake.boxes().back().caption, "Error");
  bool line = false;
  for (const auto& l : fake.Lines(szLogfileName))
    line |= l.rfind("QVX_E14-001 SmallIconMenuProc[", 0) == 0 &&
            l.find("] : ログファイルが開けません:エラー コード = 0") != std::string::npos;
  EXPECT_TRUE(line);
}

// After the shell restarts, the icon comes back only when it was up.
TEST_F(TrayTest, TaskbarRestartAddsTheIconAgainWhenItWasUp) {
  ASSERT_EQ(OptionInfo.TrayIconFlg, 1);  // StartTask defaults to 1
  view.tray_icon = false;                // the old shell took it along
  QVX_OnTaskbarCreated();
  EXPECT_TRUE(view.tray_icon);
  QVX_OnCommand(kIdmTrayIconDel);
  QVX_OnTaskbarCreated();
  EXPECT_FALSE(view.tray_icon);
}

}  // namespace
}  // namespace qvx
