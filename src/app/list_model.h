// What the list of the main window shows of the access records: which records, in which order
// (a column sort), which are hidden (a filter, or a clear of the list at ViewRefreshTime), and the
// texts a view draws, copies and exports. The records stay where they are (AccessData); the model
// keeps only their order. Changes of the records' structure (oldest rows let go, rows pruned,
// the list cleared) are noted from any thread and applied by Refresh on the window's thread.
#pragma once

#include <string>
#include <vector>

namespace qvx {

class ListModel {
 public:
  // --- any thread: the records changed (taken under QVX_ListLock) ---
  // The oldest n records were let go: every later record moved n places up.
  void NoteDropped(int n);
  // Record k was removed: every later record moved one place up.
  void NoteDeleted(int k);
  // The list is cleared: the records there now are no longer shown (the records stay).
  void NoteCleared();
  // The records were emptied (capture starts again): a new list.
  void NoteReset();

  // --- the window's thread ---
  struct Change {
    bool rebuilt = false;  // the order was made anew: rows are no longer where they were
    int dropped = 0;       // records let go from the front since the last refresh
  };
  // Takes in what changed and the records appended since the last refresh.
  Change Refresh();
  int Count() const { return static_cast<int>(order_.size()); }
  // The record shown in row, -1 when there is none.
  int RecordAt(int row) const;
  // The row that shows record, -1 when it is hidden.
  int RowOf(int record) const;
  // Cell text as the list shows it (wire values escaped).
  std::string Cell(int row, int column) const;

  // Sorts by column (from the next Refresh): a second call for the same column reverses the order;
  // column -1 is the order the records came in.
  void SortBy(int column);
  int sort_column() const { return sort_column_; }
  bool ascending() const { return ascending_; }
  // From the next Refresh, shows only the rows whose cell in column is text, or with column -1
  // the rows with any cell that contains text, ignoring ASCII case; an empty text shows every
  // row. Hidden rows stay in the records.
  void SetFilter(int column, const std::string& text);
  const std::string& filter_text() const { return filter_text_; }
  int filter_column() const { return filter_column_; }
  // The first row after `after` (wrapping round) whose login name, client or path contains text,
  // ignoring ASCII case; -1 when none does.
  int Find(const std::string& text, int after) const;

  // The rows as tab-separated lines (CR LF) under a line of the column titles.
  std::string Tsv(const std::vector<int>& rows) const;
  // Every row shown, as CSV (RFC 4180 quoting) under a line of the column titles.
  std::string Csv() const;

  static const char* ColumnTitle(int column);

 private:
  bool Shows(int record) const;
  bool Less(int a, int b) const;
  void Rebuild();
  void SortOrder();

  // Changes noted and not yet applied, in order.
  struct Event {
    enum Kind { kDropped, kDeleted, kCleared, kReset } kind;
    int arg;
  };
  std::vector<Event> events_;

  std::vector<int> order_;  // record indices, as shown
  int known_ = 0;           // records taken in so far
  int hide_below_ = 0;      // records before it were cleared from the list
  int sort_column_ = -1;
  bool ascending_ = true;
  bool force_rebuild_ = false;
  int filter_column_ = -1;
  std::string filter_text_;
};

}  // namespace qvx
