// Starting and stopping capture, the default server address, and the end of the capture side.
#pragma once

#include "app/data.h"

namespace qvx {

// Toggles capture: stops when running, starts otherwise. 0 after a start or any stop, 1 after a
// failed start.
int QVX_StartandStop_Logging(DATA& data);
// Fills hWnd, clears LoggingFlg, sets the default server address and brings the window forward.
int QVX_Init_Dlg(void* hWnd, DATA& data);
// Clears LoggingFlg (stopping capture) and ends the main dialog.
void QVX_EndProgram(DATA& data);

}  // namespace qvx
