#include <gtest/gtest.h>

#include <cstdio>

#include "torvex/platform/platform.h"

namespace {

// Says why a test skipped on a line of its own, which the test run collects
// from the test log into one list.
class SkipReasons : public ::testing::EmptyTestEventListener {
  void OnTestPartResult(const ::testing::TestPartResult& result) override {
    if (!result.skipped()) return;
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    std::printf("skipped: %s.%s: %s\n", test ? test->test_suite_name() : "?", test ? test->name() : "?",
                result.message());
  }
};

}  // namespace

int main(int argc, char** argv) {
  torvex::installservices();
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::UnitTest::GetInstance()->listeners().Append(new SkipReasons);
  return RUN_ALL_TESTS();
}
