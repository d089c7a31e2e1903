// An access event with every field set, for the tests of the outputs.
#pragma once

#include "base/access_event.h"

namespace qvx::test {

inline AccessEvent SampleAccessEvent() {
  AccessEvent e;
  e.when.year = 2026;
  e.when.month = 12;
  e.when.day = 9;
  e.when.hour = 10;
  e.when.minute = 20;
  e.when.second = 7;
  e.action = "access";
  e.tree = "7";
  e.user = "alice";
  e.client = "10.0.0.2";
  e.server = "10.0.0.1";
  e.client_mac = "aa:aa:aa:aa:aa:aa";
  e.server_mac = "bb:bb:bb:bb:bb:bb";
  e.command = "SMB2_CREATE";
  e.info = "open";
  e.size = "5";
  e.operation = "Rd  ";
  e.path = "/srv/share/a.txt";
  return e;
}

}  // namespace qvx::test
