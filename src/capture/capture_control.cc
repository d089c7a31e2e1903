#include "capture/capture_control.h"

#include "app/controller.h"
#include "app/dbglog.h"

namespace qvx {

// The capture connector joins here; until then a start has nothing to open.
int QVX_StartandStop_Logging(DATA& data) {
  if (data.LoggingFlg == 1) {
    data.LoggingFlg = 0;
    return 0;
  }
  return 1;
}

int QVX_Init_Dlg(void* hWnd, DATA& data) {
  data.hWnd = hWnd;
  data.LoggingFlg = 0;
  QVX_OnForeground();
  return 0;
}

void QVX_EndProgram(DATA& data) {
  if (data.LoggingFlg == 1) data.LoggingFlg = 0;
  if (data.hThread.joinable()) data.hThread.join();
  if (View* v = QVX_View()) v->EndMainDialog();
}

}  // namespace qvx
