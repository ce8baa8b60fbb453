// The start-up road, the parse and execute passes, the usage printer and the
// single shutdown path.
#include <cstdio>
#include <unistd.h>
#include "HuxCompat.h"
#include "HuxCore.h"
#include "HuxCoreHooks.h"
#include "HuxPlatform.h"
#include "OsSeam.h"
#include "TKXDriver.h"
#include "TKXOutput.h"
#include "TKXRunEnd.h"
#include "TKXSignal.h"

WriteOutT WriteOut = nullptr;
ErrorOutT ErrorOut = nullptr;
PrintUsageHelpT PrintUsageHelp = nullptr;

UINT32 g_LastErrorCode = 0;
TKXArgvList ArgvItemList;
TKXQueueItemList QueueItemList;

void InitializeFileHub();

void WriteOutInit() { WriteOut = TKXPrintf; }
void ErrorOutInit() { ErrorOut = TKXErrorPrintf; }
void InitWriteOut() { WriteOutInit(); }
void InitErrorOut() { ErrorOutInit(); }

void HuxEarlyInitHookNull(TKXArgvList&, UINT8&) {}

void InitializeLibs() {
    ArgvItemList.init();
    QueueItemList.init();
    InitializeFileHub();
}

void HuxGlobalVariableInit() {
    for (UINT32 i = 0; i < 3 && PtrGlobalVarsInitHookList[i] != nullptr; ++i) PtrGlobalVarsInitHookList[i]();
}

void PutArgvIntoList(TKXArgvList& list, int argc, char** argv) {
    for (int i = 0; i < argc; ++i) list.push_back(new TKX_ARGV_ITEM{argv[i], 0, 0});
}

void HuxEarlyInit(TKXArgvList& args, UINT8& IfConti) {
    for (UINT32 i = 0; i < 8 && HuxEarlyInitHooks[i] != nullptr; ++i) {
        if (IfConti != 0) HuxEarlyInitHooks[i](args, IfConti);
    }
}

UINT32 HuxDriverInit(TKXArgvList& args) {
    DriverLoader loaders[3];
    FillDriverLoaderList(loaders);
    UINT32 loaded = 0;
    for (UINT32 i = 0; i < 3 && loaders[i] != nullptr; ++i) {
        if (loaders[i](args, loaded)) ++loaded;
    }
    return loaded;
}

void HuxDriverRelease(TKXArgvList& args) {
    DriverUnloader unloaders[3];
    FillDriverUnloaderList(unloaders);
    for (UINT32 i = 0; i < 3 && unloaders[i] != nullptr; ++i) unloaders[i](args);
}

ENUM_ERR_ID PlatformInitialize(TKXArgvList& args) {
    // Without the privilege level the first port instruction would kill the
    // process; under Secure Boot the driver does the port writes instead.
    if (OsSeam_SetIoPrivilege(3) != 0 && !TKX_Get_Linux_SecureBoot_Enable()) return eEID_DRIVER_LOAD;
    if (HuxDriverInit(args) == 0) return eEID_DRIVER_LOAD;
    if (!InitMemMgr()) return eEID_MEM_MGR_INIT;
    OsSetNMI_WatchdogStoreValue();
    return eEID_NO_ERROR;
}

ENUM_ERR_ID HuxModuleInit(TKXQueueItemList& items) {
    for (UINT32 i = 0; i < 110 && PtrHuxModuleList[i] != nullptr; ++i) {
        ENUM_ERR_ID status = PtrHuxModuleList[i](items);
        if (status != eEID_NO_ERROR) return status;
    }
    return eEID_NO_ERROR;
}

BOOLEAN HuxGuiInit(int argc, char** argv, TKXArgvList& args, TKXQueueItemList& items) {
    for (UINT32 i = 0; i < 2 && PtrGuiHookList[i] != nullptr; ++i) {
        if (PtrGuiHookList[i](argc, argv, args, items)) return TRUE;
    }
    return FALSE;
}

// A stand-alone command that ends the pass still lets the later modules
// that may go beside it take their words, so that none is dropped unread.
void ParseUserInput() {
    HuxCompat_ClaimedBeforeParse(ArgvItemList);
    bool standAlone = false;
    for (unsigned long i = 0; i < QueueItemList.size(); ++i) {
        TKX_QUEUE_ITEM* item = QueueItemList[i];
        if (item->ParsingCommandFunction == nullptr) continue;
        if (standAlone && !HuxCompat_GoesBesideStandAlone(item)) continue;
        g_LastErrorCode = item->ParsingCommandFunction(ArgvItemList, item);
        HuxCompat_NoteClaims(ArgvItemList, item);
        if (g_LastErrorCode != eEID_NO_ERROR) return;
        if (standAlone || item->StopParse != 1 || item->Enabled != 1) continue;
        if (HuxCompatOf(item) != HUX_COMPAT_STANDS_ALONE) return;
        standAlone = true;
    }
}

void ExecuteEnabledModules() {
    for (unsigned long i = 0; i < QueueItemList.size(); ++i) {
        TKX_LeaveOnEndSignal();
        TKX_QUEUE_ITEM* item = QueueItemList[i];
        if (item->ExecutionActionFunction != nullptr && item->Enabled == 1) {
            g_LastErrorCode = item->ExecutionActionFunction(QueueItemList);
        }
        if (g_LastErrorCode != eEID_NO_ERROR) {
            if (item->OnErrorFunction != nullptr) item->OnErrorFunction();
            return;
        }
    }
}

static void PrintUsage() {
    for (unsigned long i = 0; i < QueueItemList.size(); ++i) {
        if (QueueItemList[i]->CommandHelp != nullptr) QueueItemList[i]->CommandHelp(1);
    }
    WriteOut("| Options:                                                                  |\n");
    for (unsigned long i = 0; i < QueueItemList.size(); ++i) {
        if (QueueItemList[i]->CommandHelp != nullptr) QueueItemList[i]->CommandHelp(0);
    }
}

void TerminateWithoutExecution(char* word) {
    if (PrintUsageHelp != nullptr) {
        PrintUsageHelp(word, nullptr, QueueItemList);
    } else {
        PrintUsage();
        if (word != nullptr) {
            WriteOut("Unknown command or option : %s\n", word);
            g_LastErrorCode = eEID_COMMAND_LINE;
        }
    }
    PlatformFinalize(ArgvItemList);
}

void HuxRefuseCommandLine(const char* why) {
    if (PrintUsageHelp != nullptr) {
        PrintUsageHelp(nullptr, const_cast<char*>(why), QueueItemList);
    } else {
        PrintUsage();
        WriteOut("%s", why);
    }
    g_LastErrorCode = eEID_COMMAND_LINE;
    PlatformFinalize(ArgvItemList);
}

void HuxRunModules() {
    ParseUserInput();
    TKX_LeaveOnEndSignal();
    if (g_LastErrorCode != eEID_NO_ERROR) TerminateWithoutExecution(nullptr);
    if (ArgvItemList.size() <= 1) TerminateWithoutExecution(nullptr);
    char why[512];
    if (HuxCheckCompat(ArgvItemList, QueueItemList, why, sizeof(why)) != eEID_NO_ERROR) HuxRefuseCommandLine(why);
    for (unsigned long i = 1; i < ArgvItemList.size(); ++i) {
        if (ArgvItemList[i]->claimed == 0) TerminateWithoutExecution(ArgvItemList[i]->text);
    }
    ExecuteEnabledModules();
    PlatformFinalize(ArgvItemList);
}

void HuxResourceRelease() {
    CleanUpResourceHook hooks[4];
    FillResourceCleanUpList(hooks);
    for (UINT32 i = 0; i < 4 && hooks[i] != nullptr; ++i) hooks[i]();
}

void CleanAll() {
    for (unsigned long i = 0; i < ArgvItemList.size(); ++i) {
        TKX_ARGV_ITEM* item = ArgvItemList[i];
        if (item->fromTrailer) delete[] item->text;
        delete item;
    }
    ArgvItemList.clear();
    QueueItemList.clear();
    HuxResourceRelease();
}

void HuxExitProcess(UINT32 status) {
    fflush(nullptr);
    // A failure whose low byte is zero must not look like success.
    int code = static_cast<int>(status & 0xFF);
    if (status != 0 && code == 0) code = 0xFF;
    _exit(code);
}

void PlatformFinalize(TKXArgvList& args) {
    TKX_ShutdownStarted();
    // What the run started and did not end is ended first, while the
    // interface and the driver are still there; the error line follows.
    TKX_RunEndAll();
    TKX_SayWhatStands();
    if (g_LastErrorCode != eEID_NO_ERROR) {
        g_LastErrorCode = ErrorOut(static_cast<ENUM_ERR_ID>(g_LastErrorCode));
    }
    CleanAll();
    HuxDriverRelease(args);
    OsSetNMI_WatchdogRestoreValue();
    OsSeam_SetIoPrivilege(0);
    HuxExitProcess(g_LastErrorCode);
}

const char* HuxProgramName() { return sizeof(void*) == 8 ? "yozmfglnx_64" : "yozmfglnx_32"; }
