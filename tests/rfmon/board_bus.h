// The board that the board tests run on (sim/orvi-sim-board: bus 1 holds
// both devices, bus 2 only the converter, bus 0 nothing, noise off): a test
// of this fixture starts with bus 1 open.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

class Board : public testing::Test {
  protected:
    void SetUp() override {
        fd = open("/dev/i2c-1", O_RDWR);
        ASSERT_GE(fd, 0) << "not on the simulated board?";
    }
    void TearDown() override { close(fd); }
    int fd = -1;
};
