// What the simulated machine does beyond Windows to make a fault show.
#include <csignal>
#include <string>

#include <gtest/gtest.h>

#include "tests/child_process.h"

namespace {

TEST(SimulatedMachine, AProgramThatLoopsIsStoppedAtTheCallLimit)
{
    // The first node's list grows after every size answer, so the program
    // asks again and again; the machine stops it after 300 calls.
    const hwtest::Result looping = hwtest::RunProgram({"USB"}, {"HWPURGE_SIM_FAULTS=grow@0=1000000,calls=300"});
    EXPECT_EQ(looping.err, "simulated Windows: more than 300 calls; the program seems to be looping\n");
    EXPECT_EQ(looping.status, 128 + SIGABRT);
    // A whole pass on the sample stays under that limit.
    const hwtest::Result whole = hwtest::RunProgram({"USB"}, {"HWPURGE_SIM_FAULTS=calls=300"});
    EXPECT_EQ(whole.err, "");
    EXPECT_EQ(whole.status, 0);
}

}  // namespace
