// Reboot, power-off, delays and the keyboard lock against the emulated machine.
#include <gtest/gtest.h>
#include "TKXPortIo.h"
#include "UnitMachine.h"

using namespace unitmachine;

namespace {

TEST(PortIo, RebootAndPowerOffAreShellCommands) {
    ASSERT_TRUE(Reset());
    OsRestart();
    OsShutDown();
    EXPECT_EQ(Trace(), (std::vector<std::string>{"shell \"shutdown -r now\"", "shell \"shutdown -h now\""}));
}

TEST(PortIo, DelaysAdvanceTheVirtualClock) {
    ASSERT_TRUE(Reset({"trace_delays=1"}));
    UINT64 before = CPU_rdtsc();
    Delay(100);
    Delay(1000);
    EXPECT_GT(CPU_rdtsc(), before);
    EXPECT_EQ(Trace(), (std::vector<std::string>{"delay us=0x64", "delay us=0x3e8"}));
}

TEST(PortIo, KeyboardLockNeedsTheDriver) {
    ASSERT_TRUE(Reset());
    YozEnableInput(0);
    YozEnableInput(1);
    EXPECT_TRUE(Trace().empty()) << "no driver open: no request";
}

}  // namespace
