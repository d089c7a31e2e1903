// Frames as the capture loop hands them to a handler (IPv4 + TCP + NetBIOS length + SMB header +
// body), and a fixture with the tables, a share and an access log on the fake platform.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "accesslog/access_log.h"
#include "app/controller.h"
#include "app/tables.h"
#include "base/dbglog.h"
#include "base/ip_address.h"
#include "base/option.h"
#include "filters/exclusion.h"
#include "serverinfo/server_info.h"
#include "support/capture_context.h"
#include "support/fake_platform.h"
#include "tracking/access_data.h"
#include "tracking/session_tree.h"
#include "wire/smb_header.h"

namespace qvx::test {

inline constexpr const char* kClient = "10.0.0.5";
inline constexpr const char* kServer = "10.0.0.1";
inline constexpr int kClientPort = 50123;

// ASCII (or UTF-8 BMP) text as UTF-16LE without a terminator.
inline std::vector<unsigned char> Utf16(const std::string& s) {
  std::vector<unsigned char> out;
  for (size_t i = 0; i < s.size();) {
    unsigned c = static_cast<unsigned char>(s[i]);
    unsigned cp;
    if (c < 0x80) {
      cp = c;
      i += 1;
    } else if ((c & 0xE0) == 0xC0) {
      cp = (c & 0x1F) << 6 | (s[i + 1] & 0x3F);
      i += 2;
    } else {
      cp = (c & 0x0F) << 12 | (s[i + 1] & 0x3F) << 6 | (s[i + 2] & 0x3F);
      i += 3;
    }
    out.push_back(cp & 0xFF);
    out.push_back(cp >> 8);
  }
  return out;
}

inline void Put16(std::vector<unsigned char>& v, size_t at, unsigned x) {
  v[at] = x & 0xFF;
  v[at + 1] = (x >> 8) & 0xFF;
}
inline void Put32(std::vector<unsigned char>& v, size_t at, uint32_t x) {
  for (int i = 0; i < 4; ++i) v[at + i] = (x >> (8 * i)) & 0xFF;
}
inline void Put64(std::vector<unsigned char>& v, size_t at, uint64_t x) {
  for (int i = 0; i < 8; ++i) v[at + i] = (x >> (8 * i)) & 0xFF;
}

// One message as the handlers read it, with its SMB header copy, cursor and connection. bytes may
// hold more than Len (bytes that a handler must not read).
struct Frame {
  std::vector<unsigned char> bytes;
  ConnectionEnds ends;  // the connection the capture loop hands on with it
  unsigned long Len = 0;
  long cursor = 0;  // 1-based: bytes[cursor - 1] is the first body byte
  SMB2_HEADER_ST smb2{};
  SMB_HEADER_ST smb1{};
  unsigned char* data() { return bytes.data(); }
};

// The connection of client:port to the server on 445.
inline ConnectionEnds Ends(const char* client = kClient, int port = kClientPort,
                           const char* server = kServer) {
  ConnectionEnds e;
  ParseIpAddress(client, &e.client);
  ParseIpAddress(server, &e.server);
  e.client_port = static_cast<uint16_t>(port);
  e.server_port = 445;
  return e;
}

inline std::vector<unsigned char> IpTcp(const char* src, const char* dst, int sport, int dport) {
  std::vector<unsigned char> f(20 + 20 + 4, 0);
  f[0] = 0x45;
  f[9] = 6;
  unsigned a, b, c, d;
  std::sscanf(src, "%u.%u.%u.%u", &a, &b, &c, &d);
  f[12] = a, f[13] = b, f[14] = c, f[15] = d;
  std::sscanf(dst, "%u.%u.%u.%u", &a, &b, &c, &d);
  f[16] = a, f[17] = b, f[18] = c, f[19] = d;
  f[20] = sport >> 8, f[21] = sport & 0xff, f[22] = dport >> 8, f[23] = dport & 0xff;
  f[32] = 0x50;  // TCP header length 20
  return f;
}

struct Smb2Ids {
  uint64_t message_id = 1;
  uint32_t tree_id = 0;
  uint64_t session_id = 0x0000123400005678ULL;
};

// An SMB2 request (client to server) or response (server to client) carrying body.
inline Frame Smb2(uint16_t command, const Smb2Ids& ids, const std::vector<unsigned char>& body,
                  bool response = false) {
  Frame fr;
  fr.bytes = response ? IpTcp(kServer, kClient, 445, kClientPort)
                      : IpTcp(kClient, kServer, kClientPort, 445);
  fr.ends = Ends();
  const size_t h = fr.bytes.size();
  fr.bytes.resize(h + 64, 0);
  fr.bytes[h] = 0xFE, fr.bytes[h + 1] = 'S', fr.bytes[h + 2] = 'M', fr.bytes[h + 3] = 'B';
  Put16(fr.bytes, h + 4, 64);
  Put16(fr.bytes, h + 12, command);
  if (response) Put32(fr.bytes, h + 16, 1);
  Put64(fr.bytes, h + 24, ids.message_id);
  Put32(fr.bytes, h + 36, ids.tree_id);
  Put64(fr.bytes, h + 40, ids.session_id);
  std::memcpy(&fr.smb2, fr.bytes.data() + h, 64);
  fr.bytes.insert(fr.bytes.end(), body.begin(), body.end());
  fr.Len = fr.bytes.size();
  fr.cursor = static_cast<long>(h + 64 + 1);
  Put16(fr.bytes, 2, static_cast<unsigned>(fr.Len));
  return fr;
}

// TREE_CONNECT request body: StructureSize 9, the path right after the 8 fixed bytes.
inline std::vector<unsigned char> TreeConnectBody(const std::string& path, long path_length = -1) {
  std::vector<unsigned char> name = Utf16(path);
  std::vector<unsigned char> b(8, 0);
  Put16(b, 0, 9);
  Put16(b, 4, 64 + 8);
  Put16(b, 6,
        path_length < 0 ? static_cast<unsigned>(name.size()) : static_cast<unsigned>(path_length));
  for (unsigned char c : name) b.push_back(c);
  return b;
}

// CREATE request body: the 56 fixed bytes, then the name.
inline std::vector<unsigned char> CreateBody(uint32_t desired, uint32_t options,
                                             const std::vector<unsigned char>& name,
                                             long name_length = -1) {
  std::vector<unsigned char> b(56, 0);
  Put16(b, 0, 57);
  Put32(b, 24, desired);
  Put32(b, 40, options);
  Put16(b, 44, 64 + 56);
  Put16(b, 46,
        name_length < 0 ? static_cast<unsigned>(name.size()) : static_cast<unsigned>(name_length));
  b.insert(b.end(), name.begin(), name.end());
  return b;
}

class HandlerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    log_ = StartTablesWithAccessLog(fake);
    ASSERT_FALSE(log_.empty());
    nAccessKindFlg = 3;
    data.SMBVersion = 2;
    data.SMBCmdListFlg = 0;
    std::snprintf(data.ClientMac, sizeof data.ClientMac, "cc:cc:cc:cc:cc:05");
    std::snprintf(data.ServerMac, sizeof data.ServerMac, "ss:ss:ss:ss:ss:01");
    ServerSession s;
    s.client = kClient;
    s.user = "alice";
    fake.SetSessions({s});
    // The share "data" is the folder share_dir(); no file exists until a test says so.
    share_dir_ = fake.dir() + "data";
    ServerShare sh;
    sh.name = "data";
    sh.path = share_dir_;
    fake.SetShares({sh});
    NetShareInfoDataNo = QVX_NetShare_NT(NetWkShareInfo, OptionInfo.NetWkInfoCnt, nullptr);
    run_.TakeOptions();
  }
  void TearDown() override {
    hExistingFile.reset();
    QVX_FreeTables();
    ExclusionInfoDataNo = 0;
    nAccessKindFlg = 0;
    OptionSetDefaults(&OptionInfo);
  }
  // The local path of a share-relative request path (backslashes as sent).
  std::string Local(std::string rel) const {
    for (char& c : rel)
      if (c == '\\') c = kPathSep;
    return share_dir_ + kPathSep + rel;
  }
  // A file of the share with time stamps relative to the fake clock.
  void SetFile(const std::string& rel, int64_t created_ago, int64_t written_ago, uint64_t size,
               bool folder = false) {
    FileInfo fi;
    fi.is_directory = folder;
    fi.size = folder ? 0 : size;
    const int64_t now = platform().Now().t;
    fi.creation = now - created_ago;
    fi.last_write = now - written_ago;
    fi.last_access = now;
    fake.SetFileInfo(Local(rel), fi);
  }
  // A tree connected in slot with TreeId tid on \\10.0.0.1\data.
  void ConnectedTree(int slot, uint32_t tid, const char* share = "\\\\10.0.0.1\\data") {
    TreeConnectSt& t = TreeConnect[slot];
    t.Flg = kSlotBound;
    t.Tid = tid;
    std::snprintf(t.SharePath, sizeof t.SharePath, "%s", share);
    std::snprintf(t.src_addr, sizeof t.src_addr, "%s", kClient);
    std::snprintf(t.dst_addr, sizeof t.dst_addr, "%s", kServer);
    QVX_ProgramLogonTables().SlotsRecount();
  }
  // A tree connected in slot with TreeId tid on IPC$, which the server lists beside "data" (as
  // Samba does, without a folder).
  void IpcTree(int slot, uint32_t tid) {
    ConnectedTree(slot, tid, "\\\\10.0.0.1\\IPC$");
    ServerShare ipc;
    ipc.name = "IPC$";
    ServerShare sh;
    sh.name = "data";
    sh.path = share_dir_;
    fake.SetShares({sh, ipc});
    NetShareInfoDataNo = QVX_NetShare_NT(NetWkShareInfo, OptionInfo.NetWkInfoCnt, nullptr);
  }
  // The frame crosses the wire: the run's connection tracker sees it (with an Ethernet header in
  // front), as it sees every frame before the handlers do.
  void OnTheWire(const Frame& f) {
    std::vector<unsigned char> e(14, 0);
    e[12] = 0x08;
    e.insert(e.end(), f.bytes.begin(), f.bytes.begin() + static_cast<long>(f.Len));
    run_.tracker.Observe(e.data(), static_cast<uint32_t>(e.size()), 0);
  }
  // The handlers' DATA with f's connection as the one being handled, as the capture loop sets it.
  DATA* At(const Frame& f) {
    run_->ends = f.ends;
    return &data;
  }
  std::vector<std::string> LogLines() {
    hExistingFile->Flush();
    return fake.Lines(log_);
  }
  std::string Kernel() { return fake.Contents(szLogfileName); }
  // Each line's action, operation and path.
  std::vector<std::string> Said() {
    std::vector<std::string> out;
    for (const std::string& l : LogLines()) {
      size_t at = 0;
      std::string action, operation;
      for (int i = 0; i < 12; ++i) {
        const size_t comma = l.find(',', at);
        if (i == 1) action = l.substr(at, comma - at);
        if (i == 11) operation = l.substr(at, comma - at);
        at = comma + 1;
      }
      out.push_back(action + " " + operation + " " + l.substr(at));
    }
    return out;
  }

  FakePlatform fake;
  // The capture run the handlers belong to, data's context.
  TestCaptureContext run_{data};
  std::string log_;
  std::string share_dir_;
};

}  // namespace qvx::test
