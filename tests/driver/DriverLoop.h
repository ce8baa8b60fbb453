// Start and loop shared by the call drivers: the platform comes up, the
// queue items they need are registered, then each argument is one call run
// by `run` until one fails; the run ends through the program's shutdown path.
#pragma once
#include <cstdio>
#include <string>
#include "HuxCore.h"
#include "HuxPlatform.h"
#include "OsSeam.h"

using DriverRegisterFn = ENUM_ERR_ID (*)(TKXQueueItemList&);

[[noreturn]] inline void DriverLoop(int argc, char** argv, const DriverRegisterFn* registers, int registerCount,
                                    bool (*run)(const std::string&)) {
    OsSeam_Start();
    InitializeLibs();
    HuxGlobalVariableInit();
    PutArgvIntoList(ArgvItemList, 1, argv);
    g_LastErrorCode = PlatformInitialize(ArgvItemList);
    for (int i = 0; i < registerCount && g_LastErrorCode == eEID_NO_ERROR; ++i) g_LastErrorCode = registers[i](QueueItemList);
    if (g_LastErrorCode != eEID_NO_ERROR) PlatformFinalize(ArgvItemList);
    for (int i = 1; i < argc; ++i) {
        fflush(stdout);
        if (!run(argv[i])) break;
    }
    fflush(stdout);
    PlatformFinalize(ArgvItemList);
}
