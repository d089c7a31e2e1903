#include "serverinfo/disk_spelling.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/platform.h"

namespace qvx {
namespace {

namespace fs = std::filesystem;

class DiskSpellingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = (fs::temp_directory_path() /
             ("qvx-spelling-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed())))
                .string();
    fs::remove_all(root_);
    fs::create_directories(root_ + "/Docs");
    std::ofstream(root_ + "/Docs/Secret.TXT") << "x";
  }
  void TearDown() override { fs::remove_all(root_); }
  std::string Spelled(std::string path, int64_t now_us = 0) {
    spelling_.Correct(platform(), root_, &path, now_us);
    return path;
  }
  std::string root_;
  DiskSpelling spelling_;
};

TEST_F(DiskSpellingTest, APathMissedAsSpelledIsNamedAsOnDisk) {
  EXPECT_EQ(Spelled(root_ + "/docs/SECRET.txt"), root_ + "/Docs/Secret.TXT");
  // A stream keeps its own name; a run of separators names nothing.
  EXPECT_EQ(Spelled(root_ + "/DOCS//secret.txt:Hidden"), root_ + "/Docs/Secret.TXT:Hidden");
  // Spelled as on disk, or matching nothing in any case: as it was.
  EXPECT_EQ(Spelled(root_ + "/Docs/Secret.TXT"), root_ + "/Docs/Secret.TXT");
  EXPECT_EQ(Spelled(root_ + "/docs/gone.txt"), root_ + "/Docs/gone.txt");
  EXPECT_EQ(Spelled(root_ + "/none/a.txt"), root_ + "/none/a.txt");
  EXPECT_EQ(Spelled(root_ + "x/docs/a.txt"), root_ + "x/docs/a.txt");  // not below the root
}

TEST_F(DiskSpellingTest, AFolderIsReadAgainOnceItsListingIsOld) {
  EXPECT_EQ(Spelled(root_ + "/docs/secret.txt", 0), root_ + "/Docs/Secret.TXT");
  std::ofstream(root_ + "/Docs/Later.txt") << "y";
  // Within the listing's life the new entry is not known yet; after it, it is.
  EXPECT_EQ(Spelled(root_ + "/docs/later.txt", 1000), root_ + "/Docs/later.txt");
  EXPECT_EQ(Spelled(root_ + "/docs/later.txt", DiskSpelling::kListingUs + 1),
            root_ + "/Docs/Later.txt");
}

}  // namespace
}  // namespace qvx
