#include "app/startup.h"

#include <gtest/gtest.h>

#include <string>

#include "app/controller.h"
#include "base/dbglog.h"
#include "support/fake_platform.h"
#include "support/recording_view.h"

namespace qvx {
namespace {

std::string Sep() { return std::string(1, kPathSep); }

TEST(StartUp, NoArgumentsNamesTheThreeLogsByTheStartSecond) {
  test::FakePlatform fake;
  fake.SetNow(2026, 3, 14, 9, 30, 7);
  ASSERT_TRUE(QVX_StartUp(0, nullptr));
  EXPECT_EQ(ChangeDayValue, 14);
  EXPECT_EQ(std::string(szLogfileName), fake.Path("QVXkernel" + Sep() + "QVXkernel7.log"));
  EXPECT_EQ(std::string(szLogfileName1), fake.Path("QVXkernel" + Sep() + "QVXdbg7.log"));
  EXPECT_EQ(std::string(szLogfileName2), fake.Path("QVXkernel" + Sep() + "QVXevent7.log"));
  EXPECT_TRUE(platform().IsDirectory(fake.Path("QVXkernel")));
  EXPECT_STREQ(szCmdLineOpt, "");
}

TEST(StartUp, SecondArgumentIsTheKernelLogInNewFolders) {
  test::FakePlatform fake;
  std::string kernel = fake.Path("a" + Sep() + "b" + Sep() + "k.log");
  const char* argv[] = {"SC", kernel.c_str()};
  ASSERT_TRUE(QVX_StartUp(2, argv));
  EXPECT_EQ(std::string(szLogfileName), kernel);
  EXPECT_TRUE(platform().IsDirectory(fake.Path("a" + Sep() + "b")));
  EXPECT_EQ(std::string(szLogfileName1), fake.Path("QVXkernel" + Sep() + "QVXdbg7.log"));
  EXPECT_STREQ(szCmdLineOpt, "SC");
}

TEST(StartUp, FolderThatCannotBeMadeFallsBackBesideTheExecutable) {
  test::FakePlatform fake;
  fake.WriteText(fake.Path("QVXkernel"), "a file where the folder should be");
  ASSERT_TRUE(QVX_StartUp(0, nullptr));
  EXPECT_EQ(std::string(szLogfileName), fake.Path("QVXkernel.log"));
  EXPECT_EQ(std::string(szLogfileName1), fake.Path("QVXdbg.log"));
  EXPECT_EQ(std::string(szLogfileName2), fake.Path("QVXevent.log"));
}

TEST(StartUp, NoExecutablePathShowsTheBoxAndEnds) {
  test::FakePlatform fake;
  fake.SetExecutablePath("");
  EXPECT_FALSE(QVX_StartUp(0, nullptr));
  ASSERT_EQ(fake.boxes().size(), 1u);
  EXPECT_EQ(fake.boxes()[0].text, "Start-UP Folder Make Error");
  EXPECT_EQ(fake.boxes()[0].caption, "Quorvix");
}

// "SC" is compared exactly: "sc" shows boxes, "SC" suppresses them.
TEST(StartUp, OnlyUpperCaseScSuppressesBoxes) {
  for (const char* opt : {"sc", "SC"}) {
    test::FakePlatform fake;
    const char* argv[] = {opt};
    ASSERT_TRUE(QVX_StartUp(1, argv));
    test::RecordingView view;
    view.list_ok = false;  // forces the "List display setting failure" box
    EXPECT_FALSE(QVX_OnInitDialog(view));
    bool box = false;
    for (const auto& b : fake.boxes()) box |= b.text == "List display setting failure";
    EXPECT_EQ(box, std::string(opt) == "sc") << opt;
    EXPECT_TRUE(view.ended);
    QVX_OnClose();
  }
}

}  // namespace
}  // namespace qvx
