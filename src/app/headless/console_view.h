// The headless shell's view: list rows and status texts go to the console, menu checks and the
// selection are kept in memory, and posted commands wait in a queue for the main loop.
#pragma once

#include <cstdint>
#include <cstdio>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "base/view.h"

namespace qvx {

class ConsoleView : public View {
 public:
  explicit ConsoleView(std::FILE* out) : out_(out) {}

  void* MainWindow() override { return nullptr; }
  bool CreateListView() override { return true; }
  void InsertRow(int item, const char* text) override;
  void SetCell(int item, int subitem, const char* text) override;
  void DeleteRow(int item) override;
  void DeleteAllRows() override;
  void MakeRowVisible(int) override {}
  int SelectedRow() override { return -1; }
  std::string CellText(int item, int subitem) override;
  void CreateStatusBar() override {}
  void SetStatusText(int part, const char* text) override;
  bool SetUpTray() override { return false; }
  void AddTrayIcon() override {}
  void RemoveTrayIcon() override {}
  void SetMenuCheck(int id, bool checked) override;
  bool MenuChecked(int id) override;
  void ShowMainWindow(bool) override {}
  bool MainWindowVisible() override { return true; }
  void BringToFront() override {}
  void SetTopmost(bool) override {}
  void PostMinimizeToTray() override {}  // no window to hide
  void PostCommand(int id) override;
  void PostClose() override;
  void StartTimer() override {}
  void StopTimer() override {}
  void EndMainDialog() override {}
  int ShellOpen(const std::string& path) override;
  int RunCommand(const std::string& command_line) override;
  std::string AskOpenFile() override;
  void RunDialog(int) override {}

  // Takes the next posted command; false when none. kCloseCommand stands for the close request.
  bool TakeCommand(int* id);
  static constexpr int kCloseCommand = -1;

 private:
  void PrintRow(int item);

  std::FILE* out_;
  std::mutex mu_;  // rows come from the capture thread, commands from the main loop
  // A row keeps its cells end to end in one string: one allocation per row, however many cells.
  static constexpr int kColumns = 13;
  static constexpr size_t kRowReserve = 256;
  struct Row {
    std::string text;
    uint32_t end[kColumns] =
        {};  // where each cell ends in text; a cell starts where the one before ends
  };
  static std::string_view Cell(const Row& row, int subitem);
  std::vector<Row> rows_;
  std::string line_;  // the row being printed
  std::map<int, std::string> status_;
  std::map<int, bool> checks_;
  std::deque<int> commands_;
};

}  // namespace qvx
