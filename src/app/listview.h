// The list of the main window as every handler writes it: rows that are also access records, the
// row-append procedure with the reset of a full list, and the status bar texts.
#pragma once

#include <mutex>
#include <string>

#include "platform/platform.h"

namespace qvx {

inline constexpr int kListColumns = 13;

// Held while the access records behind the list are written (rows appended, cells rewritten, the
// oldest rows let go) and while the window reads them to draw, copy or export rows.
std::recursive_mutex& QVX_ListLock();
// Column `column` of record `record` as stored (empty for no such record); under QVX_ListLock.
const char* QVX_RecordCell(int record, int column);
// The same as the list shows it: wire values escaped, as in the logs.
std::string QVX_RecordCellText(int record, int column);

// Starts row item with str in column iSub. With UserChkFlg 0 the row is an access record too and
// is refused (1, E81-001) when item is not below AccessDataCnt. 0 otherwise.
int InsItem(void* hList, const char* str, int item, int iSub, int UserChkFlg);
// Sets column subitem of row item (refused with E91-001 like InsItem).
void SetSubitem(void* hList, const char* str, int item, int subitem, int UserChkFlg);

// Appends one access row at nListIndex: the time of when in column 0, cells[0..11] in columns
// 1..12. A full list (AccessDataCnt rows) first lets its oldest tenth go (routine names the
// "ViewItem DEL" trace), so the newest rows always stay; the rows let go are counted. Scrolls to
// the newest row when ScrollEndFlg is 1. 0 when added, 1 when there is no table.
int QVX_AppendRow(const LocalTime& when, const char* const cells[kListColumns - 1],
                  const char* routine);

// Rows that left the list without the user asking: made room for newer ones, or pruned because
// their client left the server's sessions. The access log keeps them all.
unsigned long long QVX_ListRowsDropped();
unsigned long long QVX_ListRowsPruned();
// Counts rows a view deletes for the departed-clients rule.
void QVX_ListCountPruned(int rows);

// Status bar part 0 with the session count; part 1 "LOG" while the access log is written (on,
// and its start-up found it usable), " " otherwise.
void QVX_StatusLogin(unsigned long sessions);
void QVX_StatusLogFlag();

// Status bar parts the window refreshes once a second: part 3 what capture does (the address and
// adapter while capturing, "Stopped", why the last start failed, how a replayed file ended) and
// part 4 the counts (access-log lines written, rows dropped from the list, frames dropped by the
// capture).
inline constexpr int kStatusCapture = 3;
inline constexpr int kStatusCounts = 4;
void QVX_StatusCapture();

}  // namespace qvx
