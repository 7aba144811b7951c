#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "torvex/platform/platform.h"

namespace {

// Says why a test skipped on a line of its own, which the test run collects
// from the test log into one list. The test's name is kept when it starts:
// asking the framework for it while a result is being added would wait on
// the framework's own lock.
class SkipReasons : public ::testing::EmptyTestEventListener {
  void OnTestStart(const ::testing::TestInfo& test) override {
    name_ = std::string(test.test_suite_name()) + "." + test.name();
  }
  void OnTestPartResult(const ::testing::TestPartResult& result) override {
    if (result.skipped()) std::printf("skipped: %s: %s\n", name_.c_str(), result.message());
  }

  std::string name_;
};

}  // namespace

int main(int argc, char** argv) {
  torvex::installservices();
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::UnitTest::GetInstance()->listeners().Append(new SkipReasons);
  return RUN_ALL_TESTS();
}
