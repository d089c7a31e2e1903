// wintool.exe: drives and reads a program's windows from inside the same Wine session, for the GUI
// tests (tests/support/wine_gui.sh).
//
//   wintool post    CLASS TITLE MSG WPARAM LPARAM    PostMessage to the window
//   wintool send    MS CLASS TITLE MSG WPARAM LPARAM SendMessageTimeout; exit 3 when the window
//                                                    did not answer within MS milliseconds
//   wintool visible CLASS TITLE                      prints 1 or 0 (IsWindowVisible)
//   wintool text    CLASS TITLE CHILD_ID             prints the child control's text (UTF-8)
//   wintool acp                                      prints the ANSI code page
//   wintool count   CLASS TITLE CHILD_ID             prints the list view's row count
//   wintool cell    CLASS TITLE CHILD_ID ROW COL     prints one cell of a list view
//   wintool part    CLASS TITLE CHILD_ID N           prints part N of a status bar
//   wintool selected CLASS TITLE CHILD_ID            prints the list view's selected rows
//   wintool select  CLASS TITLE CHILD_ID ROW         selects that row alone (-1: none)
//   wintool top     CLASS TITLE CHILD_ID             prints the first row in view
//   wintool settext CLASS TITLE CHILD_ID TEXT        sets the child control's text (WM_SETTEXT)
//   wintool header  CLASS TITLE CHILD_ID COL         prints the screen point "X Y" of a column's
//                                                    header in a list view
//   wintool row     CLASS TITLE CHILD_ID ROW COL     prints the screen point "X Y" of a cell
//   wintool width   CLASS TITLE CHILD_ID COL         prints a list view column's width in pixels
//   wintool clipboard                                prints the clipboard's text (UTF-8)
//
// CLASS "-" matches any class; TITLE is a prefix of the window title ("-" matches any title).
// Numbers may be given in hex (0x...). Exit 2 when no window matches.
#include <windows.h>
// windows.h first
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

struct Match {
  const char* cls;
  const char* title;
  HWND found;
};

BOOL CALLBACK OnWindow(HWND w, LPARAM lp) {
  auto* m = reinterpret_cast<Match*>(lp);
  char cls[256] = {}, title[512] = {};
  GetClassNameA(w, cls, sizeof cls);
  GetWindowTextA(w, title, sizeof title);
  if (std::strcmp(m->cls, "-") != 0 && std::strcmp(m->cls, cls) != 0) return TRUE;
  if (std::strcmp(m->title, "-") != 0 && std::strncmp(m->title, title, std::strlen(m->title)) != 0)
    return TRUE;
  m->found = w;
  return FALSE;
}

HWND Find(const char* cls, const char* title) {
  Match m{cls, title, nullptr};
  EnumWindows(OnWindow, reinterpret_cast<LPARAM>(&m));
  return m.found;
}

long long Num(const char* s) { return std::strtoll(s, nullptr, 0); }

// Sends a message whose lParam points to an LVITEM, through memory of the window's process.
bool RemoteItem(HWND w, UINT msg, WPARAM wp, const LVITEMA& item) {
  DWORD pid = 0;
  GetWindowThreadProcessId(w, &pid);
  HANDLE proc = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
  if (!proc) return false;
  void* remote =
      VirtualAllocEx(proc, nullptr, sizeof item, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  WriteProcessMemory(proc, remote, &item, sizeof item, nullptr);
  DWORD_PTR ok = 0;
  const bool answered = SendMessageTimeoutA(w, msg, wp, reinterpret_cast<LPARAM>(remote),
                                            SMTO_NORMAL, 2000, &ok) != 0;
  VirtualFreeEx(proc, remote, 0, MEM_RELEASE);
  CloseHandle(proc);
  return answered && ok != 0;
}

// Sends a message whose lParam points to a RECT, through memory of the window's process; the
// rect comes back in screen coordinates of `map_from`.
bool RemoteRect(HWND w, UINT msg, WPARAM wp, const RECT& in, HWND map_from, RECT* out) {
  DWORD pid = 0;
  GetWindowThreadProcessId(w, &pid);
  HANDLE proc = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
  if (!proc) return false;
  auto* remote = static_cast<RECT*>(
      VirtualAllocEx(proc, nullptr, sizeof(RECT), MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
  WriteProcessMemory(proc, remote, &in, sizeof in, nullptr);
  DWORD_PTR ok = 0;
  SendMessageTimeoutA(w, msg, wp, reinterpret_cast<LPARAM>(remote), SMTO_NORMAL, 2000, &ok);
  ReadProcessMemory(proc, remote, out, sizeof *out, nullptr);
  VirtualFreeEx(proc, remote, 0, MEM_RELEASE);
  CloseHandle(proc);
  MapWindowPoints(map_from, nullptr, reinterpret_cast<POINT*>(out), 2);
  return ok != 0;
}

int Usage() {
  std::fprintf(
      stderr,
      "usage: wintool "
      "post|send|visible|text|count|top|select|cell|part|selected|settext|header|row|width|"
      "clipboard "
      "...\n");
  return 64;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::string(argv[1]) == "acp") {
    std::printf("%u\n", GetACP());
    return 0;
  }
  if (argc == 2 && std::string(argv[1]) == "clipboard") {
    if (!OpenClipboard(nullptr)) return 1;
    HANDLE h = GetClipboardData(CF_UNICODETEXT);
    const auto* wide = h ? static_cast<const wchar_t*>(GlobalLock(h)) : nullptr;
    if (wide) {
      const int n = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
      std::string text(static_cast<size_t>(n), '\0');
      WideCharToMultiByte(CP_UTF8, 0, wide, -1, &text[0], n, nullptr, nullptr);
      std::fwrite(text.data(), 1, std::strlen(text.c_str()), stdout);
      GlobalUnlock(h);
    }
    CloseClipboard();
    return wide ? 0 : 1;
  }
  if (argc < 4) return Usage();
  const std::string cmd = argv[1];
  int a = 2;
  UINT timeout = 0;
  if (cmd == "send") {
    if (argc < 8) return Usage();
    timeout = static_cast<UINT>(Num(argv[a++]));
  }
  HWND w = Find(argv[a], argv[a + 1]);
  a += 2;
  if (!w) {
    std::fprintf(stderr, "wintool: no window %s \"%s\"\n", argv[2 + (timeout ? 1 : 0)],
                 argv[3 + (timeout ? 1 : 0)]);
    return 2;
  }
  if (cmd == "post" && argc >= a + 3) {
    return PostMessageA(w, static_cast<UINT>(Num(argv[a])), static_cast<WPARAM>(Num(argv[a + 1])),
                        static_cast<LPARAM>(Num(argv[a + 2])))
               ? 0
               : 1;
  }
  if (cmd == "send" && argc >= a + 3) {
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutA(w, static_cast<UINT>(Num(argv[a])),
                             static_cast<WPARAM>(Num(argv[a + 1])),
                             static_cast<LPARAM>(Num(argv[a + 2])), SMTO_NORMAL, timeout, &result))
      return 3;
    std::printf("%lld\n", static_cast<long long>(result));
    return 0;
  }
  if (cmd == "visible") {
    std::printf("%d\n", IsWindowVisible(w) ? 1 : 0);
    return 0;
  }
  if (argc < a + 1) return Usage();
  HWND child = GetDlgItem(w, static_cast<int>(Num(argv[a])));
  if (!child) return 2;
  if (cmd == "text") {
    // WM_GETTEXT is carried across processes; for a status bar it gives part 0. Read as UTF-16
    // and printed as UTF-8, so the caller sees what the window shows, whatever the code page.
    wchar_t wide[1024] = {};
    SendMessageTimeoutW(child, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(wide), SMTO_NORMAL, 2000,
                        nullptr);
    char text[4096] = {};
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, text, sizeof text, nullptr, nullptr);
    std::printf("%s\n", text);
    return 0;
  }
  if (cmd == "selected") {
    for (long long i = -1;;) {
      DWORD_PTR next = 0;
      if (!SendMessageTimeoutA(child, LVM_GETNEXTITEM, static_cast<WPARAM>(i), LVNI_SELECTED,
                               SMTO_NORMAL, 2000, &next))
        return 3;
      if (static_cast<int>(next) < 0) break;
      i = static_cast<int>(next);
      std::printf("%lld ", i);
    }
    std::printf("\n");
    return 0;
  }
  if (cmd == "settext" && argc >= a + 2) {
    DWORD_PTR r = 0;
    return SendMessageTimeoutA(child, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(argv[a + 1]),
                               SMTO_NORMAL, 5000, &r)
               ? 0
               : 3;
  }
  if (cmd == "header" && argc >= a + 2) {
    HWND header = reinterpret_cast<HWND>(SendMessageA(child, LVM_GETHEADER, 0, 0));
    RECT r{};
    if (!header ||
        !RemoteRect(header, HDM_GETITEMRECT, static_cast<WPARAM>(Num(argv[a + 1])), r, header, &r))
      return 1;
    std::printf("%ld %ld\n", (r.left + r.right) / 2, (r.top + r.bottom) / 2);
    return 0;
  }
  if (cmd == "row" && argc >= a + 3) {
    RECT r{};
    r.top = static_cast<LONG>(Num(argv[a + 2]));
    r.left = LVIR_BOUNDS;
    if (!RemoteRect(child, LVM_GETSUBITEMRECT, static_cast<WPARAM>(Num(argv[a + 1])), r, child, &r))
      return 1;
    std::printf("%ld %ld\n", r.left + 8, (r.top + r.bottom) / 2);
    return 0;
  }
  if (cmd == "width" && argc >= a + 2) {
    DWORD_PTR w = 0;
    if (!SendMessageTimeoutA(child, LVM_GETCOLUMNWIDTH, static_cast<WPARAM>(Num(argv[a + 1])), 0,
                             SMTO_NORMAL, 2000, &w))
      return 3;
    std::printf("%lld\n", static_cast<long long>(w));
    return 0;
  }
  if (cmd == "select" && argc >= a + 2) {
    LVITEMA item{};
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    if (!RemoteItem(child, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), item)) return 1;
    const long long row = Num(argv[a + 1]);
    if (row < 0) return 0;
    item.state = LVIS_SELECTED | LVIS_FOCUSED;
    return RemoteItem(child, LVM_SETITEMSTATE, static_cast<WPARAM>(row), item) ? 0 : 1;
  }
  if (cmd == "top") {  // the first row in view
    DWORD_PTR n = 0;
    if (!SendMessageTimeoutA(child, LVM_GETTOPINDEX, 0, 0, SMTO_NORMAL, 2000, &n)) return 3;
    std::printf("%lld\n", static_cast<long long>(n));
    return 0;
  }
  if (cmd == "count") {
    DWORD_PTR n = 0;
    if (!SendMessageTimeoutA(child, LVM_GETITEMCOUNT, 0, 0, SMTO_NORMAL, 2000, &n)) return 3;
    std::printf("%lld\n", static_cast<long long>(n));
    return 0;
  }
  if (cmd == "part" && argc >= a + 2) {
    // SB_GETTEXTA writes through a pointer: memory of the target process again.
    DWORD pid = 0;
    GetWindowThreadProcessId(child, &pid);
    HANDLE proc =
        OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
    if (!proc) return 1;
    auto* remote = static_cast<char*>(
        VirtualAllocEx(proc, nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    DWORD_PTR len = 0;
    SendMessageTimeoutA(child, SB_GETTEXTLENGTHA, static_cast<WPARAM>(Num(argv[a + 1])), 0,
                        SMTO_NORMAL, 2000, &len);
    if (LOWORD(len) < 4096)
      SendMessageTimeoutA(child, SB_GETTEXTA, static_cast<WPARAM>(Num(argv[a + 1])),
                          reinterpret_cast<LPARAM>(remote), SMTO_NORMAL, 2000, nullptr);
    char text[4097] = {};
    ReadProcessMemory(proc, remote, text, 4096, nullptr);
    VirtualFreeEx(proc, remote, 0, MEM_RELEASE);
    CloseHandle(proc);
    std::printf("%s\n", text);
    return 0;
  }
  if (cmd == "cell" && argc >= a + 3) {
    // A list view's item text cannot be read across processes by pointer; copy it through
    // memory of the target process.
    DWORD pid = 0;
    GetWindowThreadProcessId(child, &pid);
    HANDLE proc =
        OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
    if (!proc) return 1;
    const SIZE_T size = sizeof(LVITEMA) + 1024;
    auto* remote = static_cast<char*>(
        VirtualAllocEx(proc, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    LVITEMA it{};
    it.iSubItem = static_cast<int>(Num(argv[a + 2]));
    it.pszText = remote + sizeof(LVITEMA);
    it.cchTextMax = 1024;
    WriteProcessMemory(proc, remote, &it, sizeof it, nullptr);
    SendMessageTimeoutA(child, LVM_GETITEMTEXTA, static_cast<WPARAM>(Num(argv[a + 1])),
                        reinterpret_cast<LPARAM>(remote), SMTO_NORMAL, 2000, nullptr);
    char text[1025] = {};
    ReadProcessMemory(proc, remote + sizeof(LVITEMA), text, 1024, nullptr);
    VirtualFreeEx(proc, remote, 0, MEM_RELEASE);
    CloseHandle(proc);
    std::printf("%s\n", text);
    return 0;
  }
  return Usage();
}
