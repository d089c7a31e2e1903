// Options dialog 116: the controls show an OptionDlgState; OK writes its settings to Quorvix.ini.
#include <windows.h>
// windows.h first
#include <commdlg.h>

#include <string>

#include "app/controller.h"
#include "app/option_dialog.h"
#include "app/win32/dialogs.h"
#include "base/text.h"
#include "platform/platform.h"

namespace qvx {

namespace {

OptionDlgState g_state;
DATA* g_data = nullptr;

std::string ItemText(HWND hDlg, int id) {
  char buf[1024] = {};
  GetDlgItemTextA(hDlg, id, buf, sizeof buf);
  return buf;
}

void SetNumber(HWND hDlg, int id, int value) {
  SetDlgItemTextA(hDlg, id, std::to_string(value).c_str());
}

void ShowButtons(HWND hDlg) {
  for (int i = 0; i < kOptionButtonCount; ++i)
    CheckDlgButton(hDlg, kOptionButtons[i],
                   OptionButtonChecked(g_state, kOptionButtons[i]) ? BST_CHECKED : BST_UNCHECKED);
}

void ShowLogPath(HWND hDlg, const char* path) {
  HWND combo = GetDlgItem(hDlg, kOptLogPath);
  SendMessageA(combo, CB_RESETCONTENT, 0, 0);
  SendMessageA(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(path));
  SetWindowTextA(combo, path);
  SetDlgItemTextA(hDlg, kOptLogPathShown, OptionShortPath(path).c_str());
}

void Open(HWND hDlg, LPARAM lParam) {
  g_data = reinterpret_cast<DATA*>(lParam);
  OptionDlgOpen(OptionInfo, &g_state);
  const OptionInfoSt& o = g_state.OptionInfoTmp;
  for (const OptionEditLimit& e : kOptionEditLimits)
    SendDlgItemMessageA(hDlg, e.id, EM_LIMITTEXT, e.limit, 0);
  SendDlgItemMessageA(hDlg, kOptLogPath, CB_LIMITTEXT, sizeof o.LogFilePath - 1, 0);
  std::string octets[4];
  OptionSplitAddress(o.IpAddress, octets);
  const int octet_ids[4] = {kOptOctet1, kOptOctet2, kOptOctet3, kOptOctet4};
  for (int i = 0; i < 4; ++i) SetDlgItemTextA(hDlg, octet_ids[i], octets[i].c_str());
  SetNumber(hDlg, kOptLogFileSize, o.LogFileSize);
  SetNumber(hDlg, kOptLogFileDate, o.LogFileDate);
  SetNumber(hDlg, kOptRefleshTime, o.RefleshTime);
  ShowLogPath(hDlg, o.LogFilePath);
  SetNumber(hDlg, kOptDay, g_state.LogChgDay);
  ShowButtons(hDlg);
  HWND level = GetDlgItem(hDlg, kOptErrorLevel);
  int selected = 0, i = 0;
  for (const std::string& item : OptionErrorLevelItems(o.ErrorLevel)) {
    SendMessageA(level, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.c_str()));
    if (item == std::to_string(o.ErrorLevel)) selected = i;
    ++i;
  }
  SendMessageA(level, CB_SETCURSEL, selected, 0);
}

void Ok(HWND hDlg) {
  OptionDlgTexts t;
  t.LogFilePath = ItemText(hDlg, kOptLogPath);
  const int octet_ids[4] = {kOptOctet1, kOptOctet2, kOptOctet3, kOptOctet4};
  for (int i = 0; i < 4; ++i) t.octet[i] = ItemText(hDlg, octet_ids[i]);
  t.RefleshTime = ItemText(hDlg, kOptRefleshTime);
  t.LogFileSize = ItemText(hDlg, kOptLogFileSize);
  t.LogFileDate = ItemText(hDlg, kOptLogFileDate);
  t.ErrorLevel = ItemText(hDlg, kOptErrorLevel);
  t.Day = ItemText(hDlg, kOptDay);
  const std::string refused = OptionDlgAccept(&g_state, t);
  if (!refused.empty()) {
    platform().ShowMessageBox(hDlg, refused, "Cautions", MB_ICONEXCLAMATION);
    return;  // nothing written; the user corrects the field
  }
  platform().ShowMessageBox(hDlg, kOptionRebootNotice, "infomation", MB_OK);
  if (!QVX_WriteOptionKeys(g_state.OptionInfoTmp))
    platform().ShowMessageBox(hDlg, "Ini file creation went wrong.", "Quorvix Option Setting",
                              MB_OK);
  EndDialog(hDlg, 0);
}

}  // namespace

void OpenMyFile(HWND hWnd, char* LogFullPath, size_t size, bool must_exist) {
  char file[MAX_PATH] = {};
  OPENFILENAMEA ofn{};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = hWnd;
  ofn.lpstrFilter = "log(*.log)\0*.log\0";
  ofn.lpstrDefExt = "txt";
  ofn.lpstrTitle = "ログファイル指定";
  ofn.lpstrFile = file;
  ofn.nMaxFile = sizeof file;
  // The filter files are saved in the directory the program started in: keep it current.
  ofn.Flags = OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
  if (must_exist) ofn.Flags |= OFN_FILEMUSTEXIST;
  CopyText(LogFullPath, size, GetOpenFileNameA(&ofn) ? file : "");
}

INT_PTR CALLBACK OptionDlg(HWND hDlg, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      Open(hDlg, lParam);
      return TRUE;
    case WM_COMMAND: {
      const int id = LOWORD(wParam);
      if (id == kOptOk || id == IDOK) {
        Ok(hDlg);
        return TRUE;
      }
      if (id == kOptCancel || id == IDCANCEL) {
        EndDialog(hDlg, 1);
        return TRUE;
      }
      if (id == kOptOpen) {
        char path[512];
        OpenMyFile(hDlg, path, sizeof path, false);
        if (path[0] != '\0') {
          CopyText(g_state.OptionInfoTmp.LogFilePath, path);
          ShowLogPath(hDlg, path);
        }
        return TRUE;
      }
      if (HIWORD(wParam) == BN_CLICKED) {
        for (int i = 0; i < kOptionButtonCount; ++i) {
          if (kOptionButtons[i] != id) continue;
          if (const char* notice = OptionDlgClick(&g_state, id))
            platform().ShowMessageBox(hDlg, notice, "infomation", MB_OK);
          ShowButtons(hDlg);
          return TRUE;
        }
      }
      return FALSE;
    }
    default:
      return FALSE;
  }
}

}  // namespace qvx
