// An access event as one JSON object (one line of JSON Lines, the message of a syslog record):
// the access log's fields under stable names, the time in ISO 8601 with its UTC offset, the
// server's host name and the program's version.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base/access_event.h"

namespace qvx {

// "2026-12-09T05:35:00+09:00": the local time and its offset from UTC (t is the epoch second).
std::string QVX_Iso8601(const LocalTime& when);

// {"time":..,"action":..,"tree":..,"user":..,"client":..,"server":..,"client_mac":..,
//  "server_mac":..,"command":..,"info":..,"size":..,"operation":..,"path":..,"host":..,
//  "program":"quorvix","version":..}; each value the text of the access log's column (the path
// with its detail, never quoted), no line end. A seq other than 0 is added last ("seq":N, a
// number): the record's place in the run, so that a record delivered twice can be recognised.
std::string QVX_EventJson(const AccessEvent& e, std::string_view host, std::string_view version,
                          uint64_t seq = 0);

// s as a JSON string, quotes included. Bytes that form no UTF-8 character are written <XX>, as
// the logs write them.
void QVX_JsonString(std::string* out, std::string_view s);

}  // namespace qvx
