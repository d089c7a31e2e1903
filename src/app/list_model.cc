#include "app/list_model.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "app/listview.h"
#include "base/option.h"
#include "tracking/access_data.h"

namespace qvx {

namespace {

constexpr const char* kTitles[kListColumns] = {
    "Access Time", "Action",  "TreeID",   "Login Name", "Client(IP)", "Server(IP)", "Client(MAC)",
    "Server(MAC)", "SMB Cmd", "SMB Info", "Size",       "Operation",  "Path"};
// Columns compared as numbers when both texts are numbers.
bool NumericColumn(int column) { return column == 2 || column == 10; }
// What Find looks in: login name, client, path.
constexpr int kFindColumns[] = {3, 4, 12};

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool ContainsNoCase(const std::string& hay, const std::string& needle) {
  if (needle.empty()) return true;
  if (needle.size() > hay.size()) return false;
  for (size_t i = 0; i + needle.size() <= hay.size(); ++i) {
    size_t j = 0;
    while (j < needle.size() && Lower(hay[i + j]) == Lower(needle[j])) ++j;
    if (j == needle.size()) return true;
  }
  return false;
}

// The records that exist now.
int RecordCount() {
  if (AccessData == nullptr) return 0;
  int n = nListIndex;
  if (n > OptionInfo.AccessDataCnt) n = OptionInfo.AccessDataCnt;
  return n < 0 ? 0 : n;
}

bool ParseNumber(const std::string& s, long long* out) {
  size_t b = 0, e = s.size();
  while (b < e && s[b] == ' ') ++b;
  while (e > b && s[e - 1] == ' ') --e;
  if (b == e) return false;
  char* end = nullptr;
  const std::string t = s.substr(b, e - b);
  *out = std::strtoll(t.c_str(), &end, 10);
  return end && *end == '\0';
}

void AppendCsvField(std::string& out, const std::string& f) {
  if (f.find_first_of(",\"\r\n") == std::string::npos) {
    out += f;
    return;
  }
  out += '"';
  for (char c : f) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
}

}  // namespace

const char* ListModel::ColumnTitle(int column) {
  return column >= 0 && column < kListColumns ? kTitles[column] : "";
}

void ListModel::NoteDropped(int n) {
  std::lock_guard<std::recursive_mutex> lock(QVX_ListLock());
  if (n > 0) events_.push_back({Event::kDropped, n});
}
void ListModel::NoteDeleted(int k) {
  std::lock_guard<std::recursive_mutex> lock(QVX_ListLock());
  if (k >= 0) events_.push_back({Event::kDeleted, k});
}
void ListModel::NoteCleared() {
  std::lock_guard<std::recursive_mutex> lock(QVX_ListLock());
  events_.push_back({Event::kCleared, RecordCount()});
}
void ListModel::NoteReset() {
  std::lock_guard<std::recursive_mutex> lock(QVX_ListLock());
  events_.push_back({Event::kReset, 0});
}

ListModel::Change ListModel::Refresh() {
  std::lock_guard<std::recursive_mutex> lock(QVX_ListLock());
  Change ch;
  bool rebuild = false;
  for (const Event& ev : events_) {
    switch (ev.kind) {
      case Event::kDropped: {
        const int n = ev.arg;
        known_ = std::max(0, known_ - n);
        hide_below_ = std::max(0, hide_below_ - n);
        ch.dropped += n;
        if (!rebuild) {
          size_t out = 0;
          for (int r : order_)
            if (r >= n) order_[out++] = r - n;
          order_.resize(out);
        }
        break;
      }
      case Event::kDeleted:
        if (ev.arg < known_) {
          --known_;
          rebuild = true;
        }
        if (ev.arg < hide_below_) --hide_below_;
        break;
      case Event::kCleared:
        hide_below_ = ev.arg;
        known_ = std::max(known_, ev.arg);
        rebuild = true;
        break;
      case Event::kReset:
        known_ = 0;
        hide_below_ = 0;
        rebuild = true;
        break;
    }
  }
  events_.clear();
  if (force_rebuild_) rebuild = true;
  force_rebuild_ = false;
  const int total = RecordCount();
  // Records gone without a word (the capture thread empties them as it starts).
  if (total < known_) rebuild = true;
  if (hide_below_ > total) hide_below_ = total;
  if (rebuild) {
    Rebuild();
    ch.rebuilt = true;
  } else if (known_ < total) {
    std::vector<int> added;
    for (int r = std::max(known_, hide_below_); r < total; ++r)
      if (Shows(r)) added.push_back(r);
    if (sort_column_ < 0 && ascending_) {
      order_.insert(order_.end(), added.begin(), added.end());
    } else {
      // New rows sorted among themselves, then merged: one pass over the rows shown.
      std::stable_sort(added.begin(), added.end(), [this](int a, int b) { return Less(a, b); });
      const size_t mid = order_.size();
      order_.insert(order_.end(), added.begin(), added.end());
      std::inplace_merge(order_.begin(), order_.begin() + static_cast<long>(mid), order_.end(),
                         [this](int a, int b) { return Less(a, b); });
      if (!added.empty()) ch.rebuilt = true;
    }
  }
  known_ = total;
  return ch;
}

void ListModel::Rebuild() {
  order_.clear();
  const int total = RecordCount();
  for (int r = hide_below_; r < total; ++r)
    if (Shows(r)) order_.push_back(r);
  SortOrder();
}

void ListModel::SortOrder() {
  std::stable_sort(order_.begin(), order_.end(), [this](int a, int b) { return Less(a, b); });
}

bool ListModel::Less(int a, int b) const {
  int c = 0;
  if (sort_column_ >= 0) {
    const char* x = QVX_RecordCell(a, sort_column_);
    const char* y = QVX_RecordCell(b, sort_column_);
    long long nx = 0, ny = 0;
    if (NumericColumn(sort_column_) && ParseNumber(x, &nx) && ParseNumber(y, &ny))
      c = nx < ny ? -1 : nx > ny ? 1 : 0;
    else
      c = std::strcmp(x, y);
  }
  if (c == 0) c = a < b ? -1 : a > b ? 1 : 0;  // ties keep the order the records came in
  return ascending_ ? c < 0 : c > 0;
}

bool ListModel::Shows(int record) const {
  if (record < hide_below_) return false;
  if (filter_text_.empty()) return true;
  if (filter_column_ >= 0) return QVX_RecordCellText(record, filter_column_) == filter_text_;
  for (int c = 0; c < kListColumns; ++c)
    if (ContainsNoCase(QVX_RecordCellText(record, c), filter_text_)) return true;
  return false;
}

int ListModel::RecordAt(int row) const {
  return row >= 0 && row < Count() ? order_[static_cast<size_t>(row)] : -1;
}

int ListModel::RowOf(int record) const {
  for (size_t i = 0; i < order_.size(); ++i)
    if (order_[i] == record) return static_cast<int>(i);
  return -1;
}

std::string ListModel::Cell(int row, int column) const {
  std::lock_guard<std::recursive_mutex> lock(QVX_ListLock());
  const int r = RecordAt(row);
  if (r < 0 || r >= RecordCount()) return std::string();
  return QVX_RecordCellText(r, column);
}

void ListModel::SortBy(int column) {
  std::lock_guard<std::recursive_mutex> lock(QVX_ListLock());
  if (column == sort_column_) {
    ascending_ = !ascending_;
  } else {
    sort_column_ = column;
    ascending_ = true;
  }
  force_rebuild_ = true;
}

void ListModel::SetFilter(int column, const std::string& text) {
  std::lock_guard<std::recursive_mutex> lock(QVX_ListLock());
  filter_column_ = column;
  filter_text_ = text;
  force_rebuild_ = true;
}

int ListModel::Find(const std::string& text, int after) const {
  std::lock_guard<std::recursive_mutex> lock(QVX_ListLock());
  const int n = Count();
  if (n == 0 || text.empty()) return -1;
  int start = after + 1;
  if (start < 0 || start >= n) start = 0;
  for (int i = 0; i < n; ++i) {
    const int row = (start + i) % n;
    for (int c : kFindColumns)
      if (ContainsNoCase(Cell(row, c), text)) return row;
  }
  return -1;
}

std::string ListModel::Tsv(const std::vector<int>& rows) const {
  std::lock_guard<std::recursive_mutex> lock(QVX_ListLock());
  std::string out;
  for (int c = 0; c < kListColumns; ++c) {
    if (c) out += '\t';
    out += kTitles[c];
  }
  out += "\r\n";
  for (int row : rows) {
    for (int c = 0; c < kListColumns; ++c) {
      if (c) out += '\t';
      // A tab or line break inside a cell would split it; the list shows wire values escaped,
      // so only a path the server named that way could hold one.
      for (char ch : Cell(row, c)) out += ch == '\t' || ch == '\r' || ch == '\n' ? ' ' : ch;
    }
    out += "\r\n";
  }
  return out;
}

std::string ListModel::Csv() const {
  std::lock_guard<std::recursive_mutex> lock(QVX_ListLock());
  std::string out;
  for (int c = 0; c < kListColumns; ++c) {
    if (c) out += ',';
    out += kTitles[c];
  }
  out += "\r\n";
  for (int row = 0; row < Count(); ++row) {
    for (int c = 0; c < kListColumns; ++c) {
      if (c) out += ',';
      AppendCsvField(out, Cell(row, c));
    }
    out += "\r\n";
  }
  return out;
}

}  // namespace qvx
