// A capture run's context for a test, as the capture thread makes one for each run: no handle
// open, the platform in use (the test's fake), a connection tracker and outputs of its own (the
// access log and the list, as at start-up), the options as they are when it is made. It is the
// context of data for its life.
#pragma once

#include "audit/context.h"
#include "base/data.h"
#include "base/option.h"
#include "tracking/connection_tracker.h"

namespace qvx::test {

class TestCaptureContext {
 public:
  explicit TestCaptureContext(DATA& data);
  ~TestCaptureContext();
  TestCaptureContext(const TestCaptureContext&) = delete;
  TestCaptureContext& operator=(const TestCaptureContext&) = delete;

  // The options (and the access-kind mode) as they stand now become the run's, as a run started
  // now would take them: a test sets OptionInfo or nAccessKindFlg, then lets its run take it.
  void TakeOptions() {
    ctx.options = OptionInfo;
    ctx.access_kind = nAccessKindFlg;
  }

  CaptureContext& operator*() { return ctx; }
  CaptureContext* operator->() { return &ctx; }

  ConnectionTracker tracker;
  EventSinks sinks;
  CaptureContext ctx;

 private:
  DATA& data_;
};

}  // namespace qvx::test
