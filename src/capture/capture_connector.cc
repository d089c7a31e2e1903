#include "capture/capture_connector.h"

#include "tracking/connection_tracker.h"

namespace qvx {

namespace {

// Each capture follows its connections (and the users of their log-ons) from its own start.
int LiveOpen(const char* name, int wait_ms, char* errbuf) {
  FollowCaptureConnections(true);
  return QvxWPcapConOpen(name, wait_ms, errbuf);
}
int LiveClose() {
  const int rc = QvxWPcapConClose();
  FollowCaptureConnections(false);
  return rc;
}

}  // namespace

const CaptureConnector kQvxWPcapConnector = {
    QvxWPcapConEnumAdapter, LiveOpen,
    QvxWPcapBufferSet,      QvxWPcapFilterSet,
    QvxWPcapConRecv,        LiveClose,
    QvxWPcapConWait,        QvxWPcapConStats,
    QvxWPcapConClockUs,     QvxWPcapConFrameTimeUs,
    QvxWPcapConDrainable,   QvxWPcapConEndWaits,
    QvxWPcapConLinkType,
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
