#include "capture/capture_connector.h"

namespace qvx {

const CaptureConnector kQvxWPcapConnector = {
    QvxWPcapConEnumAdapter, QvxWPcapConOpen, QvxWPcapBufferSet,
    QvxWPcapFilterSet,      QvxWPcapConRecv, QvxWPcapConClose,
};

namespace {
const CaptureConnector* g_connector = &kQvxWPcapConnector;
}  // namespace

const CaptureConnector& CaptureConnectorInUse() { return *g_connector; }

const CaptureConnector* SetCaptureConnector(const CaptureConnector* c) {
  const CaptureConnector* previous = g_connector;
  g_connector = c ? c : &kQvxWPcapConnector;
  return previous;
}

}  // namespace qvx
