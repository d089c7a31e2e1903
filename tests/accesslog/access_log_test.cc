#include "accesslog/access_log.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/tables.h"
#include "base/dbglog.h"
#include "base/option.h"
#include "support/fake_platform.h"

namespace qvx {
namespace {

namespace fs = std::filesystem;

class AccessLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    OptionSetDefaults(&OptionInfo);
    std::snprintf(szLogfileName, sizeof szLogfileName, "%s", fake.Path("k.log").c_str());
    DiagLogLine(DiagLog::kKernel, 0, "start\r\n");
    log = fake.Path("Quorvix.log");
  }
  std::string Kernel() { return fake.Contents(szLogfileName); }
  int Write(const std::string& line) {
    return LogFileAccess(nullptr, LogPath, nullptr, line.c_str(),
                         static_cast<unsigned long>(line.size()), kLogWrite);
  }
  int Make(const std::string& path, int start_log_chg = 0) {
    OptionInfo.LogFileWriteFlg = 1;
    OptionInfo.StartLogChg = start_log_chg;
    std::snprintf(buf, sizeof buf, "%s", path.c_str());
    return LogFileMake(buf, &OptionInfo, nullptr);
  }
  test::FakePlatform fake;
  std::string log;
  char buf[kAccessLogPathSize];
};

TEST_F(AccessLogTest, HeaderIs123Bytes) {
  EXPECT_EQ(sizeof kAccessLogHeader - 1, 123u);
  EXPECT_EQ(std::string(kAccessLogHeader).substr(0, 22), "[Access Time],Action,T");
}

TEST_F(AccessLogTest, ModesOpenWriteReopenAndRename) {
  // 0: open (create) at the end and write.
  ASSERT_EQ(LogFileAccess(nullptr, log.c_str(), nullptr, "a\r\n", 3, kLogOpenWrite), 1);
  // 1: to the open handle.
  ASSERT_EQ(Write("b\r\n"), 1);
  // 2: reopen; nothing written; then appending continues at the end.
  ASSERT_EQ(LogFileAccess(nullptr, log.c_str(), nullptr, "ignored", 7, kLogReopen), 1);
  ASSERT_EQ(Write("c\r\n"), 1);
  EXPECT_EQ(fake.Contents(log), "a\r\nb\r\nc\r\n");
  // 3: the old file takes the new name; a new file starts with the data.
  std::string dated = fake.Path("Quorvix261209102007.log");
  ASSERT_EQ(LogFileAccess(nullptr, log.c_str(), dated.c_str(), "H\r\n", 3, kLogRenameNew), 1);
  ASSERT_EQ(Write("d\r\n"), 1);
  EXPECT_EQ(fake.Contents(dated), "a\r\nb\r\nc\r\n");
  EXPECT_EQ(fake.Contents(log), "H\r\nd\r\n");
}

TEST_F(AccessLogTest, RenameOntoAnExistingNameKeepsBothFiles) {
  std::string taken = fake.Path("taken.log");
  fake.WriteText(taken, "someone else's\r\n");
  ASSERT_EQ(LogFileAccess(nullptr, log.c_str(), nullptr, "old\r\n", 5, kLogOpenWrite), 1);
  EXPECT_EQ(LogFileAccess(nullptr, log.c_str(), taken.c_str(), "H\r\n", 3, kLogRenameNew), 1);
  EXPECT_EQ(fake.Contents(taken), "someone else's\r\n");  // never replaced
  EXPECT_EQ(fake.Contents(log), "old\r\n");  // the old file goes on, without a second header
  EXPECT_NE(Kernel().find("QVX_E11-004 LogFileAccess["), std::string::npos);
}

TEST_F(AccessLogTest, FailuresAreReportedAndReturnZero) {
  std::string bad = fake.Path("no/such/dir/x.log");
  EXPECT_EQ(LogFileAccess(nullptr, bad.c_str(), nullptr, "x", 1, kLogOpenWrite), 0);
  EXPECT_NE(Kernel().find("QVX_E11-001 LogFileAccess["), std::string::npos);
  EXPECT_EQ(Write("lost\r\n"), 0);  // no handle
  EXPECT_NE(Kernel().find("QVX_E11-003 LogFileAccess["), std::string::npos);
  EXPECT_EQ(LogFileAccess(nullptr, bad.c_str(), fake.Path("y").c_str(), "x", 1, kLogRenameNew), 0);
  EXPECT_NE(Kernel().find("QVX_E11-002 LogFileAccess["), std::string::npos);
}

TEST_F(AccessLogTest, OverlappedWritesAppendInOrder) {
  OptionInfo.AsynchronousFlg = 1;
  ASSERT_EQ(LogFileAccess(nullptr, log.c_str(), nullptr, "1\r\n", 3, kLogOpenWrite), 1);
  for (int i = 2; i <= 4; ++i) ASSERT_EQ(Write(std::to_string(i) + "\r\n"), 1);
  EXPECT_EQ(fake.Contents(log), "1\r\n2\r\n3\r\n4\r\n");
}

TEST_F(AccessLogTest, MakeCreatesANewFileWithTheHeaderAndAppendsToAnOldOne) {
  ASSERT_EQ(Make(log), 0);
  EXPECT_EQ(fake.Contents(log), kAccessLogHeader);
  ASSERT_EQ(Write("line\r\n"), 1);
  ASSERT_EQ(Make(log), 0);  // exists: reopened, no second header
  ASSERT_EQ(Write("more\r\n"), 1);
  EXPECT_EQ(fake.Contents(log), std::string(kAccessLogHeader) + "line\r\nmore\r\n");
}

TEST_F(AccessLogTest, MakeWithStartLogChgRenamesToTheDatedName) {
  fake.WriteText(log, "yesterday\r\n");
  ASSERT_EQ(Make(log, 1), 0);
  std::string dated = fake.Path("Quorvix261209102007.log");
  EXPECT_EQ(std::string(buf), dated);
  EXPECT_EQ(fake.Contents(dated), "yesterday\r\n");
  EXPECT_EQ(fake.Contents(log), kAccessLogHeader);
}

TEST_F(AccessLogTest, MakeWithAMissingFolder) {
  std::string path = fake.Path("logs/deep/Quorvix.log");
  std::string folder = fake.Path("logs/deep");
  fake.SetBoxAnswer(kIdCancel);
  EXPECT_EQ(Make(path), 1);
  EXPECT_EQ(OptionInfo.LogFileWriteFlg, 0);
  ASSERT_EQ(fake.boxes().size(), 2u);
  EXPECT_EQ(fake.boxes()[0].text, folder + "  A folder is not found. Does it create? ");
  EXPECT_EQ(fake.boxes()[0].caption, "Log File Setting");
  EXPECT_EQ(fake.boxes()[0].style, unsigned(kMbOkCancel | kMbIconQuestion));
  EXPECT_EQ(fake.boxes()[1].text, "Folder creation was stopped.");
  EXPECT_EQ(fake.boxes()[1].caption, "Log Setting");
  EXPECT_FALSE(fs::exists(folder));

  fake.SetBoxAnswer(kIdOk);
  EXPECT_EQ(Make(path), 0);
  EXPECT_EQ(OptionInfo.LogFileWriteFlg, 1);
  EXPECT_EQ(fake.boxes().back().text, folder + "  The folder was created. ");
  EXPECT_EQ(fake.Contents(path), kAccessLogHeader);
}

TEST_F(AccessLogTest, MakeWithoutAFolderPartOrWithLoggingOff) {
  EXPECT_EQ(Make("Quorvix.log"), 1);
  EXPECT_EQ(OptionInfo.LogFileWriteFlg, 0);
  ASSERT_EQ(fake.boxes().size(), 1u);
  EXPECT_EQ(fake.boxes()[0].text, "Specification of a log file is not right. ");
  OptionInfo.LogFileWriteFlg = 0;
  std::snprintf(buf, sizeof buf, "%s", log.c_str());
  EXPECT_EQ(LogFileMake(buf, &OptionInfo, nullptr), 0);
  EXPECT_FALSE(fs::exists(log));
}

TEST_F(AccessLogTest, StartUpSequenceAndLineWrites) {
  OptionInfo.LogFileWriteFlg = 1;
  std::snprintf(OptionInfo.LogFilePath, sizeof OptionInfo.LogFilePath, "%s", log.c_str());
  QVX_AccessLogStartUp(nullptr);
  EXPECT_STREQ(LogPathBase, log.c_str());
  EXPECT_STREQ(szAccessLogfileName, log.c_str());
  EXPECT_NE(Kernel().find("QVX_I02-003 QVX_Dlg_Proc["), std::string::npos);
  ASSERT_EQ(QVX_AccessLogWrite("[2026/12/09 10:20:07],access\r\n", 30), 1);
  QVX_AccessLogClose();
  EXPECT_EQ(fake.Contents(log), std::string(kAccessLogHeader) + "[2026/12/09 10:20:07],access\r\n");
}

TEST_F(AccessLogTest, StartUpSaysWhyTheAccessLogCannotBeHad) {
  auto start = [&](const std::string& path, int on) {
    OptionInfo.LogFileWriteFlg = on;
    std::snprintf(OptionInfo.LogFilePath, sizeof OptionInfo.LogFilePath, "%s", path.c_str());
    QVX_AccessLogStartUp(nullptr);
    return QVX_AccessLogStartUpProblem();
  };
  const std::string folder = fake.Path("logs.d");
  fs::create_directory(folder);
  EXPECT_EQ(start(folder, 1), folder + ": it is a folder");
  EXPECT_EQ(OptionInfo.LogFileWriteFlg, 0);
  const std::string file = fake.Path("plain");
  fake.WriteText(file, "x");
  const std::string under = fake.Path("plain/deeper/Quorvix.log");
  EXPECT_EQ(start(under, 1), under + ": " + file + " is a file, not a folder");
  EXPECT_FALSE(fs::is_directory(file));
  // With the access log off the path is not used, so nothing stands in the way.
  EXPECT_EQ(start(folder, 0), "");
  // A good path after a bad one leaves no problem behind.
  EXPECT_EQ(start(log, 1), "");
  EXPECT_EQ(OptionInfo.LogFileWriteFlg, 1);
  QVX_AccessLogClose();
  EXPECT_EQ(QVX_PathProblem(log.c_str()), "");
}

TEST_F(AccessLogTest, LogFileSelectTwoWritesEveryLineThroughTheCLibraryWriter) {
  OptionInfo.LogFileWriteFlg = 1;
  OptionInfo.LogFileSelect = 2;
  // A "%" in the path is a plain character, not a format.
  std::string odd = fake.Path("100%s.log");
  std::snprintf(OptionInfo.LogFilePath, sizeof OptionInfo.LogFilePath, "%s", odd.c_str());
  QVX_AccessLogStartUp(nullptr);
  EXPECT_STREQ(szAccessLogfileName, odd.c_str());
  EXPECT_EQ(hExistingFile, nullptr);
  ASSERT_EQ(QVX_AccessLogWrite("one\r\n", 5), 1);
  ASSERT_EQ(QVX_AccessLogWrite("100% two\r\n", 10), 1);
  // Flushed at once: readable before the stream closes.
  EXPECT_EQ(fake.Contents(odd), std::string(kAccessLogHeader) + "one\r\n100% two\r\n");
  QVX_AccessLogClose();
}

TEST_F(AccessLogTest, NothingIsWrittenWhileLoggingIsOff) {
  OptionInfo.LogFileWriteFlg = 0;
  std::snprintf(OptionInfo.LogFilePath, sizeof OptionInfo.LogFilePath, "%s", log.c_str());
  QVX_AccessLogStartUp(nullptr);
  EXPECT_STREQ(LogPathBase, log.c_str());  // the viewer still knows where the log is
  EXPECT_EQ(QVX_AccessLogWrite("x\r\n", 3), 0);
  EXPECT_FALSE(fs::exists(log));
}

TEST_F(AccessLogTest, DatedNames) {
  char p[kAccessLogPathSize];
  fake.SetNow(2013, 5, 1, 0, 10, 0);
  std::snprintf(p, sizeof p, "D:/log/access.log");
  FileNameAddDate(p);
  EXPECT_STREQ(p, "D:/log/access130501001000.log");
  std::snprintf(p, sizeof p, "/var/log.d/access");
  FileNameAddDate(p);
  EXPECT_STREQ(p, "/var/log.d/access130501001000");
  char folder[kAccessLogPathSize];
  PathRemoveFileSpecText("/var/log/q.log", folder, sizeof folder);
  EXPECT_STREQ(folder, "/var/log");
  PathRemoveFileSpecText("q.log", folder, sizeof folder);
  EXPECT_STREQ(folder, "");
}

TEST(AccessLogFieldTest, QuotedPathsDoubleTheirQuotes) {
  OptionSetDefaults(&OptionInfo);
  char out[32];
  EXPECT_STREQ(QVX_PathField("a\"b.txt", out, sizeof out), "a\"b.txt");
  OptionInfo.PathDubileCorteSet = 1;
  EXPECT_STREQ(QVX_PathField("a\"b\".txt", out, sizeof out), "\"a\"\"b\"\".txt\"");
  EXPECT_STREQ(QVX_PathField("", out, sizeof out), "\"\"");
  // Cut inside the buffer, the closing quote kept and no quote left single.
  char small[8];
  EXPECT_STREQ(QVX_PathField("abc\"def", small, sizeof small), "\"abc\"\"\"");
  EXPECT_STREQ(QVX_PathField("abcd\"ef", small, sizeof small), "\"abcd\"");
  OptionSetDefaults(&OptionInfo);
}

}  // namespace
}  // namespace qvx
