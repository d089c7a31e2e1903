// The user-interface port of the main window: the Win32 shell implements it with real controls,
// the headless shell on the console, and tests record the calls.
#pragma once

#include <atomic>
#include <string>

namespace qvx {

class View {
 public:
  virtual ~View() = default;

  // The main window (owner of message boxes); may be null.
  virtual void* MainWindow() = 0;

  // --- list view ---
  virtual bool CreateListView() = 0;
  virtual void InsertRow(int item, const char* text) = 0;
  virtual void SetCell(int item, int subitem, const char* text) = 0;
  virtual void DeleteRow(int item) = 0;
  virtual void DeleteAllRows() = 0;
  // Deletes the first n rows (the oldest), as a full list makes room.
  virtual void DropOldestRows(int n) {
    for (int i = 0; i < n; ++i) DeleteRow(0);
  }
  // The access records were emptied (capture starts again): rows the list still shows are gone.
  virtual void RecordsCleared() {}
  virtual void MakeRowVisible(int item) = 0;
  // The selected row, or -1.
  virtual int SelectedRow() = 0;
  virtual std::string CellText(int item, int subitem) = 0;

  // --- status bar ---
  virtual void CreateStatusBar() = 0;
  virtual void SetStatusText(int part, const char* text) = 0;

  // --- tray ---
  // Sets up the tray window; false when it cannot be (the program then runs without a tray).
  virtual bool SetUpTray() = 0;
  virtual void AddTrayIcon() = 0;
  virtual void RemoveTrayIcon() = 0;
  // The tray's pop-up menu at the cursor; its command comes back through QVX_OnTrayCommand.
  virtual void ShowTrayMenu() {}

  // --- window and menu ---
  virtual void SetMenuCheck(int id, bool checked) = 0;
  virtual bool MenuChecked(int id) = 0;
  // Shows (restoring it when minimised) or hides the main window.
  virtual void ShowMainWindow(bool show) = 0;
  virtual bool MainWindowVisible() = 0;
  virtual void BringToFront() = 0;
  virtual void SetTopmost(bool topmost) = 0;
  // Posts to the main window: minimise, then hide it into the tray (private message 0x8066).
  // Called from the capture thread.
  virtual void PostMinimizeToTray() = 0;
  // Posts a menu command / the close request to the main window's own queue.
  virtual void PostCommand(int id) = 0;
  virtual void PostClose() = 0;
  // The one-second timer (id 100) that drives QVX_OnTimer.
  virtual void StartTimer() = 0;
  virtual void StopTimer() = 0;
  // Ends the main dialog (the process follows).
  virtual void EndMainDialog() = 0;

  // --- shell ---
  // The shell's "open" verb; a result below 32 is a failure.
  virtual int ShellOpen(const std::string& path) = 0;
  // Runs a command line shown (WinExec); a result below 32 is a failure.
  virtual int RunCommand(const std::string& command_line) = 0;
  // Asks the user for a file to open; empty when none was chosen.
  virtual std::string AskOpenFile() = 0;
  // Runs one of the program's dialogs (options 116, version 128, filters 130/135) modally.
  virtual void RunDialog(int dialog_id) = 0;

  // --- threads ---
  // Called on the window's thread before it joins the capture thread: returns once `ended` is
  // set, serving meanwhile whatever the capture thread asks of the window synchronously. A view
  // the capture thread never waits on just returns.
  virtual void WaitForCaptureThread(const std::atomic<bool>& ended) {}
  // The same for at most ms, while the capture thread reads what the adapter held at a stop:
  // returns once `ended` is set or the time ran out. A view the capture thread never waits on
  // returns at once and leaves the waiting to the caller.
  virtual void ServeCaptureThread(const std::atomic<bool>& ended, int ms) {}
};

// The view the controller drives (set by QVX_OnInitDialog; null before and in tools without one).
View* QVX_View();

}  // namespace qvx
