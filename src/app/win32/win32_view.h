// The Win32 view of the main window: list view, status bar, menu checks, timer and shell calls.
#pragma once

#include <windows.h>
// windows.h first
#include <shellapi.h>

#include <string>

#include "base/view.h"

namespace qvx {

class Win32View : public View {
 public:
  void Attach(HWND hWnd) { hwnd_ = hWnd; }
  HWND list() const { return list_; }
  HWND status() const { return status_; }
  HWND tray() const { return tray_; }

  void* MainWindow() override { return hwnd_; }
  bool CreateListView() override;
  void InsertRow(int item, const char* text) override;
  void SetCell(int item, int subitem, const char* text) override;
  void DeleteRow(int item) override;
  void DeleteAllRows() override;
  void DropOldestRows(int n) override;
  void MakeRowVisible(int item) override;
  int SelectedRow() override;
  std::string CellText(int item, int subitem) override;
  void CreateStatusBar() override;
  void SetStatusText(int part, const char* text) override;
  bool SetUpTray() override;
  void AddTrayIcon() override;
  void RemoveTrayIcon() override;
  void ShowTrayMenu() override;
  void SetMenuCheck(int id, bool checked) override;
  bool MenuChecked(int id) override;
  void ShowMainWindow(bool show) override;
  bool MainWindowVisible() override;
  void BringToFront() override;
  void SetTopmost(bool topmost) override;
  void PostMinimizeToTray() override;
  void PostCommand(int id) override;
  void PostClose() override;
  void StartTimer() override;
  void StopTimer() override;
  void EndMainDialog() override;
  int ShellOpen(const std::string& path) override;
  int RunCommand(const std::string& command_line) override;
  std::string AskOpenFile() override;
  void RunDialog(int dialog_id) override;
  void WaitForCaptureThread(const std::atomic<bool>& ended) override;

  // WM_SIZE: the list fills the client area above the status bar.
  void Resize(int width, int height);

 private:
  void LayOutStatus(int width);

 private:
  HWND hwnd_ = nullptr;
  HWND list_ = nullptr;
  HWND status_ = nullptr;
  HWND tray_ = nullptr;        // hidden window that owns the tray icon and its menu
  HMENU tray_menu_ = nullptr;  // first pop-up of menu 124
  NOTIFYICONDATAA icon_{};
};

// Window procedure of the tray window.
LRESULT CALLBACK SmallIconMenuProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace qvx
