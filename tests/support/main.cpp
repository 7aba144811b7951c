#include <gtest/gtest.h>

#include "torvex/platform/platform.h"

int main(int argc, char** argv) {
  torvex::installservices();
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
