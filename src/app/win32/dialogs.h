// The Options and filter dialogs of Quorvix.exe. Each procedure only moves values between its
// controls and the models (app/option_dialog.h, filters/filter_edit.h).
#pragma once

#include <windows.h>

#include <cstddef>

namespace qvx {

// Options dialog 116; lParam of the opening is the context record.
INT_PTR CALLBACK OptionDlg(HWND hDlg, UINT message, WPARAM wParam, LPARAM lParam);
// The open-file dialog for a log path. A log that does not exist yet may be named unless
// must_exist is set. LogFullPath (size bytes) is "" when cancelled.
void OpenMyFile(HWND hWnd, char* LogFullPath, size_t size, bool must_exist);

// The exclusion-list dialog 130 and the IP-filter dialog 135; lParam is the context record.
INT_PTR CALLBACK NorInfoDlg(HWND hDlg, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK IP_FilterDlg(HWND hDlg, UINT message, WPARAM wParam, LPARAM lParam);
// The entry dialogs 118 and 136; lParam is the FilterTable the entry is appended to. They end
// with 0 when an entry was appended, 1 when cancelled.
INT_PTR CALLBACK NorInfoSetDlg(HWND hDlg, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK IP_FilterSetDlg(HWND hDlg, UINT message, WPARAM wParam, LPARAM lParam);
// The folder condition dialog 132: ends with 1 (this folder only) or 2 (and below), 0 closed.
INT_PTR CALLBACK NorInfoChkDlg(HWND hDlg, UINT message, WPARAM wParam, LPARAM lParam);
// The shell's folder browser starting at lpszDefaultFolder: 0 and the folder in lpszBuffer, or
// -1 when the user cancels.
int GetOpenFolderName(HWND hWnd, const char* lpszDefaultFolder, char* lpszBuffer,
                      DWORD dwBufferSize);

// Runs dialog 116, 130 or 135 modally, owned by owner, with the main window's context record.
// False for any other id.
bool QVX_RunSettingsDialog(HWND owner, int dialog_id);

}  // namespace qvx
