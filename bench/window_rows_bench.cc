// Rows per second the main window takes in by itself, under Wine: the real main window of
// Quorvix.exe (the same start-up and dialog procedure), and a second thread that appends access
// rows through the list's sink, as the capture thread does, as fast as it can while the window
// thread pumps its messages. No capture and no access log: only the list's own cost is timed.
//
//   window_rows_bench.exe [ROWS [PACE]]   (ROWS default 200,000; Quorvix.ini beside it holds
//                                          AccessDataCnt of at least ROWS, so that no row is let
//                                          go. PACE: rows per second the producer keeps to, as a
//                                          capture would, instead of as fast as it can)
//
// Timed from the first append until the list view itself reports ROWS items and has then been
// painted once in full (the list invalidated and updated on the window's thread). The producer's
// time blocked is the time it waited for the list's lock while the window held it. Prints one
// "rows/s" line; bench/window_bench.sh takes the best of several runs.
#include <windows.h>
// windows.h first
#include <commctrl.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/list_sink.h"
#include "app/listview.h"
#include "app/startup.h"
#include "app/win32/dialog_driver.h"
#include "app/win32/main_window.h"
#include "base/access_event.h"
#include "base/dbglog.h"
#include "resources/resource.h"

namespace {

using qvx::AccessEvent;

double Seconds() {
  static const double freq = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return static_cast<double>(f.QuadPart);
  }();
  LARGE_INTEGER c;
  QueryPerformanceCounter(&c);
  return static_cast<double>(c.QuadPart) / freq;
}

// The texts of the rows, made before the timing starts: what differs from row to row (path,
// client, size, time) as a capture of a busy share would have it.
struct Rows {
  std::vector<std::string> path, client, client_mac, size;
  std::vector<qvx::LocalTime> when;
};

constexpr const char* kUsers[] = {"yamada.taro", "suzuki", "qvxuser", "tanaka.hanako"};
constexpr const char* kCommands[] = {"SMB2_CREATE", "SMB2_READ", "SMB2_WRITE", "SMB2_CREATE"};
constexpr const char* kInfos[] = {"ファイルのオープン／作成", "ファイルの読み込み",
                                  "ファイルへの書き込み", "ファイルのオープン／作成"};
constexpr const char* kOperations[] = {"Rd  ", "Rd  ", "Wt  ", "New "};
constexpr const char* kFolders[] = {"営業部/2026年度/見積書", "docs/projects/backup",
                                    "経理/月次報告", "share/common/templates"};

Rows MakeRows(int n) {
  Rows r;
  r.path.reserve(n);
  char text[160];
  for (int i = 0; i < n; ++i) {
    std::snprintf(text, sizeof text, "/srv/quorvix-test/share/%s/report_%06d.xlsx", kFolders[i % 4],
                  i);
    r.path.emplace_back(text);
    std::snprintf(text, sizeof text, "10.214.%d.%d", 1 + i % 3, 2 + i % 200);
    r.client.emplace_back(text);
    std::snprintf(text, sizeof text, "00-15-5D-%02X-%02X-%02X", i % 3, (i / 3) % 200, i % 200);
    r.client_mac.emplace_back(text);
    std::snprintf(text, sizeof text, "%d", (i * 7919) % 1048576);
    r.size.emplace_back(text);
    qvx::LocalTime t;
    t.year = 2026;
    t.month = 12;
    t.day = 10;
    const int s = i / 40;  // some 40 accesses a second
    t.hour = 9 + s / 3600 % 10;
    t.minute = s / 60 % 60;
    t.second = s % 60;
    r.when.push_back(t);
  }
  return r;
}

AccessEvent EventOf(const Rows& r, int i, const std::string& tree) {
  AccessEvent e;
  e.when = r.when[i];
  e.action = "access";
  e.tree = tree;
  e.user = kUsers[i % 4];
  e.client = r.client[i];
  e.server = "10.214.0.1";
  e.client_mac = r.client_mac[i];
  e.server_mac = "00-15-5D-00-00-01";
  e.command = kCommands[i % 4];
  e.info = kInfos[i % 4];
  e.size = r.size[i];
  e.operation = kOperations[i % 4];
  e.path = r.path[i];
  e.to_records = false;  // the list only
  return e;
}

// The list view, subclassed to count its paints and to paint it in full on its own thread.
constexpr UINT kMsgPaintAll = WM_APP + 0x51;
WNDPROC g_list_proc = nullptr;
std::atomic<long> g_paints{0};

LRESULT CALLBACK CountingListProc(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_PAINT) g_paints.fetch_add(1);
  if (msg == kMsgPaintAll) {
    InvalidateRect(w, nullptr, TRUE);
    UpdateWindow(w);
    return 1;
  }
  return CallWindowProcA(g_list_proc, w, msg, wp, lp);
}

int ItemCount(HWND list) {
  DWORD_PTR n = 0;
  if (!SendMessageTimeoutA(list, LVM_GETITEMCOUNT, 0, 0, SMTO_NORMAL, 5000, &n)) return -1;
  return static_cast<int>(n);
}

struct Result {
  bool ok = false;
  std::string problem;
  double seconds = 0, producer_seconds = 0, count_seconds = 0, paint_seconds = 0;
  double blocked_seconds = 0, longest_append = 0;
  long waits = 0, paints = 0;
};

Result Run(int n, int pace, const Rows& rows) {
  Result res;
  qvx::Win32View& view = qvx::QVX_MainView();
  for (int i = 0; i < 1200 && !(view.list() && view.MainWindowVisible()); ++i) Sleep(50);
  HWND list = view.list();
  if (!list) {
    res.problem = "the main window did not come up";
    return res;
  }
  Sleep(500);  // the window's first paint and the tray are done before timing
  if (ItemCount(list) != 0) {
    res.problem = "the list is not empty at the start";
    return res;
  }
  g_list_proc = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrA(list, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CountingListProc)));

  const std::string tree = "1771639982";
  const double start = Seconds();
  std::thread producer([&] {
    std::recursive_mutex& lock = qvx::QVX_ListLock();
    for (int i = 0; i < n; ++i) {
      if (pace > 0 && i % 50 == 0)
        while (Seconds() - start < static_cast<double>(i) / pace) Sleep(1);
      const AccessEvent e = EventOf(rows, i, tree);
      const double a = Seconds();
      if (!lock.try_lock()) {
        lock.lock();
        res.blocked_seconds += Seconds() - a;
        ++res.waits;
      }
      qvx::QVX_ListSink().Write(e);
      lock.unlock();
      const double took = Seconds() - a;
      if (took > res.longest_append) res.longest_append = took;
    }
    res.producer_seconds = Seconds() - start;
  });

  int count = 0;
  const double give_up = start + 600;
  while ((count = ItemCount(list)) != n && Seconds() < give_up) {
    if (count > n) break;
    Sleep(2);
  }
  res.count_seconds = Seconds() - start;
  res.paints = g_paints.load();  // before the full paint below
  if (count == n) SendMessageA(list, kMsgPaintAll, 0, 0);
  res.seconds = Seconds() - start;
  res.paint_seconds = res.seconds - res.count_seconds;
  producer.join();
  if (count != n) {
    res.problem = "the list shows " + std::to_string(count) + " rows, not " + std::to_string(n);
    return res;
  }
  // Every row is there and in order: the first and the last row's path.
  const std::string first = qvx::test::ListCell(list, 0, 12),
                    last = qvx::test::ListCell(list, n - 1, 12);
  if (first != rows.path[0] || last != rows.path[n - 1]) {
    res.problem = "rows out of place: first path '" + first + "', last '" + last + "'";
    return res;
  }
  res.ok = true;
  return res;
}

}  // namespace

int main(int argc, char** argv) {
  const int n = argc > 1 ? std::atoi(argv[1]) : 200000;
  const int pace = argc > 2 ? std::atoi(argv[2]) : 0;
  if (n <= 0 || pace < 0) {
    std::fprintf(stderr, "usage: window_rows_bench.exe [ROWS [PACE]]\n");
    return 2;
  }
  const Rows rows = MakeRows(n);
  qvx::hInst = GetModuleHandleA(nullptr);
  qvx::QVX_InstallStandardSinks();
  const char* args[] = {"SC"};  // no message boxes
  if (!qvx::QVX_StartUp(1, args)) return 1;

  Result res;
  std::thread runner([&] {
    res = Run(n, pace, rows);
    // The window ends as from its menu, once the producer is done with the records.
    HWND main = static_cast<HWND>(qvx::QVX_MainView().MainWindow());
    if (main) PostMessageA(main, WM_COMMAND, IDM_END, 0);
  });
  qvx::QVX_RunMainWindow(static_cast<HINSTANCE>(qvx::hInst), false);
  runner.join();

  if (!res.ok) {
    std::printf("window_rows_bench: FAIL: %s\n", res.problem.c_str());
    return 1;
  }
  std::printf(
      "%d rows into the window in %.3f s: %.0f rows/s (list at %d items after %.3f s, then a full "
      "paint %.1f ms; the producer done after %.3f s, the list painted %ld times meanwhile)\n",
      n, res.seconds, n / res.seconds, n, res.count_seconds, res.paint_seconds * 1000,
      res.producer_seconds, res.paints);
  std::printf(
      "producer blocked %.1f ms in all (%ld waits for the list's lock), longest append %.2f ms\n",
      res.blocked_seconds * 1000, res.waits, res.longest_append * 1000);
  return 0;
}
