#include "app/list_sink.h"

#include <mutex>
#include <string>

#include "accesslog/csv_sink.h"
#include "accesslog/log_writer.h"
#include "app/listview.h"
#include "audit/events.h"
#include "base/dbglog.h"
#include "base/option.h"
#include "platform/platform.h"
#include "tracking/access_data.h"

namespace qvx {

void ListSink::Write(const AccessEvent& e) {
  if (!e.to_list) return;
  const std::string_view fields[kListColumns - 1] = {
      e.action,     e.tree,    e.user, e.client, e.server,    e.client_mac,
      e.server_mac, e.command, e.info, e.size,   e.operation, e.path};
  std::string cells_text[kListColumns - 1];
  const char* cells[kListColumns - 1];
  for (int i = 0; i < kListColumns - 1; ++i) {
    cells_text[i].assign(fields[i]);
    cells[i] = cells_text[i].c_str();
  }
  // A refused row is traced at every level (QVX_AppendRow itself traces from level 6).
  if (OptionInfo.ErrorLevel < 6 && nListIndex >= OptionInfo.AccessDataCnt)
    QVX_KLOG("QVX_D21-003 InsItem[%d][%ld] : ViewItem DEL : Userd nListIndex = %d \r\n",
             nListIndex);
  QVX_AppendRow(e.when, cells, "InsItem");
}

namespace {
enum Column : int { kColAction = 1, kColTreeId = 2, kColLogin = 3 };
}  // namespace

bool ListSink::TreeBound(std::string_view wait_tree, std::string_view tree, std::string_view user,
                         const char* trace_fmt) {
  const std::string wait(wait_tree);
  std::lock_guard<std::recursive_mutex> lock(QVX_ListLock());
  if (AccessData == nullptr) return false;
  for (int i = 0; i < nListIndex; ++i) {
    if (trace_fmt && QVX_TraceLevel(6))
      DiagLogLine(DiagLog::kKernel, 1, trace_fmt, __LINE__, platform().LastError(),
                  AccessData[i].TreeID, wait.c_str());
    if (wait != AccessData[i].TreeID) continue;
    SetSubitem(nullptr, std::string(tree).c_str(), i, kColTreeId, 0);
    SetSubitem(nullptr, "connect", i, kColAction, 0);
    SetSubitem(nullptr, std::string(user).c_str(), i, kColLogin, 0);
    return true;
  }
  return false;
}

ListSink& QVX_ListSink() {
  static ListSink sink;
  return sink;
}

void QVX_InstallStandardSinks() {
  EventSinks& sinks = QVX_Sinks();
  sinks.Clear();
  // The files are written by the log writer's thread; the list takes its rows on the capture
  // thread.
  LogWriter& writer = QVX_LogWriter();
  writer.ClearOutputs();
  writer.Add(&QVX_CsvLogSink());
  sinks.Add(&writer);
  sinks.Add(&QVX_ListSink());
}

}  // namespace qvx
