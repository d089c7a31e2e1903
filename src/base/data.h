// The main window's context record, handed to the capture thread and every handler, and the one
// lock around access-log writes.
#pragma once

#include <atomic>
#include <ctime>
#include <mutex>
#include <thread>

namespace qvx {

struct CaptureContext;

struct DATA {
  void* hWnd = nullptr;            // main window
  std::thread hThread;             // capture thread; joined before capture restarts or tables go
  std::atomic<int> LoggingFlg{0};  // 1 while capturing; read by the capture thread
  char ServerIpAddress[48] = {};
  unsigned int Sock = 0;      // never assigned; handed to the socket clean-up at shutdown
  void* hListView = nullptr;  // main list view
  void* hExclusionListView = nullptr;
  void* hIpFilterListView = nullptr;
  time_t NextSessionChkTime = 0;
  int SMBCommand = 0;
  int SMBVersion = 0;  // 1 or 2
  int SMBCmdListFlg = 0;
  char ClientMac[128] = {};
  char ServerMac[128] = {};
  // The running capture's state (audit/context.h): set by the capture thread for the length of a
  // run, null otherwise; only that thread and the handlers it calls use it.
  CaptureContext* ctx = nullptr;
};

// Held around every access-log write and flush (capture thread) and the log switch (UI thread).
extern std::recursive_mutex g_critSec;

}  // namespace qvx
