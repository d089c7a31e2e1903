#include "app/headless/console_view.h"

#include <cstring>
#include <iostream>

namespace qvx {

std::string_view ConsoleView::Cell(const Row& row, int subitem) {
  const uint32_t start = subitem == 0 ? 0 : row.end[subitem - 1];
  return std::string_view(row.text).substr(start, row.end[subitem] - start);
}

void ConsoleView::InsertRow(int item, const char* text) {
  std::lock_guard<std::mutex> lock(mu_);
  if (item < 0) return;
  if (static_cast<size_t>(item) >= rows_.size()) rows_.resize(item + 1);
  Row& row = rows_[item];
  // Room for a whole row as it usually comes, so that setting its cells does not reallocate.
  row.text.reserve(kRowReserve);
  row.text.assign(text);
  for (uint32_t& end : row.end) end = static_cast<uint32_t>(row.text.size());
}

void ConsoleView::SetCell(int item, int subitem, const char* text) {
  std::lock_guard<std::mutex> lock(mu_);
  if (item < 0 || static_cast<size_t>(item) >= rows_.size() || subitem < 0 || subitem >= kColumns)
    return;
  Row& row = rows_[item];
  const uint32_t start = subitem == 0 ? 0 : row.end[subitem - 1];
  const uint32_t old_len = row.end[subitem] - start;
  const size_t new_len = std::strlen(text);
  row.text.replace(start, old_len, text, new_len);
  const uint32_t grown = static_cast<uint32_t>(new_len) - old_len;  // wraps when it shrinks
  for (int c = subitem; c < kColumns; ++c) row.end[c] += grown;
  // A row is complete when its last column is set: print it then.
  if (subitem == kColumns - 1) PrintRow(item);
}

void ConsoleView::PrintRow(int item) {
  // One buffer for every row: no allocation per row once it is large enough.
  line_.clear();
  for (int c = 0; c < kColumns; ++c) {
    if (c) line_ += " | ";
    line_ += Cell(rows_[item], c);
  }
  line_ += '\n';
  std::fwrite(line_.data(), 1, line_.size(), out_);
}

void ConsoleView::DeleteRow(int item) {
  std::lock_guard<std::mutex> lock(mu_);
  if (item >= 0 && static_cast<size_t>(item) < rows_.size()) rows_.erase(rows_.begin() + item);
}

void ConsoleView::DeleteAllRows() {
  std::lock_guard<std::mutex> lock(mu_);
  rows_.clear();
}

std::string ConsoleView::CellText(int item, int subitem) {
  std::lock_guard<std::mutex> lock(mu_);
  if (item < 0 || static_cast<size_t>(item) >= rows_.size() || subitem < 0 || subitem >= kColumns)
    return std::string();
  return std::string(Cell(rows_[item], subitem));
}

void ConsoleView::SetStatusText(int part, const char* text) {
  std::lock_guard<std::mutex> lock(mu_);
  auto it = status_.find(part);
  if (it != status_.end() && it->second == text) return;
  status_[part] = text;
  std::fprintf(stderr, "status[%d]: %s\n", part, text);
}

void ConsoleView::SetMenuCheck(int id, bool checked) {
  std::lock_guard<std::mutex> lock(mu_);
  checks_[id] = checked;
}

bool ConsoleView::MenuChecked(int id) {
  std::lock_guard<std::mutex> lock(mu_);
  auto it = checks_.find(id);
  return it != checks_.end() && it->second;
}

void ConsoleView::PostCommand(int id) {
  std::lock_guard<std::mutex> lock(mu_);
  commands_.push_back(id);
}

void ConsoleView::PostClose() { PostCommand(kCloseCommand); }

bool ConsoleView::TakeCommand(int* id) {
  std::lock_guard<std::mutex> lock(mu_);
  if (commands_.empty()) return false;
  *id = commands_.front();
  commands_.pop_front();
  return true;
}

// There is no desktop to open files on; say what would have been opened.
int ConsoleView::ShellOpen(const std::string& path) {
  std::fprintf(stderr, "open: %s\n", path.c_str());
  return 33;
}

int ConsoleView::RunCommand(const std::string& command_line) {
  std::fprintf(stderr, "run: %s\n", command_line.c_str());
  return 33;
}

std::string ConsoleView::AskOpenFile() { return std::string(); }

}  // namespace qvx
