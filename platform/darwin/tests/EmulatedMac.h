#pragma once
// A test that runs the darwin sources against a fresh emulated Mac, and fails when the emulation
// recorded misuse a real Mac would punish (a NULL release, a double release, a used-up object).

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/darwin/tests/emulation/Emulation.h"

namespace tessly::darwin {

namespace emu = tessly::emulation;

class EmulatedMac : public ::testing::Test {
  protected:
    void SetUp() override { emu::reset(); }
    void TearDown() override {
        EXPECT_THAT(emu::problems(), ::testing::IsEmpty());
        emu::reset();
    }
};

}  // namespace tessly::darwin
