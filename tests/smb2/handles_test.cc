#include "smb2/handles.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "audit/answer.h"
#include "audit/file_access.h"
#include "audit/open_files.h"
#include "smb2/create.h"
#include "smb2/handler_fixture.h"

namespace qvx {
namespace {

using test::CreateBody;
using test::Frame;
using test::Put16;
using test::Put32;
using test::Put64;
using test::Smb2;
using test::Smb2Ids;
using test::Utf16;

constexpr uint32_t kReadOpen = 0x00120089;
constexpr uint32_t kWriteOpen = 0x0012019F;
constexpr uint32_t kDeleteOpen = 0x00110080;  // DELETE, SYNCHRONIZE, READ_ATTRIBUTES
constexpr uint32_t kDenied = 0xC0000022;
constexpr uint32_t kNotFound = 0xC0000034;

// Requests on open handles, each with the server's answer, as the capture loop hands them on.
class Smb2HandleTest : public test::HandlerTest {
 protected:
  void SetUp() override {
    HandlerTest::SetUp();
    ConnectedTree(0, 7);
    ids_.tree_id = 7;
  }
  // A CREATE of name answered with status (and, when it succeeded, the create action, end of
  // file and file id). Returns the handler's result.
  int Open(const std::string& name, uint32_t desired, uint32_t options, uint32_t action,
           uint64_t id, uint32_t status = 0, uint64_t eof = 0, bool folder = false,
           uint32_t disposition = 1) {
    data.SMBCommand = 5;
    std::vector<unsigned char> body = CreateBody(desired, options, Utf16(name));
    Put32(body, 36, disposition);
    Frame f = Smb2(5, ids_, body);
    AnswerFacts a;
    a.status = status;
    a.open = status == 0;
    a.create_action = action;
    a.end_of_file = eof;
    a.directory = folder;
    a.attributes = folder ? kAttributeDirectory : 0x20;
    a.file_id[0] = id;
    a.file_id[1] = id + 100;
    return Answered(
        a, [&] { return QVX_Smb2FileStandardInfo(&f.smb2, f.Len, f.data(), f.cursor, 8, At(f)); });
  }
  void Close(uint64_t id, uint32_t status = 0) {
    data.SMBCommand = 6;
    std::vector<unsigned char> b(24, 0);
    Put16(b, 0, 24);
    PutId(b, 8, id);
    Frame f = Smb2(6, ids_, b);
    Answered(Status(status),
             [&] { return QVX_Smb2Close(&f.smb2, f.Len, f.data(), f.cursor, At(f)); });
  }
  void Read(uint64_t id, uint32_t status = 0) {
    data.SMBCommand = 8;
    std::vector<unsigned char> b(48 + 1, 0);
    Put16(b, 0, 49);
    Put32(b, 4, 4096);
    PutId(b, 16, id);
    Frame f = Smb2(8, ids_, b);
    Answered(Status(status),
             [&] { return QVX_Smb2Read(&f.smb2, f.Len, f.data(), f.cursor, At(f)); });
  }
  void Write(uint64_t id, uint32_t status = 0) {
    data.SMBCommand = 9;
    std::vector<unsigned char> b(48 + 8, 0x41);
    Put16(b, 0, 49);
    Put16(b, 2, 64 + 48);
    Put32(b, 4, 8);
    Put64(b, 8, 0);
    PutId(b, 16, id);
    Frame f = Smb2(9, ids_, b);
    Answered(Status(status),
             [&] { return QVX_Smb2Write(&f.smb2, f.Len, f.data(), f.cursor, At(f)); });
  }
  // SET_INFO of a file: class and its buffer.
  int SetInfo(uint64_t id, uint8_t cls, const std::vector<unsigned char>& buffer,
              uint32_t status = 0, uint8_t type = 1, uint32_t additional = 0) {
    data.SMBCommand = 0x11;
    std::vector<unsigned char> b(32, 0);
    Put16(b, 0, 33);
    b[2] = type;
    b[3] = cls;
    Put32(b, 12, additional);
    Put32(b, 4, static_cast<uint32_t>(buffer.size()));
    Put16(b, 8, 64 + 32);
    PutId(b, 16, id);
    b.insert(b.end(), buffer.begin(), buffer.end());
    Frame f = Smb2(0x11, ids_, b);
    return Answered(Status(status),
                    [&] { return QVX_Smb2SetInfo(&f.smb2, f.Len, f.data(), f.cursor, At(f)); });
  }
  int Disposition(uint64_t id, bool pending) {
    return SetInfo(id, 13, {pending ? uint8_t{1} : uint8_t{0}});
  }
  int Rename(uint64_t id, const std::string& to, uint8_t cls = 10, uint32_t status = 0) {
    std::vector<unsigned char> name = Utf16(to);
    std::vector<unsigned char> buf(20, 0);
    Put32(buf, 16, static_cast<uint32_t>(name.size()));
    buf.insert(buf.end(), name.begin(), name.end());
    return SetInfo(id, cls, buf, status);
  }
  // An IOCTL of code on handle id; a resume key's answer carries key.
  void Ioctl(uint64_t id, uint32_t code, const std::vector<unsigned char>& input,
             const std::vector<unsigned char>& key = {}) {
    data.SMBCommand = 0x0B;
    std::vector<unsigned char> b(56, 0);
    Put16(b, 0, 57);
    Put32(b, 4, code);
    PutId(b, 8, id);
    Put32(b, 24, 64 + 56);
    Put32(b, 28, static_cast<uint32_t>(input.size()));
    b.insert(b.end(), input.begin(), input.end());
    Frame f = Smb2(0x0B, ids_, b);
    AnswerFacts a;
    a.resume_key_set = !key.empty();
    std::copy(key.begin(), key.end(), a.resume_key);
    Answered(a, [&] { return QVX_Smb2Ioctl(&f.smb2, f.Len, f.data(), f.cursor, At(f)); });
  }
  Smb2Ids ids_;

 private:
  static AnswerFacts Status(uint32_t status) {
    AnswerFacts a;
    a.status = status;
    return a;
  }
  static void PutId(std::vector<unsigned char>& b, size_t at, uint64_t id) {
    Put64(b, at, id);
    Put64(b, at + 8, id == ~uint64_t{0} ? id : id + 100);
  }
  template <typename F>
  int Answered(const AnswerFacts& a, F handle) {
    run_.ctx.answer = &a;
    const int rc = handle();
    run_.ctx.answer = nullptr;
    return rc;
  }
};

TEST_F(Smb2HandleTest, TheAnswerSaysWhatAnOpenDid) {
  OptionInfo.SameAccNonLogFlg = 0;
  run_.TakeOptions();
  // No file exists here: size and verdict come from the answer alone.
  Open("a.txt", kWriteOpen, 0, kCreateCreated, 1, 0, 0);
  Open("b.txt", kWriteOpen, 0, kCreateOverwritten, 2, 0, 0);
  Open("c.txt", kWriteOpen, 0, kCreateSuperseded, 3);
  Open("d.txt", kReadOpen, 0, kCreateOpened, 4, 0, 1234);
  Open("docs", kReadOpen, 1, kCreateOpened, 5, 0, 4096, true);
  EXPECT_EQ(Said(), (std::vector<std::string>{
                        "access New  " + Local("a.txt"), "access Wt   " + Local("b.txt"),
                        "access Wt   " + Local("c.txt"), "access Rd   " + Local("d.txt"),
                        "access Rd   " + Local("docs")}));
  EXPECT_STREQ(AccessData[3].Size, "1234");
  EXPECT_STREQ(AccessData[4].Size, "0");  // a folder has no size
}

TEST_F(Smb2HandleTest, ARefusedOpenIsNoAccess) {
  OptionInfo.ErrorLevel = 4;
  data.SMBCmdListFlg = 1;
  Open("secret.txt", kReadOpen, 0, 0, 0, kDenied);
  // A put on a read-only share: the disposition tells what was tried.
  Open("ro\\new.txt", kWriteOpen, 0, 0, 0, 0xC00000A2, 0, false, 5);
  Open("missing.txt", kReadOpen, 0, 0, 0, kNotFound);
  Open("busy.txt", kReadOpen, 0, 0, 0, 0xC0000043);  // sharing violation
  const std::vector<std::string> lines = LogLines();
  ASSERT_EQ(lines.size(), 2u) << lines[0];
  EXPECT_NE(lines[0].find(",denied,7,alice,10.0.0.5,10.0.0.1,"), std::string::npos);
  EXPECT_NE(lines[0].find(",SMB2_CREATE,STATUS_ACCESS_DENIED,0,Rd  ," + Local("secret.txt")),
            std::string::npos)
      << lines[0];
  EXPECT_NE(lines[1].find(",STATUS_MEDIA_WRITE_PROTECTED,0,Wt  ,"), std::string::npos);
  // The others are counted in the kernel log only.
  const std::string k = Kernel();
  EXPECT_NE(k.find("STATUS_OBJECT_NAME_NOT_FOUND"), std::string::npos);
  EXPECT_NE(k.find("STATUS_SHARING_VIOLATION"), std::string::npos);
}

TEST_F(Smb2HandleTest, DeletesAreToldWhenTheyTakeEffect) {
  // Delete-on-close: nothing at the open, "Del" at the close.
  Open("gone.txt", kDeleteOpen, 0x1000, kCreateOpened, 1);
  EXPECT_TRUE(Said().empty());
  Close(1);
  EXPECT_EQ(Said(), std::vector<std::string>{"access Del  " + Local("gone.txt")});
  // A disposition set on the handle: the same.
  Open("set.txt", kDeleteOpen, 0, kCreateOpened, 2);
  EXPECT_EQ(Disposition(2, true), 0);
  Close(2);
  // Set, then cleared: the file stays, and the open is what it was.
  Open("kept.txt", kDeleteOpen | 1, 0, kCreateOpened, 3);
  Disposition(3, true);
  Disposition(3, false);
  Close(3);
  // A folder made and removed at once: "New", then "Del".
  Open("dir", kReadOpen, 1, kCreateCreated, 4, 0, 0, true);
  Open("dir", kDeleteOpen, 0x1000 | 1, kCreateOpened, 5, 0, 0, true);
  Close(5);
  EXPECT_EQ(Said(), (std::vector<std::string>{
                        "access Del  " + Local("gone.txt"), "access Del  " + Local("set.txt"),
                        "access Rd   " + Local("kept.txt"), "access New  " + Local("dir"),
                        "access Del  " + Local("dir")}));
}

TEST_F(Smb2HandleTest, AClosedOrRefusedCloseDecidesNothingElse) {
  Open("x.txt", kDeleteOpen, 0x1000, kCreateOpened, 1);
  Close(1, 0xC0000128);  // STATUS_FILE_CLOSED: the handle is not closed by it
  EXPECT_TRUE(Said().empty());
  Close(1);
  EXPECT_EQ(Said(), std::vector<std::string>{"access Del  " + Local("x.txt")});
}

TEST_F(Smb2HandleTest, ARenameIsOneLineWithBothNames) {
  data.SMBCmdListFlg = 1;
  Open("docs\\old.txt", kDeleteOpen, 0, kCreateOpened, 1);
  EXPECT_EQ(Rename(1, "docs\\new.txt"), 0);
  Close(1);
  const std::vector<std::string> lines = LogLines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find(",SMB2_SET_INFO,"), std::string::npos);
  EXPECT_NE(lines[0].find(",0,ReNm," + Local("docs\\old.txt") + " >> " + Local("docs\\new.txt")),
            std::string::npos);
  // Renamed, then deleted: the delete names the new name.
  Open("a.txt", kDeleteOpen, 0, kCreateOpened, 2);
  Rename(2, "b.txt");
  Disposition(2, true);
  Close(2);
  EXPECT_EQ(Said().back(), "access Del  " + Local("b.txt"));
}

TEST_F(Smb2HandleTest, AReadHandleThatWritesIsToldOnceAtItsFirstWrite) {
  Open("w.txt", kWriteOpen, 0, kCreateOpened, 1, 0, 10);
  Write(1, 0xC000007F);  // disk full: nothing was written
  Write(1);
  Write(1);
  SetInfo(1, 20, std::vector<unsigned char>(8, 0));  // a new end of file: a write as well
  Close(1);
  EXPECT_EQ(Said(), (std::vector<std::string>{"access Rd   " + Local("w.txt"),
                                              "access Wt   " + Local("w.txt")}));
  // A parked open that writes is one "Wt" line at its close.
  Open("p.txt", kWriteOpen | 0x10000, 0, kCreateOpened, 2);
  Write(2);
  Close(2);
  EXPECT_EQ(Said().back(), "access Wt   " + Local("p.txt"));
}

// Permissions, attributes, time stamps and hard links set through a handle: each its own line,
// with what changed in the SMB Info column; a refusal for rights is a "denied" line.
TEST_F(Smb2HandleTest, ChangesThroughAHandleSayWhatChanged) {
  Open("acl.txt", kReadOpen | 0x00040000, 0, kCreateOpened, 1);  // WRITE_DAC
  // A DACL and owner set (bytes Samba's encoder made: see the SDDL test).
  const std::vector<unsigned char> sd = {
      0x01, 0x00, 0x04, 0x94, 0x14, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
      0x00, 0x20, 0x00, 0x00, 0x00, 0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00,
      0x00, 0x00, 0x02, 0x00, 0x1c, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x03, 0x14, 0x00, 0xff,
      0x01, 0x1f, 0x00, 0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00};
  SetInfo(1, 0, sd, 0, 3, 0x5);
  SetInfo(1, 0, sd, kDenied, 3, 0x8);    // a SACL the user may not set
  SetInfo(1, 0, sd, kNotFound, 3, 0x4);  // refused, not for rights: nothing
  std::vector<unsigned char> basic(40, 0);
  Put64(basic, 16, 126227808000000000ull);  // last write 2001-01-01
  Put32(basic, 32, 0x3);                    // read-only, hidden
  SetInfo(1, 4, basic);
  SetInfo(1, 4, std::vector<unsigned char>(40, 0));  // sets nothing
  Rename(1, "docs\\link.txt", 11);
  Rename(1, "docs\\link2.txt", 11, kDenied);
  Close(1);
  const std::vector<std::string> lines = LogLines();
  ASSERT_EQ(lines.size(), 6u);
  const std::string path = Local("acl.txt");
  EXPECT_EQ(Said(),
            (std::vector<std::string>{"access Rd   " + path, "access Perm " + path,
                                      "denied Perm " + path, "access Attr " + path,
                                      "access Link " + path + " >> " + Local("docs\\link.txt"),
                                      "denied Link " + path}));
  EXPECT_NE(lines[1].find(",owner+DACL,"), std::string::npos);
  EXPECT_NE(lines[2].find(",STATUS_ACCESS_DENIED,"), std::string::npos);
  EXPECT_NE(lines[3].find(",attributes read-only+hidden; last write time "
                          "2001-01-01T00:00:00Z in the past,"),
            std::string::npos);
}

// A write and a rename in one compound: the write is told under the old name before the rename,
// a write after it under the new name at the close.
TEST_F(Smb2HandleTest, AWriteBeforeARenameIsToldUnderTheOldName) {
  Open("draft.txt", kWriteOpen | 0x10000, 0, kCreateOpened, 1);
  Write(1);
  Rename(1, "final.txt");
  Write(1);
  Close(1);
  EXPECT_EQ(Said(), (std::vector<std::string>{
                        "access Wt   " + Local("draft.txt"),
                        "access ReNm " + Local("draft.txt") + " >> " + Local("final.txt"),
                        "access Wt   " + Local("final.txt")}));
}

// A server-side copy over an existing file: the destination written, and one "Copy" line
// "source >> destination" however many chunk requests it takes.
TEST_F(Smb2HandleTest, AServerSideCopyIsAWriteAndOneCopyLine) {
  Open("src.txt", kReadOpen, 0, kCreateOpened, 1);
  const std::vector<unsigned char> key(24, 0x5A);
  Ioctl(1, 0x00140078, {}, key);  // FSCTL_SRV_REQUEST_RESUME_KEY
  Open("dst.txt", kWriteOpen, 0, kCreateOpened, 2);
  std::vector<unsigned char> copy = key;
  copy.resize(24 + 8 + 24);  // ChunkCount, Reserved, one chunk
  Ioctl(2, 0x001440F2, copy);
  Ioctl(2, 0x001480F2, copy);
  // From a source whose key the run never saw.
  Open("dst2.txt", kWriteOpen, 0, kCreateCreated, 3);
  std::vector<unsigned char> other(56, 0x11);
  Ioctl(3, 0x001440F2, other);
  Close(2);
  Close(3);
  EXPECT_EQ(Said(), (std::vector<std::string>{
                        "access Rd   " + Local("src.txt"), "access Rd   " + Local("dst.txt"),
                        "access Wt   " + Local("dst.txt"),
                        "access Copy " + Local("src.txt") + " >> " + Local("dst.txt"),
                        "access New  " + Local("dst2.txt"),
                        "access Copy [source not seen] >> " + Local("dst2.txt")}));
}

TEST_F(Smb2HandleTest, ARelatedRequestNamesThePreviousOpen) {
  // CREATE + CLOSE in one compound chain: the close names its handle with all ones. The capture
  // loop notes every open the server granted; here that is done by hand.
  Open("chain.txt", kDeleteOpen, 0x1000, kCreateOpened, 7);
  run_->open_files.NoteOpen(QVX_OpenFileKeyOf(test::Ends(), 2, ids_.session_id, 7, 107));
  Close(~uint64_t{0});
  EXPECT_EQ(Said(), std::vector<std::string>{"access Del  " + Local("chain.txt")});
  // Without a noted open the related close closes nothing.
  run_->open_files.Clear();
  Open("other.txt", kDeleteOpen, 0x1000, kCreateOpened, 8);
  Close(~uint64_t{0});
  EXPECT_EQ(Said().size(), 1u);
}

// Handles whose open the capture never saw (the client opened them before capture began): each
// is told once, by what the server's answers say was done through it. With no server to name
// them (a replay) the path says so, with the FileId, under the share's folder.
TEST_F(Smb2HandleTest, HandlesOpenedBeforeCaptureAreToldOnceEach) {
  data.SMBCmdListFlg = 1;
  const auto marked = [&](uint64_t id) {
    char fid[64];
    std::snprintf(fid, sizeof fid, "FileId 0x%016llx:0x%016llx",
                  static_cast<unsigned long long>(id), static_cast<unsigned long long>(id + 100));
    return Local(std::string("[opened before capture] ") + fid);
  };
  Read(1);
  Read(1);  // known now: nothing new
  Write(2);
  Write(2);
  Disposition(3, true);  // the delete is told when it takes effect
  EXPECT_EQ(Said().size(), 2u);
  Close(3);
  EXPECT_EQ(Rename(4, "docs\\new.txt"), 0);
  Close(4);
  Close(1);
  Close(5);              // a close is all the capture saw of it
  Read(6, 0xC0000011);   // STATUS_END_OF_FILE: no access, no line
  Write(7, 0xC0000022);  // refused for the user's rights: "denied"
  ASSERT_EQ(Said(),
            (std::vector<std::string>{"access Rd   " + marked(1), "access Wt   " + marked(2),
                                      "access Del  " + marked(3),
                                      "access ReNm " + marked(4) + " >> " + Local("docs\\new.txt"),
                                      "access Rd   " + marked(5), "denied Wt   " + marked(7)}));
  const std::vector<std::string> lines = LogLines();
  EXPECT_NE(lines[0].find(",access,7,alice,10.0.0.5,10.0.0.1,"), std::string::npos) << lines[0];
  EXPECT_NE(lines[0].find(",SMB2_READ,"), std::string::npos) << lines[0];
  EXPECT_NE(lines[5].find(",SMB2_WRITE,STATUS_ACCESS_DENIED,"), std::string::npos) << lines[5];
  // A handle whose open was granted while capturing said all at its open.
  run_->open_files.NoteGranted(QVX_OpenFileKeyOf(test::Ends(), 2, ids_.session_id, 8, 108));
  Read(8);
  Write(8);
  Close(8);
  EXPECT_EQ(Said().size(), 6u);
}

// Where the server's list of open files names the handle, its line names the file: on a tree
// whose connect the capture never saw, bound to the share the server names. A pipe's handle is
// no file.
TEST_F(Smb2HandleTest, TheServersListNamesAHandleOpenedBeforeCapture) {
  ServerOpenFiles server;
  ServerOpenFile f;
  f.persistent = 5;
  f.volatile_id = 105;
  f.volatile_known = true;
  f.path = Local("docs\\a.txt");
  f.share_path = share_dir_;
  server.files.push_back(f);
  ServerTree pipes;
  pipes.tree_id = 11;
  pipes.share = "IPC$";
  server.trees.push_back(pipes);
  fake.SetOpenFiles(server);
  ids_.tree_id = 9;  // never connected while capturing
  Read(5);
  ids_.tree_id = 11;
  Read(6);
  Write(6);
  Close(6);
  ASSERT_EQ(Said(), std::vector<std::string>{"access Rd   " + Local("docs\\a.txt")});
  EXPECT_NE(LogLines()[0].find(",access,9,alice,10.0.0.5,"), std::string::npos) << LogLines()[0];
}

}  // namespace
}  // namespace qvx
