// The tables of sessions and trees with a fake platform, the access log and (optionally) the
// main window: shared by the tests of the tables, of the tree look-up and of the periodic work.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "accesslog/access_log.h"
#include "app/controller.h"
#include "app/listview.h"
#include "app/tables.h"
#include "base/dbglog.h"
#include "base/option.h"
#include "filters/exclusion.h"
#include "serverinfo/server_info.h"
#include "support/capture_context.h"
#include "support/fake_platform.h"
#include "support/recording_view.h"
#include "tracking/session_tree.h"

namespace qvx {
namespace test {

// The first 24 bytes of an IPv4/TCP datagram: what the tables read of a frame.
inline std::vector<unsigned char> Frame(const char* src, const char* dst, int sport = 50000,
                                        int dport = 445) {
  std::vector<unsigned char> f(64, 0);
  f[0] = 0x45;
  unsigned a, b, c, d;
  std::sscanf(src, "%u.%u.%u.%u", &a, &b, &c, &d);
  f[12] = a, f[13] = b, f[14] = c, f[15] = d;
  std::sscanf(dst, "%u.%u.%u.%u", &a, &b, &c, &d);
  f[16] = a, f[17] = b, f[18] = c, f[19] = d;
  f[20] = sport >> 8, f[21] = sport & 0xff, f[22] = dport >> 8, f[23] = dport & 0xff;
  return f;
}

inline ServerSession Session(const char* client, const char* user) {
  ServerSession s;
  s.client = client;
  s.user = user;
  return s;
}

class SessionTreeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    log_ = test::StartTablesWithAccessLog(fake);
    ASSERT_FALSE(log_.empty());
    OptionInfo.ServiceTaskWait = 0;
    data.SMBVersion = 2;
    data.SMBCommand = 5;
    data.SMBCmdListFlg = 0;
    std::snprintf(data.ClientMac, sizeof data.ClientMac, "00:00:00:00:00:05");
    std::snprintf(data.ServerMac, sizeof data.ServerMac, "00:00:00:00:00:01");
    data.NextSessionChkTime = 0;
    run_.TakeOptions();
  }
  void TearDown() override {
    if (QVX_View()) QVX_OnClose();
    hExistingFile.reset();
    QVX_FreeTables();
    ExclusionInfoDataNo = 0;
  }
  // The main window with its list view the rows go to; the access log is opened again after it
  // (Windows refuses a second writer of the same file) and written.
  void WithListView() {
    ASSERT_TRUE(QVX_OnInitDialog(view));
    hExistingFile.reset();
    hExistingFile = platform().OpenWritable(log_, OpenMode::kCreateAlways);
    ASSERT_TRUE(hExistingFile);
    std::snprintf(LogPath, sizeof LogPath, "%s", log_.c_str());
    OptionInfo.LogFileWriteFlg = 1;
  }
  // A share whose folder is dir under the test folder (created).
  ServerShare Share(const std::string& name, const std::string& dir) {
    std::string path = fake.dir() + dir;
    platform().MakeSureDirectoryPathExists(path + kPathSep);
    return ServerShare{name, path, "", 0};
  }
  void MakeFile(const std::string& rel) {
    std::string p = fake.dir() + rel;
    for (char& c : p)
      if (c == '/') c = kPathSep;
    platform().MakeSureDirectoryPathExists(p);
    fake.WriteText(p, "x");
  }
  void LoadShares(std::vector<ServerShare> shares) {
    fake.SetShares(std::move(shares));
    NetShareInfoDataNo = QVX_NetShare_NT(NetWkShareInfo, OptionInfo.NetWkInfoCnt, nullptr);
  }
  std::vector<std::string> LogLines() {
    hExistingFile->Flush();
    return fake.Lines(log_);
  }
  static std::string Sep() { return std::string(1, kPathSep); }
  // The handlers' DATA with the connection of request f (made by Frame) as the one being
  // handled, as the capture loop sets it.
  DATA* At(const std::vector<unsigned char>& f) {
    ConnectionEnds& e = run_->ends;
    e.client = IpAddress::V4(f.data() + 12);
    e.server = IpAddress::V4(f.data() + 16);
    e.client_port = static_cast<uint16_t>(f[20] << 8 | f[21]);
    e.server_port = static_cast<uint16_t>(f[22] << 8 | f[23]);
    return &data;
  }

  test::FakePlatform fake;
  // The capture run the handlers and the clean-up belong to, data's context.
  test::TestCaptureContext run_{data};
  test::RecordingView view;
  std::string log_;
};

}  // namespace test
}  // namespace qvx
