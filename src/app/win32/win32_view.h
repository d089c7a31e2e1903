// The Win32 view of the main window: list view, status bar, menu checks, timer and shell calls.
#pragma once

#include <windows.h>
// windows.h first
#include <shellapi.h>

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "app/list_model.h"
#include "base/view.h"

namespace qvx {

// Posted to the main window when rows or records changed; one at a time is waiting.
inline constexpr unsigned kMsgListRefresh = 0x8070;
// Posted when another thread set a status bar text; one at a time is waiting.
inline constexpr unsigned kMsgStatusText = 0x8071;
// The gap between two refreshes of the list while rows stream (see OnListRefreshPosted).
inline constexpr int kListRefreshTimerId = 101;
inline constexpr unsigned kListRefreshGapMs = 40;

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
  void RecordsCleared() override;
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
  void ServeCaptureThread(const std::atomic<bool>& ended, int ms) override;

  // Asks each dialog the window has open (its own, a message box, the file dialog, and any they
  // opened in turn) to cancel; after `attempts` asks, ends them outright. The number it asked:
  // while it is above 0 the window may not end yet, since their loops run inside its own.
  int CancelOwnedDialogs(int attempts);

  // WM_SIZE: the filter box on top, the list below it down to the status bar.
  void Resize(int width, int height);

  // --- the list's own work, on the window's thread ---
  // Takes in what changed, sets the row count, keeps the selection on its records and scrolls to
  // the newest row unless the user has a row selected (after a sort or a filter, at once).
  void OnListRefresh();
  // kMsgListRefresh: the same for rows that came; then no refresh is posted for
  // kListRefreshGapMs. Windows takes the user's input (and paints) only when no posted message
  // waits: refreshes posted back to back while rows stream would leave the window deaf to clicks
  // and keys until the stream pauses.
  void OnListRefreshPosted();
  // WM_TIMER kListRefreshTimerId: the gap is over; rows that came during it are taken in.
  void OnListRefreshGapEnd();
  // kMsgStatusText: shows the texts other threads left for the status bar.
  void OnStatusText();
  // WM_NOTIFY from the list; true when handled (*result is the answer).
  bool OnListNotify(NMHDR* hdr, LRESULT* result);
  // WM_COMMAND of the list's commands; false for any other id.
  bool OnListCommand(int id, int code, HWND from);
  // The list's sort and filter as the model has them (tests read the window instead).
  ListModel& model() { return model_; }
  // Column widths and the window's place, from and to Quorvix.ini (section "Window").
  void RestoreLayout();
  void SaveLayout();

 private:
  void LayOutStatus(int width);
  void Notify();
  std::vector<int> SelectedRows();
  void SelectOnly(int row);
  void CopyRows(bool path_only);
  void Find(bool ask);
  void Export();
  void ShowContextMenu();
  void ShowSortMark();
  void FitColumns();
  void TakeInRows();

 private:
  HWND hwnd_ = nullptr;
  HWND list_ = nullptr;
  HWND status_ = nullptr;
  // Status bar texts set by other threads (the capture thread must never wait on the window):
  // kept here and shown by the window's thread.
  std::mutex status_lock_;
  std::string status_pending_[5];
  bool status_changed_[5] = {};
  std::atomic<bool> status_posted_{false};
  HWND tray_ = nullptr;        // hidden window that owns the tray icon and its menu
  HMENU tray_menu_ = nullptr;  // first pop-up of menu 124
  NOTIFYICONDATAA icon_{};

  HWND filter_ = nullptr;        // quick filter box above the list
  HWND filter_label_ = nullptr;  // "Filter:" before it
  ListModel model_;
  std::atomic<bool> refresh_posted_{false};
  std::atomic<bool> rows_waiting_{false};  // rows came since the last refresh took them in
  std::atomic<bool> scroll_wanted_{false};
  bool widths_fitted_ = false;  // fitted to the first rows, or taken from Quorvix.ini
  std::string find_text_;
  int menu_row_ = -1, menu_column_ = -1;  // where the context menu was opened
  std::string menu_value_;                // and the text of that cell then
};

// Window procedure of the tray window.
LRESULT CALLBACK SmallIconMenuProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace qvx
