#include "support/recording_view.h"

namespace qvx::test {

void RecordingView::InsertRow(int item, const char* text) {
  if (item < 0) return;
  if (static_cast<size_t>(item) >= rows.size()) rows.resize(item + 1);
  rows[item].assign(13, std::string());
  rows[item][0] = text;
}

void RecordingView::SetCell(int item, int subitem, const char* text) {
  if (item < 0 || static_cast<size_t>(item) >= rows.size() || subitem < 0 || subitem >= 13) return;
  rows[item][subitem] = text;
}

void RecordingView::DeleteRow(int item) {
  if (item >= 0 && static_cast<size_t>(item) < rows.size()) rows.erase(rows.begin() + item);
}

void RecordingView::DeleteAllRows() {
  rows.clear();
  ++delete_all_count;
}

std::string RecordingView::CellText(int item, int subitem) {
  if (item < 0 || static_cast<size_t>(item) >= rows.size() || subitem < 0 || subitem >= 13)
    return std::string();
  return rows[item][subitem];
}

int RecordingView::ShellOpen(const std::string& path) {
  opened.push_back(path);
  return shell_result;
}

int RecordingView::RunCommand(const std::string& command_line) {
  ran.push_back(command_line);
  return run_result;
}

}  // namespace qvx::test
