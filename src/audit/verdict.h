// What was done to a file: the verdict of an access from the request's access mask, from the
// file's time stamps on this server, or from both (the access-kind mode nAccessKindFlg).
#pragma once

#include <cstdint>
#include <ctime>

#include "audit/answer.h"
#include "base/data.h"

namespace qvx {

// nAccessKindFlg values.
enum : int {
  QVX_ACCESS_KIND_NONE = 0,
  QVX_ACCESS_KIND_SMB = 1,
  QVX_ACCESS_KIND_API = 2,
  QVX_ACCESS_KIND_BLEND = 3,
};
// Verdict codes; an operation text is nAccessInfoChgChr[code - 200].
enum : int {
  kVerdictNone = 200,
  kVerdictWritten = 201,
  kVerdictNew = 202,
  kVerdictRead = 203,
  kVerdictGone = 204,
  kVerdictRenamed = 205,
  kVerdictPermissions = 206,  // owner, DACL or SACL changed
  kVerdictAttributes = 207,   // attributes or time stamps changed
  kVerdictLinked = 208,       // a hard link made: "old >> new"
  kVerdictCopied = 209,       // a server-side copy: "source >> destination"
};

// Access-mask bits the verdict looks at.
inline constexpr uint32_t kFileReadData = 0x00000001;
inline constexpr uint32_t kFileWriteData = 0x00000002;
inline constexpr uint32_t kAccessDelete = 0x00010000;

// The verdict of an access mask alone: 204, 201, 203, or 0 when it names none of them.
int QVX_SmbAccessVerdict(uint32_t DesiredAccess);

// The blended verdict from the mask's verdict S, the time-stamp verdict A, the object's kind
// (kKindNone, kKindFile, kKindFolder) and whether CreateOptions is non-zero.
int QVX_BlendAccessVerdict(int S, int A, int kind, bool options_set);

// Whether access-kind mode (nAccessKindFlg's values) reads the time stamps (alone or blended with
// the mask).
bool QVX_TimeStampsJudge(int mode);

// The verdict of one open in access-kind mode, from its mask and from the time class of its
// object (QVXAccessChkToTreeIDPathChg, read by the caller in the modes that use time stamps;
// otherwise 0). With neither source (mode 0) the verdict is 200, shown as "Err".
struct OpenVerdict {
  int smb = 0;  // mask verdict (0 when not computed)
  int api = 0;  // time-stamp verdict (0 when not asked)
  int verdict = kVerdictNone;
};
OpenVerdict QVX_OpenVerdict(int mode, uint32_t DesiredAccess, uint32_t CreateOptions, int kind,
                            int time_class);

// The verdict of an open whose object must not be looked at (its name leaves the share): the
// mask's alone in the modes that use it, else 200.
int QVX_MaskOnlyVerdict(int mode, uint32_t DesiredAccess);

// What an open did, by the create action of the server's answer: created "New", overwritten or
// superseded "Wt", opened "Rd" (later writes, deletes and renames are told by their own answers).
int QVX_AnswerVerdict(const AnswerFacts& a);
// What a refused open tried to do: delete by its mask, create or overwrite by its disposition,
// else write or read by its mask ("Rd" when the mask names neither).
int QVX_AttemptVerdict(uint32_t DesiredAccess, uint32_t CreateDisposition);

// The index into nAccessInfoChgChr of a verdict: 0 ("Err") below 201 or out of range.
int QVX_OperationIndex(int verdict);
const char* QVX_OperationText(int verdict);

}  // namespace qvx
