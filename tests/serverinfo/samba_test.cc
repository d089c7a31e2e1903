#include "platform/posix/samba.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#include "support/fake_platform.h"

namespace qvx {
namespace {

std::string DataFile(const std::string& name) {
  std::ifstream in(std::string(QVX_TEST_DATA_DIR) + "/" + name, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

const ServerShare* Find(const std::vector<ServerShare>& v, const std::string& name) {
  for (const auto& s : v)
    if (s.name == name) return &s;
  return nullptr;
}

TEST(SambaConfigTest, SharesOfTheRecordedServer) {
  std::vector<ServerShare> shares = ParseSambaConfig(DataFile("serverinfo_smb.conf"));
  ASSERT_EQ(shares.size(), 3u);
  EXPECT_EQ(shares[0].name, "IPC$");
  EXPECT_EQ(shares[0].type, 3u);
  EXPECT_EQ(shares[1].name, "docs");
  EXPECT_EQ(shares[1].path, "/tmp/qvx-smbd.tal1Mb/share/docs");
  EXPECT_EQ(shares[1].remark, "Project documents");
  EXPECT_EQ(shares[1].type, 0u);
  EXPECT_EQ(shares[2].name, "public");
  EXPECT_EQ(shares[2].path, "/tmp/qvx-smbd.tal1Mb/share/public");
}

TEST(SambaConfigTest, TheDistributionsDefaultConfiguration) {
  // [homes] has no path of its own; commented-out shares are not shares.
  std::vector<ServerShare> shares = ParseSambaConfig(DataFile("serverinfo_debian_smb.conf"));
  EXPECT_EQ(Find(shares, "homes"), nullptr);
  EXPECT_EQ(Find(shares, "global"), nullptr);
  EXPECT_EQ(Find(shares, "profiles"), nullptr);
  const ServerShare* printers = Find(shares, "printers");
  ASSERT_NE(printers, nullptr);
  EXPECT_EQ(printers->type, 1u);
  EXPECT_EQ(printers->path, "/var/tmp");
  const ServerShare* drivers = Find(shares, "print$");
  ASSERT_NE(drivers, nullptr);
  EXPECT_EQ(drivers->path, "/var/lib/samba/printers");
  EXPECT_EQ(drivers->type, 0u);
  EXPECT_EQ(drivers->remark, "Printer Drivers");
}

TEST(SambaConfigTest, SyntaxSambaAccepts) {
  auto shares = ParseSambaConfig(
      "[Data Share]\r\n  Path = /srv/data/ \r\n\tCOMMENT=one \\\n two\r\n"
      "; path = /wrong\r\n[GLOBAL]\npath = /not/a/share\n[q]\ndirectory=/srv/q\nprintable = Yes\n");
  ASSERT_EQ(shares.size(), 3u);
  EXPECT_EQ(shares[1].name, "Data Share");
  EXPECT_EQ(shares[1].path, "/srv/data");
  EXPECT_EQ(shares[1].remark, "one  two");
  EXPECT_EQ(shares[2].path, "/srv/q");
  EXPECT_EQ(shares[2].type, 1u);
}

TEST(SmbstatusTest, SessionsOfTheRecordedServer) {
  std::vector<ServerSession> sessions;
  // 05:35:33 on the day of the recording; the trees were connected at 05:35:31.
  int64_t now = 1796794533;
  ASSERT_TRUE(ParseSmbstatusJson(DataFile("serverinfo_smbstatus.json"), now, &sessions));
  ASSERT_EQ(sessions.size(), 2u);
  std::map<std::string, ServerSession> by_client;
  for (auto& s : sessions) by_client[s.client] = s;
  ASSERT_EQ(by_client.count("10.214.0.2"), 1u);  // a client that gave no name: its address
  ASSERT_EQ(by_client.count("pcwork7"), 1u);     // a client named in its NetBIOS session request
  EXPECT_EQ(by_client["pcwork7"].user, "qvxuser");
  EXPECT_EQ(by_client["10.214.0.2"].time_sec, 2u);
}

// One session with one tree connected at `at`, seen at 05:35:33 UTC on the day of the recording.
unsigned long AgeOfTreeConnectedAt(const std::string& at) {
  std::vector<ServerSession> sessions;
  const std::string doc = R"({"sessions": {"7": {"session_id": "7", "username": "u",
      "remote_machine": "10.0.0.9"}}, "tcons": {"1": {"session_id": "7", "connected_at": ")" +
                          at + R"("}}})";
  EXPECT_TRUE(ParseSmbstatusJson(doc, 1796794533, &sessions));
  return sessions.size() == 1 ? sessions[0].time_sec : 99999;
}

TEST(SmbstatusTest, ConnectionTimesInEveryOffsetFormAndAbsurdOnesIgnored) {
  EXPECT_EQ(AgeOfTreeConnectedAt("2026-12-09T05:35:31.490773+00:00"), 2u);
  EXPECT_EQ(AgeOfTreeConnectedAt("2026-12-09T11:05:31.490773+05:30"), 2u);
  EXPECT_EQ(AgeOfTreeConnectedAt("2026-12-09T11:05:31+0530"), 2u);
  EXPECT_EQ(AgeOfTreeConnectedAt("2026-12-09T00:35:31-05"), 2u);
  EXPECT_EQ(AgeOfTreeConnectedAt("2026-12-09T05:35:31"), 2u);
  // Offsets and fields no clock gives: the tree's time is unknown, so is the session's age.
  EXPECT_EQ(AgeOfTreeConnectedAt("2026-12-09T05:35:31+1073741825:00"), 0u);
  EXPECT_EQ(AgeOfTreeConnectedAt("2026-12-09T05:35:31+24:00"), 0u);
  EXPECT_EQ(AgeOfTreeConnectedAt("2026-12-09T05:35:31+05:99"), 0u);
  EXPECT_EQ(AgeOfTreeConnectedAt("-2147483648-12-09T05:35:31+00:00"), 0u);
  EXPECT_EQ(AgeOfTreeConnectedAt("2026-2147483647-09T05:35:31+00:00"), 0u);
  EXPECT_EQ(AgeOfTreeConnectedAt("2026-12-09T2147483647:35:31+00:00"), 0u);
}

TEST(SmbstatusTest, NoSessionsAndNotJson) {
  std::vector<ServerSession> sessions;
  EXPECT_TRUE(ParseSmbstatusJson(R"({"version": "4.17", "sessions": {}})", 0, &sessions));
  EXPECT_TRUE(sessions.empty());
  EXPECT_TRUE(ParseSmbstatusJson(R"({"version": "4.17"})", 0, &sessions));
  EXPECT_FALSE(ParseSmbstatusJson("Failed to initialize session_global.tdb", 0, &sessions));
  EXPECT_TRUE(ParseSmbstatusJson(
      R"({"sessions": {"1": {"username": "u", "hostname": "ipv4:10.0.0.9:5000"}}})", 0, &sessions));
  ASSERT_EQ(sessions.size(), 1u);
  EXPECT_EQ(sessions[0].client, "10.0.0.9");
  // Seen from smbstatus while a client was still logging on: no user yet.
  const char* logging_on =
      R"js({"sessions": {"2": {"username": "(auth in progress)", "hostname": "ipv4:10.0.0.9:5001"}}})js";
  EXPECT_TRUE(ParseSmbstatusJson(logging_on, 0, &sessions));
  ASSERT_EQ(sessions.size(), 1u);
  EXPECT_EQ(sessions[0].user, "");
}

// Two real clients held handles open while smbstatus -j and tdbdump of the server's table of
// open handles were taken: an SMB2 client two files and the srvsvc pipe, an SMB1 client one file.
// The FileIds and FID each was told are in open_files_clients.txt.
TEST(SmbstatusTest, OpenFilesNamedByTheFileIdsTheClientsWereTold) {
  ServerOpenFiles server;
  ASSERT_TRUE(ParseSambaOpenFiles(DataFile("smbstatus_open_files.json"),
                                  DataFile("smbxsrv_open_global.tdbdump"), &server));
  const std::string docs = "/tmp/qvx-smbd.ChfxI5/share/docs";
  std::map<std::string, ServerOpenFile> by_path;
  for (const auto& f : server.files) by_path[f.path] = f;
  ASSERT_EQ(by_path.size(), 3u);  // the pipe is no file
  const ServerOpenFile& report = by_path[docs + "/report 2026.txt"];
  EXPECT_EQ(report.persistent, 0x60d51471u);
  EXPECT_EQ(report.volatile_id, 0xf14b35b5u);
  EXPECT_TRUE(report.volatile_known);
  EXPECT_EQ(report.share_path, docs);
  const ServerOpenFile& b = by_path[docs + "/sub/b.txt"];
  EXPECT_EQ(b.persistent, 0x10b57766u);
  EXPECT_EQ(b.volatile_id, 0xc0f3a864u);
  // The SMB1 FID is the volatile id, on the connection its session came in on.
  const ServerOpenFile& c = by_path[docs + "/c.txt"];
  EXPECT_EQ(c.volatile_id, 26218u);
  EXPECT_EQ(c.client, "10.214.0.2");
  EXPECT_EQ(c.client_port, 39286u);
  // The SMB2 client's trees by TreeId; the SMB1 one's TID is not among them.
  std::map<uint32_t, std::string> trees;
  for (const auto& t : server.trees) trees[t.tree_id] = t.share;
  EXPECT_EQ(trees, (std::map<uint32_t, std::string>{{1114722480u, "IPC$"}, {1315881591u, "docs"}}));
  // Without the table no open is named; what is not smbstatus's is refused.
  ASSERT_TRUE(ParseSambaOpenFiles(DataFile("smbstatus_open_files.json"), "", &server));
  EXPECT_TRUE(server.files.empty());
  EXPECT_FALSE(ParseSambaOpenFiles("smbd is not running", "", &server));
}

TEST(SambaListTest, TheConfigurationIsReadAgainOnlyWhenItChanges) {
  test::FakePlatform fake;
  std::string conf = fake.Path("smb.conf");
  fake.WriteText(conf, "[a]\npath = /srv/a\n");
  SetSambaConfigPath(conf);
  std::vector<ServerShare> shares;
  ASSERT_TRUE(SambaListShares(&shares));
  ASSERT_EQ(shares.size(), 2u);
  EXPECT_EQ(shares[1].path, "/srv/a");
  fake.WriteText(conf, "[a]\npath = /srv/a\n[bb]\npath = /srv/bb\n");
  ASSERT_TRUE(SambaListShares(&shares));
  EXPECT_EQ(shares.size(), 3u);
  std::filesystem::remove(conf);
  EXPECT_FALSE(SambaListShares(&shares));
  EXPECT_TRUE(shares.empty());
  SetSambaConfigPath("");
  EXPECT_EQ(SambaConfigPath(), kDefaultSambaConfig);
}

TEST(SambaListTest, SessionsFromAFileCachedAndAFailedReadNotRepeatedAtOnce) {
  test::FakePlatform fake;
  std::string file = fake.Path("sessions.json");
  fake.WriteText(file, DataFile("serverinfo_smbstatus.json"));
  SetSambaSessionsFile(file);
  std::vector<ServerSession> sessions;
  ASSERT_TRUE(SambaListSessions(&sessions));
  ASSERT_EQ(sessions.size(), 2u);
  // Within the cache's life the list is not read again, unless the cache is expired.
  fake.WriteText(file, "{\"version\": \"4.17.12\", \"sessions\": {}}");
  ASSERT_TRUE(SambaListSessions(&sessions));
  EXPECT_EQ(sessions.size(), 2u);
  SambaExpireSessions();
  ASSERT_TRUE(SambaListSessions(&sessions));
  EXPECT_TRUE(sessions.empty());
  // A read that fails fails again at once, without another try, even when expired.
  fake.WriteText(file, "not json");
  SambaExpireSessions();
  EXPECT_FALSE(SambaListSessions(&sessions));
  fake.WriteText(file, DataFile("serverinfo_smbstatus.json"));
  SambaExpireSessions();
  EXPECT_FALSE(SambaListSessions(&sessions));
  SetSambaSessionsFile(file);  // a new source is tried at once
  EXPECT_TRUE(SambaListSessions(&sessions));
  EXPECT_EQ(sessions.size(), 2u);
  SetSambaSessionsFile("");
}

}  // namespace
}  // namespace qvx
