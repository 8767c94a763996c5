#pragma once
// A test that runs the darwin sources against a fresh emulated Mac. When the test body is over
// (and its objects destroyed) nothing may be left: no misuse a real Mac would punish (a NULL or
// double release, a used-up object), no object never released, no connection never closed.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "emulation/Emulation.h"

namespace tessly::darwin {

namespace emu = tessly::emulation;

class EmulatedMac : public ::testing::Test {
  protected:
    void SetUp() override { emu::reset(); }
    void TearDown() override {
        EXPECT_THAT(emu::record().problems, ::testing::IsEmpty());
        EXPECT_EQ(emu::liveCFObjects(), 0u) << "CoreFoundation objects never released";
        EXPECT_EQ(emu::liveIOObjects(), 0u) << "IOKit objects never released or closed";
        emu::reset();
    }
};

}  // namespace tessly::darwin
