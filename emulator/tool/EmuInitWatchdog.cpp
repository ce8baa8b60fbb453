// Init step: the kernel's NMI watchdog setting under root/proc/.
#include <cstdio>
#include "EmuInitSteps.h"
#include "EmuMachine.h"

bool EmuInit_NmiWatchdog(std::string& error) {
    std::string value = EmuMachine_Get("nmi_watchdog", "0");
    if (value == "none") return true;
    std::string path = EmuMachine_Root("/proc/sys/kernel/nmi_watchdog");
    FILE* f = fopen(path.c_str(), "w");
    if (f == nullptr || fprintf(f, "%s\n", value.c_str()) < 0 || fclose(f) != 0) {
        error = "cannot write " + path;
        return false;
    }
    return true;
}
