// The kernel's NMI watchdog: switched off for the run, put back at exit.
#include <cstdio>
#include "HuxPlatform.h"
#include "OsSeam.h"

int g_nmi_watchdog_value = 0;

namespace {
const char kWatchdogPath[] = "/proc/sys/kernel/nmi_watchdog";

bool WatchdogReadable() {
    FILE* f = fopen(OsSeam_Path(kWatchdogPath).c_str(), "re");
    if (f == nullptr) return false;
    fclose(f);
    return true;
}
}  // namespace

void OsSetNMI_WatchdogStoreValue() {
    if (!WatchdogReadable()) return;
    g_nmi_watchdog_value = 0;
    FILE* f = fopen(OsSeam_Path(kWatchdogPath).c_str(), "r+e");
    if (f != nullptr) {
        int c = fgetc(f);
        if (c >= '0' && c <= '9') g_nmi_watchdog_value = c - '0';
        fclose(f);
    }
    if (g_nmi_watchdog_value != 0) {
        OsSeam_System("echo 0 > /proc/sys/kernel/nmi_watchdog");
        OsSeam_System("sync");
    }
}

void OsSetNMI_WatchdogRestoreValue() {
    if (!WatchdogReadable() || g_nmi_watchdog_value == 0) return;
    char command[64];
    snprintf(command, sizeof(command), "echo %x > /proc/sys/kernel/nmi_watchdog", g_nmi_watchdog_value);
    OsSeam_System(command);
    OsSeam_System("sync");
}
