// The list of the main window as an output of access events: one row per event meant for it.
#pragma once

#include "base/access_event.h"

namespace qvx {

class ListSink : public EventSink {
 public:
  void Write(const AccessEvent& e) override;
  bool WantsRecords() const override { return false; }
  // The row whose tree reads wait_tree becomes the tree's "connect" row (tree id, action, login),
  // when the list still holds it.
  bool TreeBound(std::string_view wait_tree, std::string_view tree, std::string_view user,
                 const char* trace_fmt) override;
};

// The program's one list output.
ListSink& QVX_ListSink();

// Makes the access log and the list the outputs of access events (in that order), dropping any
// others: start-up of both shells.
void QVX_InstallStandardSinks();

}  // namespace qvx
