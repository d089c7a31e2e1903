#include "capture/capture_hooks.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

#include "app/controller.h"
#include "app/listview.h"
#include "app/maintenance.h"
#include "base/option.h"
#include "capture/capture_loop.h"
#include "serverinfo/server_info.h"
#include "tracking/access_data.h"
#include "tracking/session_tree.h"

namespace qvx {

// Until the share list, the session tables, the list rows and the IP filter exist, these do
// nothing: no shares, no clean-up, no filter entries.

namespace {
// Capture time of the last share read; the list is read again once a second of capture time
// has passed, which is soon enough for a changed smb.conf or share list.
int64_t g_shares_read_us = INT64_MIN;
constexpr int64_t kShareRefreshUs = 1000000;
}  // namespace

void QVX_CaptureShareRefreshDue(ShareList& shares) {
  const int64_t now = QVX_CaptureHandledTimeUs();
  if (g_shares_read_us != INT64_MIN && now >= g_shares_read_us &&
      now - g_shares_read_us < kShareRefreshUs)
    return;
  QVX_CaptureShareRefresh(shares);
}

void QVX_CaptureSessionsSoon() {
  std::vector<ServerSession> sessions;
  platform().ListSessions(&sessions);
}

void QVX_CaptureShareRefresh(ShareList& shares) {
  g_shares_read_us = QVX_CaptureHandledTimeUs();
  shares.Refresh();
}

void QVX_CaptureSmbInfoTableDelete(DATA* data) { QVX_SmbInfoTableDelete(data); }

// The window's thread counts the records it draws from nListIndex.
void QVX_CaptureListIndexReset() {
  std::lock_guard<std::recursive_mutex> lock(QVX_ListLock());
  nListIndex = 0;
}

namespace {
// The counts the status bar shows last; the capture thread and the timer each change theirs.
std::atomic<unsigned long long> g_shown_drops{0}, g_shown_gaps{0}, g_shown_unreadable{0},
    g_shown_lost{0}, g_shown_cut{0};

void ShowCounts() {
  View* view = QVX_View();
  if (view == nullptr) return;
  char text[256];
  size_t n = 0;
  const auto add = [&](unsigned long long count, const char* what) {
    if (count == 0 || n >= sizeof text) return;
    n += static_cast<size_t>(
        std::snprintf(text + n, sizeof text - n, "%s%llu %s", n ? ", " : "", count, what));
  };
  add(g_shown_drops.load(), "frames dropped by the capture");
  add(g_shown_gaps.load(), "gaps in the SMB stream");
  add(g_shown_unreadable.load(), "encrypted or compressed sessions not audited");
  add(g_shown_cut.load(), "stops that left captured frames unread");
  add(g_shown_lost.load(), "access-log lines lost");
  if (n > 0) view->SetStatusText(2, text);
}
}  // namespace

void QVX_CaptureShowCounts(unsigned long long drops, unsigned long long gaps,
                           unsigned long long unreadable) {
  g_shown_drops = drops;
  g_shown_gaps = gaps;
  g_shown_unreadable = unreadable;
  ShowCounts();
}

void QVX_CaptureShowStopCut(unsigned long long stops) {
  g_shown_cut = stops;
  ShowCounts();
}

void QVX_CaptureShowLostLines(unsigned long long lost) {
  if (g_shown_lost.exchange(lost) == lost) return;
  ShowCounts();
}

void QVX_CaptureHideMainWindow(DATA*) {
  if (View* view = QVX_View()) view->PostMinimizeToTray();
}

}  // namespace qvx
