// What SMB1 set-information requests change: TRANSACTION2 SET_FILE_INFORMATION (by FID) and
// SET_PATH_INFORMATION (by name) at each information level, SET_INFORMATION (by name: attributes
// and last write time) and SET_INFORMATION2 (by FID: DOS dates). Each is read into one record and
// told by the server's answer: a delete disposition at the handle's close ("Del"), a rename
// ("ReNm") or hard link ("Link") as "old >> new", a new end of file or allocation ("Wt"),
// attributes, time stamps or extended attributes ("Attr", what changed in words).
#pragma once

#include <cstdint>
#include <string>

#include "base/data.h"
#include "smb1/message.h"
#include "wire/file_info.h"
#include "wire/smb_header.h"

namespace qvx {

struct Smb1SetInfoRecord {
  enum class Change { kNone, kBasic, kSize, kDelete, kRename, kLink, kExtendedAttributes };
  uint8_t command = 0;
  uint16_t tid = 0, pid = 0, uid = 0, mid = 0;
  bool by_handle = false;
  uint16_t fid = 0;    // by_handle
  std::string name;    // otherwise: the object as sent, converted
  uint16_t level = 0;  // TRANSACTION2's information level
  Change change = Change::kNone;
  wire::FileBasicInfo basic;    // kBasic; times as FILETIMEs in UTC
  bool delete_pending = false;  // kDelete
  // kRename: the new name (a bare name is one in the folder of the old); kLink: the new link's
  // name from the share's root.
  std::string target;
};

// zone is how many seconds the server's local time is ahead of UTC: the DOS dates of
// SET_INFORMATION2 and SMB_INFO_STANDARD and the UTIME of SET_INFORMATION are in its local time.
// False for another command, too few words or an object that cannot be read; a level that
// changes nothing known is read as kNone.
bool QVX_Smb1ReadSetInfo(const Smb1Message& m, int64_t zone, Smb1SetInfoRecord* out);

// The line of the change the server carried out (a refusal for rights: a "denied" line; no
// answer, another refusal or nothing changed: none). 10 when dropped.
int QVX_Smb1AuditSetInfo(const Smb1SetInfoRecord& r, DATA* data);

// The handler of SET_INFORMATION, SET_INFORMATION2 and TRANSACTION2 SET_FILE_INFORMATION and
// SET_PATH_INFORMATION.
int QVX_SmbSetInfo(SMB_HEADER_ST* SMB_HEADER, unsigned long Len, unsigned char* recvData,
                   long SMB_Total_Packet_Size, DATA* data);

}  // namespace qvx
