#include "app/tables.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "app/listview.h"
#include "base/alloc.h"
#include "base/dbglog.h"
#include "base/option.h"
#include "base/view.h"
#include "platform/platform.h"
#include "serverinfo/server_info.h"
#include "tracking/access_data.h"
#include "tracking/session_tree.h"

namespace qvx {

bool QVX_AllocTables() {
  QVX_FreeTables();
  HostsData = mallocChar3D(kHostsDataEntries, 2, 256);
  LogData = static_cast<char*>(std::calloc(kLogDataSize, 1));
  const size_t net = OptionInfo.NetWkInfoCnt > 0 ? static_cast<size_t>(OptionInfo.NetWkInfoCnt) : 0;
  const size_t rows =
      OptionInfo.AccessDataCnt > 0 ? static_cast<size_t>(OptionInfo.AccessDataCnt) : 0;
  NetWkShareInfo = static_cast<NetWkShareInfoSt*>(std::calloc(net + 1, sizeof(NetWkShareInfoSt)));
  NetWkShareInfoBuf =
      static_cast<NetWkShareInfoSt*>(std::calloc(net + 1, sizeof(NetWkShareInfoSt)));
  NetWkSessionInfo =
      static_cast<NetWkSessionInfoStSt*>(std::calloc(net + 1, sizeof(NetWkSessionInfoStSt)));
  // One spare byte, as the records have always been allocated.
  AccessData = static_cast<AccessDataSt*>(std::calloc(rows * sizeof(AccessDataSt) + 1, 1));
  // The records fill in row by row as accesses come: in large pages the first touch of each
  // costs one fault per 2 MB instead of one per 4 KB. Only advice; untouched pages stay unused.
  if (AccessData) platform().AdviseLargePages(AccessData, rows * sizeof(AccessDataSt));
  AccessDataUsed = 0;
  const bool sessions_ok = QVX_SessionTreeAlloc();
  NetShareInfoDataNo = 0;
  QVX_ProgramShares().capacity = NetWkShareInfo && NetWkShareInfoBuf ? static_cast<int>(net) : 0;
  nListIndex = 0;
  return sessions_ok && HostsData != nullptr && LogData != nullptr && NetWkShareInfo != nullptr &&
         NetWkShareInfoBuf != nullptr && NetWkSessionInfo != nullptr && AccessData != nullptr;
}

void QVX_ClearTables() {
  QVX_SessionTreeClear();
  const size_t net = OptionInfo.NetWkInfoCnt > 0 ? static_cast<size_t>(OptionInfo.NetWkInfoCnt) : 0;
  if (NetWkShareInfo) std::memset(NetWkShareInfo, 0, net * sizeof(NetWkShareInfoSt));
  if (NetWkShareInfoBuf) std::memset(NetWkShareInfoBuf, 0, net * sizeof(NetWkShareInfoSt));
  if (NetWkSessionInfo) std::memset(NetWkSessionInfo, 0, net * sizeof(NetWkSessionInfoStSt));
  QVX_NetSessionForget();
  {
    // The window may be drawing from the records.
    std::lock_guard<std::recursive_mutex> lock(QVX_ListLock());
    QVX_AccessDataClear();
  }
  if (View* view = QVX_View()) view->RecordsCleared();
}

void QVX_FreeTables() {
  if (HostsData == nullptr && LogData == nullptr && NetWkShareInfo == nullptr &&
      AccessData == nullptr)
    return;
  QVX_ELOG("QVX_I02-051 QVX_Dlg_Proc[%d][%ld] : SessionSetup free \r\n");
  QVX_ELOG("QVX_I02-051 QVX_Dlg_Proc[%d][%ld] : TreeConnect free \r\n");
  QVX_SessionTreeFree();
  QVX_ELOG("QVX_I02-051 QVX_Dlg_Proc[%d][%ld] : NetWkShareInfo free \r\n");
  std::free(NetWkShareInfo);
  NetWkShareInfo = nullptr;
  NetShareInfoDataNo = 0;
  QVX_ProgramShares().capacity = 0;
  QVX_ELOG("QVX_I02-051 QVX_Dlg_Proc[%d][%ld] : NetWkShareInfoBuf free \r\n");
  std::free(NetWkShareInfoBuf);
  NetWkShareInfoBuf = nullptr;
  QVX_ELOG("QVX_I02-051 QVX_Dlg_Proc[%d][%ld] : NetWkSessionInfo free \r\n");
  std::free(NetWkSessionInfo);
  NetWkSessionInfo = nullptr;
  QVX_NetSessionForget();
  QVX_ELOG("QVX_I02-051 QVX_Dlg_Proc[%d][%ld] : AccessData free \r\n");
  std::free(AccessData);
  AccessData = nullptr;
  nListIndex = 0;
  freeChar3D(HostsData);
  HostsData = nullptr;
  std::free(LogData);
  LogData = nullptr;
}

}  // namespace qvx
