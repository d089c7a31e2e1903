#include <gtest/gtest.h>

#include "app/list_sink.h"

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  // As at the program's start: access events go to the access log and the list. A test that
  // changes the outputs puts these back through ResetProgramState.
  qvx::QVX_InstallStandardSinks();
  return RUN_ALL_TESTS();
}
