// Starting and stopping capture, the default server address, and the end of the capture side.
#pragma once

#include <string>
#include <vector>

#include "base/data.h"
#include "base/ip_address.h"

namespace qvx {

// Starts capture (the adapter carrying IpAddress, buffer, filter, capture thread): 0, or 1 after
// a failed start, which leaves LoggingFlg 0. Call only while stopped.
int QVX_Start_Logging(DATA& data);
// Stops capture and returns once the capture thread has ended. Always 0.
int QVX_Stop_Logging(DATA& data);
// Toggles capture: stops when running, starts otherwise. 0 after a start or any stop, 1 after a
// failed start. A stop returns only after the capture thread has ended, so a stop followed by a
// start never leaves two capture threads.
int QVX_StartandStop_Logging(DATA& data);
// Fills hWnd, clears LoggingFlg, sets the default server address and brings the window forward.
// 1 when the address list could not be read.
int QVX_Init_Dlg(void* hWnd, DATA& data);
// Clears LoggingFlg (stopping capture), waits for the capture thread and ends the main dialog.
void QVX_EndProgram(DATA& data);

// The machine's IPv4 addresses in the system's order. 0 on success, 1 on failure (boxes shown
// unless "SC", one line written).
int QVX_GetIPaddress(void* hWnd, std::vector<std::string>* addresses);

// The adapter the running (or last) capture was opened on; "" before the first start.
const std::string& QVX_CaptureAdapter();
// Why the last start failed, naming what was looked for and what was found ("no adapter carries
// 10.1.2.3; adapters found: eth0 10.0.0.5"); "" after a start that worked.
const std::string& QVX_CaptureStartProblem();

// Address text to the address an adapter list holds, read by ParseIpAddress, so
// "192.168.001.010" gives the same address as "192.168.1.10" and "FD00::0001" as "fd00::1". Text
// that is no address gives 0.0.0.0, which no adapter carries.
IpAddress QVX_IpTextToAddr(const char* text);

// Whether the capture filter lets any SMB frame of the server through: a TCP segment to or from
// its port 445, with no, one or two VLAN tags, on Ethernet. True also when the server names no
// address or the filter cannot be compiled here (Windows compiles only the default).
bool QVX_FilterPassesSmb(const char* filter, const char* server);

}  // namespace qvx
