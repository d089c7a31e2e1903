// The access log as an output of access events: one CSV line per event, in the column order of
// the list, the path field quoted as PathDubileCorteSet says.
#pragma once

#include "base/access_event.h"

namespace qvx {

class CsvLogSink : public EventSink {
 public:
  void Write(const AccessEvent& e) override;
  bool WantsRecords() const override;
  void Flush() override;
};

// The program's one access log output.
CsvLogSink& QVX_CsvLogSink();

}  // namespace qvx
