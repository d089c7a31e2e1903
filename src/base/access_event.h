// One access event as the audit step produces it: what a log line or a list row says, before any
// of them is formatted. Outputs (the CSV access log, the list of the main window, JSON Lines,
// syslog) are EventSinks; the audit step hands every event to each sink in turn.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace qvx {

struct AccessEvent {
  LocalTime when;               // capture time of the request (local time)
  std::string_view action;      // "access", "denied", "unknown", "login", "connect", ...
  std::string_view tree;        // TreeId as text, "WAIT<n>" while a tree connect is unanswered
  std::string_view user;        // login name, may be empty
  std::string_view client;      // client address (with its host name when so configured)
  std::string_view server;      // server address (likewise)
  std::string_view client_mac;  // as the log shows them; some lines carry them swapped
  std::string_view server_mac;
  std::string_view command;    // "SMB Cmd", e.g. SMB2_CREATE
  std::string_view info;       // "SMB Info": the command's description or the refusal's status
  std::string_view size;       // size text, empty on lines without one
  std::string_view operation;  // "Rd  ", "Wt  ", "New ", "Del ", "ReNm", ... or empty
  std::string_view path;       // local path (or share) as the list shows it
  // Appended to the path in written records only (the ids of a tree line, "[T:.. P:.. U:.. M:..]").
  std::string_view path_detail;
  // The security descriptor a permission change set, as SDDL: in the JSON record only.
  std::string_view acl;
  // Where the event goes: the written records (log, JSON, syslog), the list of the window.
  bool to_records = true;
  bool to_list = true;
};

// An output of access events. Write is called on the capture thread, one event at a time.
class EventSink {
 public:
  virtual ~EventSink() = default;
  virtual void Write(const AccessEvent& e) = 0;
  // False while the sink would drop every written record (events with to_records): a producer of
  // records only may then skip the work of building one.
  virtual bool WantsRecords() const { return true; }
  // Makes what was written so far durable (the log writer calls it once per batch).
  virtual void Flush() {}
  // The tree first shown as wait_tree ("WAIT<n>", its connect unanswered) is now known: its id
  // and user. An output that keeps what it showed (the list) shows it as the tree's "connect"
  // and returns true when it still held it; with trace_fmt every look at a kept tree text is
  // traced (diagnostic level 6).
  virtual bool TreeBound(std::string_view /*wait_tree*/, std::string_view /*tree*/,
                         std::string_view /*user*/, const char* /*trace_fmt*/) {
    return false;
  }
};

// The outputs of a capture run, in the order they are written.
class EventSinks {
 public:
  void Add(EventSink* sink) { sinks_.push_back(sink); }
  void Remove(EventSink* sink) {
    for (auto it = sinks_.begin(); it != sinks_.end(); ++it)
      if (*it == sink) {
        sinks_.erase(it);
        return;
      }
  }
  void Clear() { sinks_.clear(); }
  void Write(const AccessEvent& e) const {
    for (EventSink* s : sinks_) s->Write(e);
  }
  // True when any output still held the waiting tree.
  bool TreeBound(std::string_view wait_tree, std::string_view tree, std::string_view user,
                 const char* trace_fmt) const {
    bool held = false;
    for (EventSink* s : sinks_) held = s->TreeBound(wait_tree, tree, user, trace_fmt) || held;
    return held;
  }
  bool WantRecords() const {
    for (const EventSink* s : sinks_)
      if (s->WantsRecords()) return true;
    return false;
  }
  size_t size() const { return sinks_.size(); }

 private:
  std::vector<EventSink*> sinks_;
};

}  // namespace qvx
