// The SMB1 routes from their request records and the server's answers to the lines they give:
// the legacy opens, changes through a handle (set-information, a security descriptor,
// WRITE_AND_CLOSE) and by name, hard links and copies.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "audit/answer.h"
#include "audit/file_access.h"
#include "audit/path_road.h"
#include "audit/verdict.h"
#include "smb1/handles.h"
#include "smb1/nt_transact.h"
#include "smb1/open.h"
#include "smb1/set_info.h"
#include "smb1/smb1_frames.h"

namespace qvx {
namespace {

using test::Frame;
using test::Put16;
using test::Smb1;
using Change = Smb1SetInfoRecord::Change;

constexpr uint32_t kDenied = 0xC0000022, kNotFound = 0xC0000034;
constexpr uint32_t kRead = 0x00120089, kReadWrite = 0x0012019F, kDeleteAccess = 0x00110080;
constexpr uint64_t k2001 = 126227808000000000ull;  // 2001-01-01T00:00:00Z

// What each event said: its acl, for a permission change.
class Recorder : public EventSink {
 public:
  void Write(const AccessEvent& e) override { acls.emplace_back(e.acl); }
  std::vector<std::string> acls;
};

class Smb1RoutesTest : public test::Smb1HandlerTest {
 protected:
  void SetUp() override {
    Smb1HandlerTest::SetUp();
    ConnectedTree(0, 2049);
    run_->ends = test::Ends();
    run_.sinks.Add(&recorder_);
  }
  void TearDown() override {
    run_.sinks.Remove(&recorder_);
    Smb1HandlerTest::TearDown();
  }
  static AnswerFacts Status(uint32_t status) {
    AnswerFacts a;
    a.status = status;
    return a;
  }
  // A successful open's answer: its FID and what it did.
  static AnswerFacts Opened(uint16_t fid, uint32_t action, uint64_t size = 0) {
    AnswerFacts a;
    a.open = true;
    a.file_id[1] = fid;
    a.create_action = action;
    a.end_of_file = size;
    return a;
  }
  template <typename F>
  int Answered(const AnswerFacts* a, F step) {
    run_->answer = a;
    const int rc = step();
    run_->answer = nullptr;
    return rc;
  }
  int Open(uint8_t command, const std::string& name, uint32_t desired, uint32_t disposition,
           const AnswerFacts* a) {
    data.SMBCommand = command;
    Smb1OpenRecord r;
    r.command = command;
    r.tid = 2049;
    r.uid = 100;
    r.name = name;
    r.desired = desired;
    r.disposition = disposition;
    r.options = 0x40;
    r.temporary = command == 0x0E;
    return Answered(a, [&] { return QVX_Smb1AuditOpen(r, &data); });
  }
  int Set(Smb1SetInfoRecord r, const AnswerFacts* a) {
    data.SMBCommand = r.command;
    r.tid = 2049;
    r.uid = 100;
    return Answered(a, [&] { return QVX_Smb1AuditSetInfo(r, &data); });
  }
  static Smb1SetInfoRecord OnHandle(uint16_t fid, Change change) {
    Smb1SetInfoRecord r;
    r.command = 0x32;
    r.by_handle = true;
    r.fid = fid;
    r.change = change;
    return r;
  }
  static Smb1SetInfoRecord ByName(const std::string& name, Change change) {
    Smb1SetInfoRecord r;
    r.command = 0x32;
    r.name = name;
    r.change = change;
    return r;
  }
  void Close(uint16_t fid) {
    std::vector<unsigned char> b(1 + 6 + 2, 0);
    b[0] = 3;
    Put16(b, 1, fid);
    Frame f = Smb1(0x04, 2049, 100, b);
    const AnswerFacts ok;
    Answered(&ok, [&] { return QVX_SmbClose(&f.smb1, f.Len, f.data(), f.cursor, At(f)); });
  }
  // Each line's SMB Info column.
  std::vector<std::string> Infos() {
    std::vector<std::string> out;
    for (const std::string& l : LogLines()) {
      size_t at = 0;
      for (int i = 0; i < 9; ++i) at = l.find(',', at) + 1;
      out.push_back(l.substr(at, l.find(',', at) - at));
    }
    return out;
  }

  Recorder recorder_;
};

// A legacy open says what it did as NT_CREATE_ANDX's answer does, with or without a leading
// backslash; the file a CREATE_TEMPORARY made is the one its answer names.
TEST_F(Smb1RoutesTest, LegacyOpensAreToldByTheirAnswers) {
  const AnswerFacts opened = Opened(1, kCreateOpened, 7), truncated = Opened(2, kCreateOverwritten),
                    created = Opened(3, kCreateCreated);
  AnswerFacts temporary = Opened(4, kCreateCreated), other_temporary = temporary;
  temporary.temporary_name = "TMP12345";
  other_temporary.temporary_name = "TMP67890";
  AnswerFacts pipe = Opened(5, kCreateOpened);
  pipe.pipe = true;
  const AnswerFacts denied = Status(kDenied), missing = Status(kNotFound);
  EXPECT_EQ(Open(0x2D, "\\docs\\a.txt", kRead, 1, &opened), 0);
  EXPECT_EQ(Open(0x2D, "docs\\b.txt", kReadWrite, 5, &truncated), 0);
  EXPECT_EQ(Open(0x0F, "docs\\c.txt", kReadWrite, 2, &created), 0);
  EXPECT_EQ(Open(0x0E, "\\docs", kReadWrite, 2, &temporary), 0);
  EXPECT_EQ(Open(0x0E, "docs\\", kReadWrite, 2, &other_temporary), 0);
  // Without its answer the file a temporary open made is not known.
  EXPECT_EQ(Open(0x0E, "\\docs", kReadWrite, 2, nullptr), 10);
  EXPECT_EQ(Open(0x2D, "\\docs\\secret.txt", kReadWrite, 1, &denied), 0);
  EXPECT_EQ(Open(0x0E, "\\docs", kReadWrite, 2, &denied), 0);
  EXPECT_EQ(Open(0x02, "\\docs\\gone.txt", kRead, 1, &missing), 0);
  EXPECT_EQ(Open(0x2D, "\\anything", kRead, 1, &pipe), 10);
  EXPECT_EQ(Said(),
            (std::vector<std::string>{
                "access Rd   " + Local("docs\\a.txt"), "access Wt   " + Local("docs\\b.txt"),
                "access New  " + Local("docs\\c.txt"), "access New  " + Local("docs\\TMP12345"),
                "access New  " + Local("docs\\TMP67890"),
                "denied Wt   " + Local("docs\\secret.txt"), "denied New  " + Local("docs")}));
  EXPECT_NE(LogLines()[0].find(",7,Rd  ,"), std::string::npos);
}

// Through a handle: a new end of file is a write, attributes, time stamps, extended attributes and
// the access list are changes told in words, a hard link names both sides, WRITE_AND_CLOSE writes
// and closes; refusals for rights are denied lines, what changes nothing or names a handle not
// followed gives none.
TEST_F(Smb1RoutesTest, ChangesThroughAHandle) {
  const AnswerFacts ok, denied = Status(kDenied), opened = Opened(5, kCreateOpened),
                        opened6 = Opened(6, kCreateOpened);
  Open(0x2D, "\\docs\\h.txt", kReadWrite, 1, &opened);
  Set(OnHandle(5, Change::kSize), &ok);
  Set(OnHandle(5, Change::kSize), &ok);  // its first write only
  Smb1SetInfoRecord basic = OnHandle(5, Change::kBasic);
  basic.basic.last_write = k2001;
  Set(basic, &ok);
  Set(OnHandle(5, Change::kBasic), &ok);  // sets nothing
  Set(OnHandle(5, Change::kExtendedAttributes), &ok);
  Smb1SetInfoRecord link = OnHandle(5, Change::kLink);
  link.target = "docs\\l.txt";
  Set(link, &ok);
  Set(basic, &denied);
  Set(basic, nullptr);  // no answer: nothing known
  Smb1SecurityRecord sd;
  sd.fid = 5;
  sd.security_information = 0x5;
  sd.sddl = "O:S-1-1-0D:(A;;0x1f01ff;;;S-1-1-0)";
  data.SMBCommand = 0xA0;
  Answered(&ok, [&] { return QVX_Smb1AuditSetSecurity(sd, &data); });
  Answered(&denied, [&] { return QVX_Smb1AuditSetSecurity(sd, &data); });
  Set(OnHandle(9, Change::kSize), &ok);  // no such handle
  // WRITE_AND_CLOSE: FID, count, offset, last write time; a pad, the data.
  Open(0x2D, "\\docs\\w.txt", kReadWrite, 1, &opened6);
  std::vector<unsigned char> wac(1 + 12 + 2 + 1 + 4, 0);
  wac[0] = 6;
  Put16(wac, 1, 6);
  Put16(wac, 3, 4);
  Frame f = Smb1(0x2C, 2049, 100, wac);
  data.SMBCommand = 0x2C;
  Answered(&ok, [&] { return QVX_SmbWriteAndClose(&f.smb1, f.Len, f.data(), f.cursor, At(f)); });
  Set(OnHandle(6, Change::kSize), &ok);  // closed
  const std::string h = Local("docs\\h.txt"), w = Local("docs\\w.txt");
  EXPECT_EQ(Said(),
            (std::vector<std::string>{
                "access Rd   " + h, "access Wt   " + h, "access Attr " + h, "access Attr " + h,
                "access Link " + h + " >> " + Local("docs\\l.txt"), "denied Attr " + h,
                "access Perm " + h, "denied Perm " + h, "access Rd   " + w, "access Wt   " + w}));
  const std::vector<std::string> infos = Infos();
  EXPECT_EQ(infos[2], "last write time 2001-01-01T00:00:00Z in the past");
  EXPECT_EQ(infos[3], "extended attributes");
  EXPECT_EQ(infos[5], "STATUS_ACCESS_DENIED");
  EXPECT_EQ(infos[6], "owner+DACL");
  // The JSON record of the permission change carries the descriptor sent.
  ASSERT_EQ(recorder_.acls.size(), 10u);
  EXPECT_EQ(recorder_.acls[6], sd.sddl);
  EXPECT_EQ(recorder_.acls[5], "");
}

// A delete disposition takes effect at the close; a rename to a bare name stays in the file's
// folder, one to a path is from the share's root; a disposition refused for rights is a denied
// line.
TEST_F(Smb1RoutesTest, DeletesAndRenamesThroughAHandle) {
  const AnswerFacts ok, denied = Status(kDenied);
  const AnswerFacts d = Opened(7, kCreateOpened), r = Opened(8, kCreateOpened),
                    s = Opened(9, kCreateOpened), read = Opened(10, kCreateOpened);
  Open(0xA2, "\\docs\\sub\\d.txt", kDeleteAccess, 1, &d);
  Open(0xA2, "docs\\sub\\r.txt", kDeleteAccess, 1, &r);
  Open(0xA2, "\\docs\\sub\\s.txt", kDeleteAccess, 1, &s);
  Open(0x2D, "\\docs\\sub\\x.txt", kRead, 1, &read);
  Smb1SetInfoRecord del = OnHandle(7, Change::kDelete);
  del.delete_pending = true;
  Set(del, &ok);
  Close(7);
  Smb1SetInfoRecord rename = OnHandle(8, Change::kRename);
  rename.target = "r2.txt";
  Set(rename, &ok);
  Close(8);
  rename = OnHandle(9, Change::kRename);
  rename.target = "\\other\\s.txt";
  Set(rename, &ok);
  del.fid = 10;
  Set(del, &denied);
  EXPECT_EQ(
      Said(),
      (std::vector<std::string>{
          "access Rd   " + Local("docs\\sub\\x.txt"), "access Del  " + Local("docs\\sub\\d.txt"),
          "access ReNm " + Local("docs\\sub\\r.txt") + " >> " + Local("docs\\sub\\r2.txt"),
          "access ReNm " + Local("docs\\sub\\s.txt") + " >> " + Local("other\\s.txt"),
          "denied Del  " + Local("docs\\sub\\x.txt")}));
}

// By name: attributes and time stamps in words, a new end of file, a rename within the folder,
// a hard link, a delete; a copy into another tree names the destination there.
TEST_F(Smb1RoutesTest, ChangesByName) {
  const AnswerFacts ok, denied = Status(kDenied), missing = Status(kNotFound);
  Smb1SetInfoRecord basic = ByName("\\docs\\p.txt", Change::kBasic);
  basic.basic.attributes = 0x2;
  basic.basic.last_write = k2001;
  Set(basic, &ok);
  Set(ByName("docs\\q.txt", Change::kSize), &ok);
  Smb1SetInfoRecord rename = ByName("\\docs\\r.txt", Change::kRename);
  rename.target = "r3.txt";
  Set(rename, &ok);
  Smb1SetInfoRecord link = ByName("docs\\k.txt", Change::kLink);
  link.target = "\\docs\\k2.txt";
  Set(link, &ok);
  Smb1SetInfoRecord del = ByName("\\docs\\e.txt", Change::kDelete);
  del.delete_pending = true;
  Set(del, &ok);
  Set(basic, &denied);
  Set(basic, &missing);
  Set(ByName("\\docs\\n.txt", Change::kBasic), &ok);  // sets nothing
  EXPECT_EQ(Set(ByName("\\docs\\n.txt", Change::kNone), &ok), 10);
  // A copy (COPY's Tid2) into the tree of another share.
  ServerShare data_share, other;
  data_share.name = "data";
  data_share.path = share_dir_;
  other.name = "other";
  other.path = fake.dir() + "other";
  fake.SetShares({data_share, other});
  NetShareInfoDataNo = QVX_NetShare_NT(NetWkShareInfo, OptionInfo.NetWkInfoCnt, nullptr);
  ConnectedTree(1, 3000, "\\\\10.0.0.1\\other");
  char from[kAccessNameSize] = "\\docs\\c.txt", to[kAccessNameSize] = "copy\\c.txt";
  PathRequest copy;
  copy.routine = "test";
  copy.tid = 2049;
  copy.name = from;
  copy.new_name = to;
  copy.new_tid = 3000;
  copy.verdict = kVerdictCopied;
  Answered(&ok, [&] { return QVX_AuditPathCommand(copy, &data); });
  EXPECT_EQ(Said(),
            (std::vector<std::string>{
                "access Attr " + Local("docs\\p.txt"), "access Wt   " + Local("docs\\q.txt"),
                "access ReNm " + Local("docs\\r.txt") + " >> " + Local("docs\\r3.txt"),
                "access Link " + Local("docs\\k.txt") + " >> " + Local("docs\\k2.txt"),
                "access Del  " + Local("docs\\e.txt"), "denied Attr " + Local("docs\\p.txt"),
                "access Copy " + Local("docs\\c.txt") + " >> " + other.path + kPathSep + "copy" +
                    kPathSep + "c.txt"}));
  EXPECT_EQ(Infos()[0], "attributes hidden; last write time 2001-01-01T00:00:00Z in the past");
}

}  // namespace
}  // namespace qvx
