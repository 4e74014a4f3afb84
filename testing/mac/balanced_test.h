// A test fixture for the macOS glue: each test ends with the scripted service dropped and every CF
// object it made released exactly once.
#pragma once

#include <gtest/gtest.h>

#include "testing/mac/ax_service.h"

class BalancedCFTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fakeCFReset();
    baseline_ = fakeCFLiveObjects();
  }
  void TearDown() override {
    fakeAXReset();
    EXPECT_EQ(fakeCFLiveObjects(), baseline_) << "a CF object leaked";
    EXPECT_TRUE(fakeCFErrors().empty()) << fakeCFErrors().front();
  }

 private:
  size_t baseline_ = 0;
};
