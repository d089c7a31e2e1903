#include "capture/capture_hooks.h"

namespace qvx {

// Until the share list, the session tables, the list rows and the IP filter exist, these do
// nothing: no shares, no clean-up, no filter entries.

void QVX_CaptureShareRefresh() {}

void QVX_CaptureSmbInfoTableDelete(DATA*) {}

void QVX_CaptureListIndexReset() {}

void QVX_CaptureHideMainWindow(DATA*) {}

int QVX_CaptureIpFilterCount() { return 0; }

const char* QVX_CaptureIpFilterLine(int) { return ""; }

int QVX_CaptureExclusionDateChk(char*, const char*, const char*, const char*, const char*,
                                const char*, const char*) {
  return 0;
}

}  // namespace qvx
