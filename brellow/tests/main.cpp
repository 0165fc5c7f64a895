// Brellow's tests: one QApplication on the offscreen platform for the whole
// binary, with the program's name and version registered as main() does.

#include <gtest/gtest.h>

#include <QApplication>

#include "brellow/program_info.h"

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  brellow::RegisterProgramInfo();
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
