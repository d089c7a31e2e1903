#include "accesslog/csv_sink.h"

#include <string>

#include "accesslog/access_log.h"
#include "base/option.h"

namespace qvx {

void CsvLogSink::Write(const AccessEvent& e) {
  if (!e.to_records || OptionInfo.LogFileWriteFlg != 1) return;
  std::string field;
  field.reserve(e.path.size() + e.path_detail.size());
  field.append(e.path).append(e.path_detail);
  std::string quoted(2 * field.size() + 3, '\0');
  char when[32];
  QVX_AccessLogJoin({QVX_LineStamp(e.when, when, sizeof when),
                     ",",
                     e.action,
                     ",",
                     e.tree,
                     ",",
                     e.user,
                     ",",
                     e.client,
                     ",",
                     e.server,
                     ",",
                     e.client_mac,
                     ",",
                     e.server_mac,
                     ",",
                     e.command,
                     ",",
                     e.info,
                     ",",
                     e.size,
                     ",",
                     e.operation,
                     ",",
                     QVX_PathField(field.c_str(), quoted.data(), quoted.size()),
                     "\r\n"});
}

bool CsvLogSink::WantsRecords() const { return OptionInfo.LogFileWriteFlg == 1; }

void CsvLogSink::Flush() { QVX_AccessLogFlush(); }

CsvLogSink& QVX_CsvLogSink() {
  static CsvLogSink sink;
  return sink;
}

}  // namespace qvx
