#include "support/capture_context.h"

#include "accesslog/csv_sink.h"
#include "app/list_sink.h"
#include "platform/platform.h"

namespace qvx::test {

TestCaptureContext::TestCaptureContext(DATA& data) : data_(data) {
  sinks.Add(&QVX_CsvLogSink());
  sinks.Add(&QVX_ListSink());
  ctx.platform = &platform();
  ctx.tracker = &tracker;
  ctx.sinks = &sinks;
  ctx.tables = &QVX_ProgramLogonTables();
  ctx.shares = &QVX_ProgramShares();
  TakeOptions();
  data_.ctx = &ctx;
}

TestCaptureContext::~TestCaptureContext() {
  if (data_.ctx == &ctx) data_.ctx = nullptr;
}

}  // namespace qvx::test
