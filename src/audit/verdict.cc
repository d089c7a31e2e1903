#include "audit/verdict.h"

#include "base/option.h"
#include "serverinfo/server_info.h"
#include "tracking/access_data.h"
#include "tracking/session_tree.h"

namespace qvx {

int QVX_SmbAccessVerdict(uint32_t DesiredAccess) {
  const bool read = (DesiredAccess & kFileReadData) != 0;
  const bool write = (DesiredAccess & kFileWriteData) != 0;
  if ((DesiredAccess & kAccessDelete) != 0 && !read && !write) return kVerdictGone;
  if (write) return kVerdictWritten;
  if (read) return kVerdictRead;
  return 0;
}

int QVX_BlendAccessVerdict(int S, int A, int kind, bool options_set) {
  if (kind == kKindFolder) {
    // A folder's write time moves whenever an entry in it changes, so for a folder the time
    // stamps only tell that it has gone, unless the mask says nothing or the open has options.
    switch (S) {
      case kVerdictWritten:
        return A == kVerdictGone ? kVerdictGone : kVerdictWritten;
      case kVerdictRead:
        if (options_set) return A;
        return A == kVerdictGone ? kVerdictGone : kVerdictRead;
      default:
        return A;
    }
  }
  switch (S) {
    case kVerdictWritten:
      // An open for writing that created the file made a new one; one that left the time
      // stamps alone only read.
      if (A == kVerdictNew || A == kVerdictRead) return A;
      return kVerdictWritten;
    case kVerdictRead:
      return kVerdictRead;
    case kVerdictGone:
      return kVerdictGone;
    default:
      return A;
  }
}

bool QVX_TimeStampsJudge(int mode) {
  return mode == QVX_ACCESS_KIND_API || mode == QVX_ACCESS_KIND_BLEND;
}

OpenVerdict QVX_OpenVerdict(int mode, uint32_t DesiredAccess, uint32_t CreateOptions, int kind,
                            int time_class) {
  OpenVerdict v;
  if (mode == QVX_ACCESS_KIND_SMB || mode == QVX_ACCESS_KIND_BLEND)
    v.smb = QVX_SmbAccessVerdict(DesiredAccess);
  if (QVX_TimeStampsJudge(mode)) v.api = time_class;
  switch (mode) {
    case QVX_ACCESS_KIND_SMB:
      v.verdict = v.smb;
      break;
    case QVX_ACCESS_KIND_API:
      v.verdict = v.api;
      break;
    case QVX_ACCESS_KIND_BLEND:
      v.verdict = QVX_BlendAccessVerdict(v.smb, v.api, kind, CreateOptions != 0);
      break;
    default:
      v.verdict = kVerdictNone;
      break;
  }
  // Time stamps that cannot be read say nothing: the mask judges alone, if it was asked.
  if (v.api == kTimeRefused) v.verdict = v.smb != 0 ? v.smb : kVerdictNone;
  return v;
}

int QVX_MaskOnlyVerdict(int mode, uint32_t DesiredAccess) {
  if ((mode & QVX_ACCESS_KIND_SMB) == 0) return kVerdictNone;
  const int v = QVX_SmbAccessVerdict(DesiredAccess);
  return v == 0 ? kVerdictNone : v;
}

int QVX_AnswerVerdict(const AnswerFacts& a) {
  switch (a.create_action) {
    case kCreateCreated:
      return kVerdictNew;
    case kCreateOverwritten:
    case kCreateSuperseded:
      return kVerdictWritten;
    default:
      return kVerdictRead;
  }
}

int QVX_AttemptVerdict(uint32_t DesiredAccess, uint32_t CreateDisposition) {
  const int mask = QVX_SmbAccessVerdict(DesiredAccess);
  if (mask == kVerdictGone) return kVerdictGone;
  // FILE_SUPERSEDE 0, FILE_CREATE 2, FILE_OVERWRITE 4, FILE_OVERWRITE_IF 5.
  switch (CreateDisposition) {
    case 2:
      return kVerdictNew;
    case 0:
    case 4:
    case 5:
      return kVerdictWritten;
    default:
      return mask != 0 ? mask : kVerdictRead;
  }
}

int QVX_OperationIndex(int verdict) {
  const int i = verdict - kVerdictNone;
  return i < 0 || i >= kAccessInfoChgChrCnt ? 0 : i;
}

const char* QVX_OperationText(int verdict) {
  return nAccessInfoChgChr[QVX_OperationIndex(verdict)];
}

}  // namespace qvx
