#include "capture/capture_hooks.h"

#include <cstring>

#include "app/controller.h"
#include "app/option.h"
#include "serverinfo/server_info.h"
#include "tracking/access_data.h"
#include "tracking/session_tree.h"

namespace qvx {

// Until the share list, the session tables, the list rows and the IP filter exist, these do
// nothing: no shares, no clean-up, no filter entries.

void QVX_CaptureShareRefresh() {
  if (NetWkShareInfo == nullptr) return;
  // Only the records the last read filled (and the one a failed conversion may have left half
  // written) can hold anything: clearing them is clearing the table, without touching all of it
  // for every frame.
  int used = NetShareInfoDataNo + 1;
  if (used < 1 || used > OptionInfo.NetWkInfoCnt) used = OptionInfo.NetWkInfoCnt;
  std::memset(NetWkShareInfo, 0, sizeof(NetWkShareInfoSt) * static_cast<size_t>(used));
  NetShareInfoDataNo = QVX_NetShare_NT(NetWkShareInfo, OptionInfo.NetWkInfoCnt, nullptr);
}

void QVX_CaptureSmbInfoTableDelete(DATA* data) { QVX_SmbInfoTableDelete(data); }

void QVX_CaptureListIndexReset() { nListIndex = 0; }

void QVX_CaptureHideMainWindow(DATA*) {
  if (View* view = QVX_View()) view->PostMinimizeToTray();
}

}  // namespace qvx
