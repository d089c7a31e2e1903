#include <gtest/gtest.h>

#include "app/list_sink.h"

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  // As at the program's start: access events go to the access log and the list. A capture run
  // started by a test takes these as its outputs; a test of the handlers gives its run outputs
  // of its own (support/capture_context.h), so none of them changes these.
  qvx::QVX_InstallStandardSinks();
  return RUN_ALL_TESTS();
}
