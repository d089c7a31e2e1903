// The list of the main window as every handler writes it: rows that are also access records, the
// row-append procedure with the reset of a full list, and the status bar texts.
#pragma once

#include "platform/platform.h"

namespace qvx {

inline constexpr int kListColumns = 13;

// Starts row item with str in column iSub. With UserChkFlg 0 the row is an access record too and
// is refused (1, E81-001) when item is not below AccessDataCnt. 0 otherwise.
int InsItem(void* hList, const char* str, int item, int iSub, int UserChkFlg);
// Sets column subitem of row item (refused with E91-001 like InsItem).
void SetSubitem(void* hList, const char* str, int item, int subitem, int UserChkFlg);

// Appends one access row at nListIndex: the time of when in column 0, cells[0..11] in columns
// 1..12. A full list is emptied instead (routine names the "ViewItem DEL" trace) and the row is
// not added. Scrolls to the newest row when ScrollEndFlg is 1. 0 when added, 1 when refused.
int QVX_AppendRow(const LocalTime& when, const char* const cells[kListColumns - 1],
                  const char* routine);

// Status bar part 0 with the session count, part 1 "LOG" or " " as LogFileWriteFlg says.
void QVX_StatusLogin(unsigned long sessions);
void QVX_StatusLogFlag();

}  // namespace qvx
