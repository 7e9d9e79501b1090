// What the in-process reader tests share: the simulation on its virtual clock and its
// command line.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>

#include "sim/inprocess.h"

namespace simtest {

class SimFixture : public ::testing::Test {
protected:
    void Sim(const std::string& command) {
        std::string error;
        std::ostringstream out;
        ASSERT_TRUE(m_sim.Command(command, out, &error)) << command << ": " << error;
    }
    std::string SimOut(const std::string& command) {
        std::ostringstream out;
        std::string error;
        EXPECT_TRUE(m_sim.Command(command, out, &error)) << error;
        return out.str();
    }
    uint32_t Now() { return m_sim.Clock().NowMs(); }

    sim::InProcessSimulation m_sim;
};

}  // namespace simtest
