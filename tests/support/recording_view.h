// A view that records what the controller and the handlers asked of it.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "base/view.h"

namespace qvx::test {

class RecordingView : public View {
 public:
  void* MainWindow() override { return this; }
  bool CreateListView() override { return list_ok; }
  void InsertRow(int item, const char* text) override;
  void SetCell(int item, int subitem, const char* text) override;
  void DeleteRow(int item) override;
  void DeleteAllRows() override;
  void MakeRowVisible(int item) override { visible.push_back(item); }
  int SelectedRow() override { return selected; }
  std::string CellText(int item, int subitem) override;
  void CreateStatusBar() override {}
  void SetStatusText(int part, const char* text) override { status[part] = text; }
  bool SetUpTray() override { return true; }
  void AddTrayIcon() override { tray_icon = true; }
  void RemoveTrayIcon() override { tray_icon = false; }
  void SetMenuCheck(int id, bool checked) override { checks[id] = checked; }
  bool MenuChecked(int id) override { return checks[id]; }
  void ShowMainWindow(bool show) override { shown = show; }
  bool MainWindowVisible() override { return shown; }
  void ShowTrayMenu() override { ++tray_menus; }
  void BringToFront() override { ++fronted; }
  void SetTopmost(bool t) override { topmost = t; }
  void PostMinimizeToTray() override { ++to_tray_posts; }
  void PostCommand(int id) override { posted.push_back(id); }
  void PostClose() override { close_posted = true; }
  void StartTimer() override { timer = true; }
  void StopTimer() override { timer = false; }
  void EndMainDialog() override { ended = true; }
  int ShellOpen(const std::string& path) override;
  int RunCommand(const std::string& command_line) override;
  std::string AskOpenFile() override { return open_file_answer; }
  void RunDialog(int id) override { dialogs.push_back(id); }

  bool list_ok = true;
  int selected = -1;
  int shell_result = 33;
  int run_result = 33;
  std::string open_file_answer;
  std::vector<std::vector<std::string>> rows;
  std::map<int, std::string> status;
  std::map<int, bool> checks;
  std::vector<int> visible, posted, dialogs;
  std::vector<std::string> opened, ran;
  bool tray_icon = false, shown = true, topmost = false, close_posted = false, timer = false,
       ended = false;
  int fronted = 0;
  int to_tray_posts = 0;
  int tray_menus = 0;
  int delete_all_count = 0;
};

}  // namespace qvx::test
