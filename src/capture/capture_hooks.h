// What the capture loop asks of the share list, the session and tree tables, the list rows and
// the IP filter. Each call is a small function here so that the loop stays as it is when those
// parts arrive: their owners fill these bodies in.
#pragma once

#include "app/data.h"

namespace qvx {

// Re-reads the server's share list: NetShareInfoDataNo = QVX_NetShare_NT(NetWkShareInfo,
// NetWkInfoCnt, 0).
void QVX_CaptureShareRefresh();
// The periodic session and tree clean-up after each handled frame: QVX_SmbInfoTableDelete(data).
void QVX_CaptureSmbInfoTableDelete(DATA* data);
// A capture run starts with an empty list: nListIndex = 0.
void QVX_CaptureListIndexReset();
// StartDown: minimises the main window and hides it into the tray (SC_MINIMIZE, then 0x8066).
void QVX_CaptureHideMainWindow(DATA* data);

// The IP filter as read at start-up: IpAddFilterInfoDataNo entries, each one line of
// IpAddFilterInfoData (number, validity period, flags, address; fixed character positions).
int QVX_CaptureIpFilterCount();
const char* QVX_CaptureIpFilterLine(int i);
// ExclusionDateChk: 0 when today lies within the period (or it is all zeros).
int QVX_CaptureExclusionDateChk(char* OutExcDate, const char* sYear, const char* sMon,
                                const char* sDay, const char* eYear, const char* eMon,
                                const char* eDay);

}  // namespace qvx
