#include "app/maintenance.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "app/listview.h"
#include "app/tables.h"
#include "audit/departed.h"
#include "base/dbglog.h"
#include "base/option.h"
#include "base/view.h"
#include "capture/capture_loop.h"
#include "names/nbt.h"
#include "platform/platform.h"
#include "serverinfo/server_info.h"
#include "tracking/access_data.h"
#include "tracking/session_tree.h"

namespace qvx {

int QVX_SmbInfoTableDelete(DATA* data) {
  QVX_DBG();
  const LocalTime now = platform().Now();
  View* view = QVX_View();
  if (static_cast<time_t>(now.t) >= data->NextSessionChkTime) {
    data->NextSessionChkTime = static_cast<time_t>(now.t) + OptionInfo.RefleshTime;
    if (QVX_TraceLevel(6))
      QVX_KLOG("QVX_D10-001 QVX_SmbInfoTableDelete[%d][%ld] QVX_NetSession_NT start\r\n");
    const int n =
        QVX_NetSession_NT(NetWkSessionInfo, OptionInfo.NetWkInfoCnt, nullptr, nullptr, nullptr);
    if (QVX_TraceLevel(6)) {
      QVX_KLOG("QVX_D10-001 QVX_SmbInfoTableDelete[%d][%ld] QVX_NetSession_NT end\r\n");
      QVX_KLOG(
          "QVX_D21-003 QVX_SmbInfoTableDelete[%d][%ld] : S : nListIndex = %d : NetWkSessionICnt = "
          "%d\r\n",
          nListIndex, n);
    }
    // Rows of clients without a session leave the list. The rows that stay move up in one pass
    // (deleting the rows one at a time would move every later row once per deleted row). The
    // window's thread draws from these records: they move under the list's lock, taken after the
    // session list was read so that drawing never waits on the server.
    if (AccessData) {
      std::lock_guard<std::recursive_mutex> lock(QVX_ListLock());
      const int rows = nListIndex;
      int count = nListIndex;  // rows still in the list
      int kept = 0;  // the index the next row that stays takes: its index once the rest is gone
      for (int i = 0; i < rows; ++i) {
        // Only the address of "name(addr)" can be compared with the server's sessions.
        size_t addr_len = 0;
        const char* addr_at = QVX_RowAddress(AccessData[i].ClientIP, &addr_len);
        const std::string addr(addr_at, addr_len);
        if (QVX_TraceLevel(6))
          QVX_KLOG(
              "QVX_D21-003 QVX_SmbInfoTableDelete[%d][%ld] : LP : nListIndex = %d : ListCnt = %d "
              ": NetWkSessionICnt = %d\r\n",
              nListIndex, kept, n);
        if (QVX_SessionHasClient(n, addr.c_str())) {
          if (kept != i) AccessData[kept] = AccessData[i];
          ++kept;
          continue;
        }
        if (QVX_TraceLevel(6))
          QVX_KLOG(
              "QVX_D21-003 QVX_SmbInfoTableDelete[%d][%ld] : DEL : nListIndex = %d : ListCnt = %d "
              ": nCount = %d\r\n",
              nListIndex, kept, count);
        if (OptionInfo.AccessLogOnly == 0 && view) view->DeleteRow(kept);
        --count;
        --nListIndex;
      }
      // nListIndex is now kept: one less for every row that left.
      if (kept < rows)
        std::memset(&AccessData[kept], 0, sizeof(AccessDataSt) * static_cast<size_t>(rows - kept));
    }
    QVX_StatusLogin(static_cast<unsigned long>(n));

    unsigned long tf = 0, tw = 0, tu = 0, sf = 0, sw = 0, su = 0, lu = 0;
    // Slots past the mark are free.
    const LogonTables& tables = QVX_ProgramLogonTables();
    const int trees = static_cast<int>(tables.tree_count());
    const int slots = tables.SlotsToRead(trees);
    tf = static_cast<unsigned long>(trees - slots);
    for (int i = 0; i < slots; ++i) {
      const uint16_t f = tables.tree(i).Flg;
      tf += f == kSlotFree;
      tw += f == kSlotWaiting;
      tu += f == kSlotBound;
    }
    for (size_t i = 0; i < tables.session_count(); ++i) {
      const uint16_t f = tables.sessions()[i].Flg;
      sf += f == kSlotFree;
      sw += f == kSlotWaiting;
      su += f == kSlotBound;
    }
    const unsigned long rows =
        OptionInfo.AccessDataCnt > 0 ? static_cast<unsigned long>(OptionInfo.AccessDataCnt) : 0;
    // Records past the highest one written are all free: only those below it are looked at.
    const unsigned long used =
        std::min(rows, static_cast<unsigned long>(AccessDataUsed > 0 ? AccessDataUsed : 0));
    for (unsigned long i = 0; AccessData && i < used; ++i) lu += AccessData[i].UseFlg != 0;
    if (QVX_TraceLevel(9))
      QVX_KLOG("QVX_D21-003 QVX_SmbInfoTableDelete[%d][%ld] : F:%ld U:%ld W:%ld \r\n",
               static_cast<long>(sf), static_cast<long>(su), static_cast<long>(sw));
    if (view) {
      char text[256];
      std::snprintf(text, sizeof text,
                    "Connection：F=%lu W=%lu U=%lu | SessionSetup : F=%lu W=%lu U=%lu | ListData "
                    "F=%lu U=%lu | ComputerNameErrList：%d",
                    tf, tw, tu, sf, sw, su, rows - lu, lu, ComputerNameErrListCnt);
      // Missed frames stay in view: the periodic text must not hide them.
      if (const unsigned long long dropped = QVX_CaptureDroppedTotal()) {
        const size_t n = std::strlen(text);
        std::snprintf(text + n, sizeof text - n, " | %llu frames dropped by the capture", dropped);
      }
      view->SetStatusText(2, text);
    }
    QVX_TreeIDTableDelete(data);
  }
  if (OptionInfo.AccessLogOnly == 0 && OptionInfo.ScrollEndFlg == 1 && view && nListIndex > 0)
    view->MakeRowVisible(nListIndex - 1);
  QVX_DBG();
  return 0;
}

}  // namespace qvx
