#include "app/listview.h"

#include <atomic>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>

#include "accesslog/access_log.h"
#include "accesslog/log_writer.h"
#include "app/controller.h"
#include "base/dbglog.h"
#include "base/option.h"
#include "base/text.h"
#include "capture/capture_control.h"
#include "capture/capture_loop.h"
#include "connector/qvx_wpcap_con.h"
#include "tracking/access_data.h"

namespace qvx {

namespace {

// The record field behind each column, with the most characters it keeps.
struct ColumnField {
  size_t offset;
  size_t keep;
};
constexpr ColumnField kColumnFields[kListColumns] = {
    {offsetof(AccessDataSt, AccessTime), 19}, {offsetof(AccessDataSt, Action), 11},
    {offsetof(AccessDataSt, TreeID), 15},     {offsetof(AccessDataSt, LoginName), 63},
    {offsetof(AccessDataSt, ClientIP), 63},   {offsetof(AccessDataSt, ServerIP), 63},
    {offsetof(AccessDataSt, ClientMAC), 127}, {offsetof(AccessDataSt, ServerMAC), 127},
    {offsetof(AccessDataSt, SmbCmd), 47},     {offsetof(AccessDataSt, SmbInfo), 127},
    {offsetof(AccessDataSt, Size), 15},       {offsetof(AccessDataSt, Operation), 4},
    {offsetof(AccessDataSt, Path), 599},
};

void SetField(int item, int column, const char* str) {
  if (column < 0 || column >= kListColumns || AccessData == nullptr) return;
  if (item >= AccessDataUsed) AccessDataUsed = item + 1;
  AccessData[item].SameKey = 0;  // the repeat check works it out again from the new texts
  char* field = reinterpret_cast<char*>(&AccessData[item]) + kColumnFields[column].offset;
  CopyTextN(field, kColumnFields[column].keep + 1, str, kColumnFields[column].keep);
}

// What a view shows of a cell: wire values escaped, as in the logs. The record keeps the text as
// it came, for the repeat comparisons.
struct Shown {
  explicit Shown(const char* str) : text(str) {
    const size_t n = std::strlen(str);
    if (!QVX_TextIsPlain(str, n)) {
      QVX_AppendEscaped(escaped, str, n);
      text = escaped.c_str();
    }
  }
  const char* text;
  std::string escaped;
};

std::atomic<unsigned long long> g_rows_dropped{0};
std::atomic<unsigned long long> g_rows_pruned{0};

// A full list lets its oldest tenth go: the rows after them move to the front, in the table and
// in the view, and the newest rows stay.
void MakeRoom(const char* routine) {
  const int cap = OptionInfo.AccessDataCnt;
  if (AccessData == nullptr || cap <= 0 || nListIndex < cap) return;
  int drop = cap / 10;
  if (drop < 1) drop = 1;
  const int keep = nListIndex - drop;
  if (OptionInfo.ErrorLevel >= 6)
    DiagLogLine(DiagLog::kKernel, 1,
                "QVX_D21-003 %s[%d][%ld] : ViewItem DEL : Userd nListIndex = %d : oldest %d rows "
                "make room\r\n",
                routine ? routine : "InsItem", __LINE__, platform().LastError(), nListIndex, drop);
  std::memmove(AccessData, AccessData + drop, sizeof(AccessDataSt) * static_cast<size_t>(keep));
  std::memset(AccessData + keep, 0, sizeof(AccessDataSt) * static_cast<size_t>(drop));
  nListIndex = keep;
  g_rows_dropped.fetch_add(static_cast<unsigned long long>(drop));
  View* view = QVX_View();
  if (OptionInfo.AccessLogOnly != 1 && view) view->DropOldestRows(drop);
}

bool Refused(int item) {
  return item < 0 || item >= OptionInfo.AccessDataCnt || AccessData == nullptr;
}

}  // namespace

std::recursive_mutex& QVX_ListLock() {
  static std::recursive_mutex lock;
  return lock;
}

const char* QVX_RecordCell(int record, int column) {
  if (column < 0 || column >= kListColumns || Refused(record)) return "";
  const char* field =
      reinterpret_cast<const char*>(&AccessData[record]) + kColumnFields[column].offset;
  // Every field keeps its terminator in its last byte, whatever was copied into it.
  return field;
}

std::string QVX_RecordCellText(int record, int column) {
  const char* cell = QVX_RecordCell(record, column);
  const size_t n =
      strnlen(cell, kColumnFields[column < 0 || column >= kListColumns ? 0 : column].keep);
  if (QVX_TextIsPlain(cell, n)) return std::string(cell, n);
  std::string out;
  QVX_AppendEscaped(out, cell, n);
  return out;
}

int InsItem(void* /*hList*/, const char* str, int item, int iSub, int UserChkFlg) {
  std::lock_guard<std::recursive_mutex> lock(QVX_ListLock());
  View* view = QVX_View();
  if (str == nullptr) str = "";
  if (UserChkFlg != 0) {
    if (view) view->InsertRow(item, Shown(str).text);
    return 0;
  }
  if (Refused(item)) {
    QVX_KLOG("QVX_E81-001 InsItem[%d][%ld] : InsItem MAX。\r\n");
    return 1;
  }
  if (iSub == 0) {
    AccessData[item].UseFlg = 1;
    SetField(item, 0, str);
  }
  if (OptionInfo.AccessLogOnly != 1 && view) view->InsertRow(item, Shown(str).text);
  return 0;
}

void SetSubitem(void* /*hList*/, const char* str, int item, int subitem, int UserChkFlg) {
  std::lock_guard<std::recursive_mutex> lock(QVX_ListLock());
  View* view = QVX_View();
  if (str == nullptr) str = "";
  if (UserChkFlg != 0) {
    if (view) view->SetCell(item, subitem, Shown(str).text);
    return;
  }
  if (Refused(item)) {
    QVX_KLOG("QVX_E91-001 InsItem[%d][%ld] : SetSubitem MAX。\r\n");
    return;
  }
  SetField(item, subitem, str);
  if (OptionInfo.AccessLogOnly != 1 && view) view->SetCell(item, subitem, Shown(str).text);
}

int QVX_AppendRow(const LocalTime& when, const char* const cells[kListColumns - 1],
                  const char* routine) {
  char time_text[32];
  DateTimeText(time_text, sizeof time_text, when.year, when.month, when.day, when.hour, when.minute,
               when.second);
  std::lock_guard<std::recursive_mutex> lock(QVX_ListLock());
  MakeRoom(routine);
  int rc = InsItem(data.hListView, time_text, nListIndex, 0, 0);
  if (rc == 0) {
    for (int c = 1; c < kListColumns; ++c)
      SetSubitem(data.hListView, cells[c - 1], nListIndex, c, 0);
    ++nListIndex;
  }
  View* view = QVX_View();
  if (OptionInfo.AccessLogOnly == 0 && OptionInfo.ScrollEndFlg == 1 && view && nListIndex > 0)
    view->MakeRowVisible(nListIndex - 1);
  return rc == 0 ? 0 : 1;
}

void QVX_StatusLogin(unsigned long sessions) {
  View* view = QVX_View();
  if (!view) return;
  char text[64];
  std::snprintf(text, sizeof text, "Login：%lu", sessions);
  view->SetStatusText(0, text);
}

void QVX_StatusLogFlag() {
  View* view = QVX_View();
  const bool written = OptionInfo.LogFileWriteFlg == 1 && QVX_AccessLogStartUpProblem().empty();
  if (view) view->SetStatusText(1, written ? "LOG" : " ");
}

unsigned long long QVX_ListRowsDropped() { return g_rows_dropped.load(); }
unsigned long long QVX_ListRowsPruned() { return g_rows_pruned.load(); }
void QVX_ListCountPruned(int rows) {
  if (rows > 0) g_rows_pruned.fetch_add(static_cast<unsigned long long>(rows));
}

void QVX_StatusCapture() {
  View* view = QVX_View();
  if (!view) return;
  std::string state;
  char reason[kQvxErrBufSize] = {};
  const int file = QvxWPcapConFileState(reason);
  if (data.LoggingFlg != 1) {
    state = QVX_CaptureStartProblem().empty() ? "Stopped"
                                              : "Start failed: " + QVX_CaptureStartProblem();
  } else if (file == kQvxFileDamaged) {
    state = std::string("Capture file damaged after ") + std::to_string(QvxWPcapConFrameCount()) +
            " frames: " + reason;
  } else if (file == kQvxFileEnd) {
    state =
        "Capture file replayed to its end (" + std::to_string(QvxWPcapConFrameCount()) + " frames)";
  } else {
    state = std::string("Capturing ") + OptionInfo.IpAddress + " on " + QVX_CaptureAdapter();
  }
  view->SetStatusText(kStatusCapture, state.c_str());
  char counts[288];
  const std::string writer = QVX_LogWriterStatus();
  std::snprintf(counts, sizeof counts,
                "Lines %llu | Rows dropped %llu, pruned %llu | Frames "
                "dropped %llu%s%s",
                static_cast<unsigned long long>(QVX_AccessLogLinesWritten()), g_rows_dropped.load(),
                g_rows_pruned.load(), static_cast<unsigned long long>(QVX_CaptureDroppedTotal()),
                writer.empty() ? "" : " | ", writer.c_str());
  view->SetStatusText(kStatusCounts, counts);
}

}  // namespace qvx
