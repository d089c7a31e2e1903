#include "app/tables.h"

#include <cstdlib>

#include "app/alloc.h"
#include "app/dbglog.h"
#include "app/option.h"

namespace qvx {

char*** HostsData = nullptr;
char* LogData = nullptr;

bool QVX_AllocTables() {
  QVX_FreeTables();
  HostsData = mallocChar3D(kHostsDataEntries, 2, 256);
  LogData = static_cast<char*>(std::calloc(kLogDataSize, 1));
  return HostsData != nullptr && LogData != nullptr;
}

void QVX_ClearTables() {
  // The session, tree, share, session-list and access tables are cleared here as they join.
}

void QVX_FreeTables() {
  if (HostsData == nullptr && LogData == nullptr) return;
  QVX_ELOG("QVX_I02-051 QVX_Dlg_Proc[%d][%ld] : SessionSetup free \r\n");
  QVX_ELOG("QVX_I02-051 QVX_Dlg_Proc[%d][%ld] : TreeConnect free \r\n");
  QVX_ELOG("QVX_I02-051 QVX_Dlg_Proc[%d][%ld] : NetWkShareInfo free \r\n");
  QVX_ELOG("QVX_I02-051 QVX_Dlg_Proc[%d][%ld] : NetWkShareInfoBuf free \r\n");
  QVX_ELOG("QVX_I02-051 QVX_Dlg_Proc[%d][%ld] : NetWkSessionInfo free \r\n");
  QVX_ELOG("QVX_I02-051 QVX_Dlg_Proc[%d][%ld] : AccessData free \r\n");
  freeChar3D(HostsData);
  HostsData = nullptr;
  std::free(LogData);
  LogData = nullptr;
}

}  // namespace qvx
