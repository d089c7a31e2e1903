// The Linux platform against the real file system: what a stat tells, and what a failure says.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/platform.h"
#include "platform/status.h"

namespace qvx {
namespace {

namespace fs = std::filesystem;

class PosixPlatformTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/qvx-posix-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    dir = tmpl;
  }
  void TearDown() override { fs::remove_all(dir); }
  std::string Write(const std::string& name, const std::string& text) {
    const std::string path = dir + "/" + name;
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }
  Platform& p = NativePlatform();
  std::string dir;
};

TEST_F(PosixPlatformTest, FileFactsAreTheFileSystemsOwn) {
  const time_t before = std::time(nullptr);
  const std::string file = Write("a.txt", "12345");
  FileInfo fi;
  ASSERT_TRUE(p.GetFileInfo(file, &fi).ok());
  EXPECT_FALSE(fi.is_directory);
  EXPECT_EQ(fi.size, 5u);
  EXPECT_GE(fi.last_write, before - 1);
  // The birth time, or the change time where the file system keeps none: never zero or later
  // than now.
  EXPECT_GE(fi.creation, before - 1);
  EXPECT_LE(fi.creation, std::time(nullptr) + 1);
  ASSERT_TRUE(p.GetFileInfo(dir, &fi).ok());
  EXPECT_TRUE(fi.is_directory);
  EXPECT_EQ(fi.size, 0u);
}

// Only a regular file may be opened for reading without the risk of waiting for ever: the kind
// tells the others apart, through a link as open() would follow it.
TEST_F(PosixPlatformTest, KindTellsFilesFromFifosDevicesAndFolders) {
  FileInfo fi;
  ASSERT_TRUE(p.GetFileInfo(Write("plain", "x"), &fi).ok());
  EXPECT_EQ(fi.kind, FileKind::kRegular);
  ASSERT_TRUE(p.GetFileInfo(dir, &fi).ok());
  EXPECT_EQ(fi.kind, FileKind::kDirectory);
  const std::string fifo = dir + "/frames.fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  ASSERT_TRUE(p.GetFileInfo(fifo, &fi).ok());
  EXPECT_EQ(fi.kind, FileKind::kFifo);
  EXPECT_FALSE(fi.is_directory);
  ASSERT_EQ(::symlink(fifo.c_str(), (dir + "/to-fifo").c_str()), 0);
  ASSERT_TRUE(p.GetFileInfo(dir + "/to-fifo", &fi).ok());
  EXPECT_EQ(fi.kind, FileKind::kFifo);
  ASSERT_TRUE(p.GetFileInfo("/dev/null", &fi).ok());
  EXPECT_EQ(fi.kind, FileKind::kDevice);
}

TEST_F(PosixPlatformTest, FailuresCarryTheirKindErrorNumberAndPath) {
  FileInfo fi;
  const Status missing = p.GetFileInfo(dir + "/gone", &fi);
  EXPECT_TRUE(missing.IsNotFound());
  EXPECT_EQ(missing.os_error(), ENOENT);
  EXPECT_EQ(missing.path(), dir + "/gone");
  EXPECT_EQ(missing.ToString(),
            dir + "/gone: " + std::strerror(ENOENT) + " (error " + std::to_string(ENOENT) + ")");
  // Through a file taken for a folder: not there either.
  const std::string file = Write("f", "x");
  EXPECT_TRUE(p.GetFileInfo(file + "/x", &fi).IsNotFound());
  // A name too long for any file system names nothing that is there.
  const Status long_name = p.GetFileInfo(dir + "/" + std::string(300, 'n'), &fi);
  EXPECT_TRUE(long_name.IsNotFound());
  EXPECT_EQ(long_name.os_error(), ENAMETOOLONG);
  // A link loop is no missing file: an I/O error, never "not found".
  ASSERT_EQ(::symlink((dir + "/loop").c_str(), (dir + "/loop").c_str()), 0);
  EXPECT_EQ(p.GetFileInfo(dir + "/loop", &fi).os_error(), ELOOP);
  EXPECT_FALSE(p.GetFileInfo(dir + "/loop", &fi).IsNotFound());
  EXPECT_EQ(Status().ToString(), "OK");
}

TEST_F(PosixPlatformTest, RefusalsForRightsAreDenied) {
  EXPECT_TRUE(StatusOfOsError("/x", EACCES).IsDenied());
  EXPECT_TRUE(StatusOfOsError("/x", EPERM).IsDenied());
  EXPECT_TRUE(StatusOfOsError("/x", ENOTDIR).IsNotFound());
  EXPECT_EQ(StatusOfOsError("/x", EIO).kind(), Status::Kind::kIoError);
  // Really refused where the test does not run with every right (root reads any folder).
  if (::geteuid() == 0) return;
  const std::string locked = dir + "/locked";
  ASSERT_EQ(::mkdir(locked.c_str(), 0), 0);
  FileInfo fi;
  const Status s = p.GetFileInfo(locked + "/f", &fi);
  ::chmod(locked.c_str(), 0700);
  EXPECT_TRUE(s.IsDenied());
  EXPECT_EQ(s.os_error(), EACCES);
}

TEST_F(PosixPlatformTest, IdentitySeesTheSameFileUnderAnotherName) {
  const std::string a = Write("a", "x");
  const std::string b = dir + "/b";
  ASSERT_EQ(::link(a.c_str(), b.c_str()), 0);
  FileIdentity ia, ib, ic;
  ASSERT_TRUE(p.PathIdentity(a, &ia).ok());
  ASSERT_TRUE(p.PathIdentity(b, &ib).ok());
  EXPECT_TRUE(ia.SameFile(ib));
  EXPECT_EQ(ia.links, 2u);
  ASSERT_TRUE(p.PathIdentity(Write("c", "x"), &ic).ok());
  EXPECT_FALSE(ia.SameFile(ic));
  EXPECT_TRUE(p.PathIdentity(dir + "/none", &ic).IsNotFound());
}

TEST_F(PosixPlatformTest, WritableFilesAppendTruncateAndKnowTheirSize) {
  const std::string path = dir + "/w.log";
  {
    auto f = p.OpenWritable(path, OpenMode::kCreateAlways);
    ASSERT_TRUE(f);
    ASSERT_TRUE(f->Write("abc", 3, false));
    ASSERT_TRUE(f->Flush());
  }
  {
    auto f = p.OpenWritable(path, OpenMode::kAppend);
    ASSERT_TRUE(f);
    ASSERT_TRUE(f->Write("de", 2, false));
    uint64_t size = 0;
    ASSERT_TRUE(f->Size(&size));
    EXPECT_EQ(size, 5u);
    ASSERT_TRUE(f->Truncate(4));
    ASSERT_TRUE(f->Size(&size));
    EXPECT_EQ(size, 4u);
  }
  std::string text;
  ASSERT_TRUE(p.ReadWholeFile(path, &text));
  EXPECT_EQ(text, "abcd");
  EXPECT_TRUE(p.RenameFile(path, dir + "/x.log"));
  EXPECT_FALSE(p.FileExists(path));
  EXPECT_TRUE(p.RemoveFile(dir + "/x.log"));
  EXPECT_TRUE(p.MakeSureDirectoryPathExists(dir + "/a/b/c/"));
  EXPECT_TRUE(p.IsDirectory(dir + "/a/b/c"));
}

}  // namespace
}  // namespace qvx
