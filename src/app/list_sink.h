// The list of the main window as an output of access events: one row per event meant for it.
#pragma once

#include "base/access_event.h"

namespace qvx {

class ListSink : public EventSink {
 public:
  void Write(const AccessEvent& e) override;
  bool WantsRecords() const override { return false; }
};

// The program's one list output.
ListSink& QVX_ListSink();

// Makes the access log and the list the outputs of access events (in that order), dropping any
// others: start-up of both shells.
void QVX_InstallStandardSinks();

}  // namespace qvx
