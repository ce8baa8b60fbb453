// The one fixed road of every run, from the first argument to the exit.
#include "HuxCore.h"
#include "HuxPlatform.h"
#include "OsSeam.h"
#include "TKXSignal.h"

void HuxRunRoad(int argc, char** argv, void (*beforeModuleInit)()) {
    OsSeam_Start();
    TKX_InstallEndSignals();
    InitializeLibs();
    HuxGlobalVariableInit();
    PutArgvIntoList(ArgvItemList, argc, argv);

    UINT8 IfConti = 1;
    HuxEarlyInit(ArgvItemList, IfConti);
    if (IfConti == 0) PlatformFinalize(ArgvItemList);
    TKX_LeaveOnEndSignal();

    g_LastErrorCode = LoadUaf(argc, argv);
    if (g_LastErrorCode != eEID_NO_ERROR) PlatformFinalize(ArgvItemList);

    g_LastErrorCode = PlatformInitialize(ArgvItemList);
    if (g_LastErrorCode != eEID_NO_ERROR) PlatformFinalize(ArgvItemList);
    TKX_LeaveOnEndSignal();

    if (beforeModuleInit != nullptr) beforeModuleInit();
    g_LastErrorCode = HuxModuleInit(QueueItemList);
    if (g_LastErrorCode != eEID_NO_ERROR) PlatformFinalize(ArgvItemList);
    TKX_LeaveOnEndSignal();

    if (HuxGuiInit(argc, argv, ArgvItemList, QueueItemList)) PlatformFinalize(ArgvItemList);

    HuxRunModules();
}
