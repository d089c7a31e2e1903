// What the capture loop asks of the share list, the session and tree tables and the main window,
// each through one small function so that the loop itself stays free of their details.
#pragma once

#include "base/data.h"
#include "serverinfo/server_info.h"

namespace qvx {

// Re-reads the server's share list (ShareList::Refresh).
void QVX_CaptureShareRefresh(ShareList& shares);
// Sets the server's session list on its way (it is read off this thread), so that it is there
// when the first frames are handled: a client connected before capture has no log-on to be seen.
void QVX_CaptureSessionsSoon();
// The same, unless the list was read less than a second of capture time ago.
void QVX_CaptureShareRefreshDue(ShareList& shares);
// The periodic session and tree clean-up after each handled frame: QVX_SmbInfoTableDelete(data).
void QVX_CaptureSmbInfoTableDelete(DATA* data);
// A capture run starts with an empty list: nListIndex = 0.
void QVX_CaptureListIndexReset();
// What the capture could not see, totals since the program started: frames the capture dropped,
// gaps in an SMB stream, sessions whose messages cannot be read (encrypted, compressed). The
// status bar and the console say so.
void QVX_CaptureShowCounts(unsigned long long drops, unsigned long long gaps,
                           unsigned long long unreadable);
// Stops since the program started whose capture thread could not read every frame the adapter
// still held (the close cut it short): shown with those counts.
void QVX_CaptureShowStopCut(unsigned long long stops);
// Access-log lines that could not be written since the program started, shown after those counts
// when the number changed.
void QVX_CaptureShowLostLines(unsigned long long lost);
// StartDown: minimises the main window and hides it into the tray (SC_MINIMIZE, then 0x8066).
void QVX_CaptureHideMainWindow(DATA* data);

}  // namespace qvx
