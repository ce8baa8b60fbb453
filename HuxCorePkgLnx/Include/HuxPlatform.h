// Platform services that the start-up road calls.
#pragma once
#include "HuxCore.h"

// Physical-memory manager: false when physical memory cannot be mapped.
BOOLEAN InitMemMgr();
// Kernel NMI watchdog: saved and zeroed at start, restored at exit.
void OsSetNMI_WatchdogStoreValue();
void OsSetNMI_WatchdogRestoreValue();

// Driver loaders and unloaders of the loader tables.
BOOLEAN TKX_RuntimeMemoryHoleLoader(TKXArgvList& args, UINT32 loadedSoFar);
void TKX_RuntimeMemoryHoleUnloader(TKXArgvList& args);
BOOLEAN TKX_LinuxDriverLoader(TKXArgvList& args, UINT32 loadedSoFar);
void TKX_LinuxDriverUnloader(TKXArgvList& args);

// Early-init hooks.
void HuxEarlyInitHookNull(TKXArgvList& args, UINT8& IfConti);
void TKX_Linux_DriverBuild_Usage(TKXArgvList& args, UINT8& IfConti);
void TKX_Linux_SecureBoot_Check(TKXArgvList& args, UINT8& IfConti);
void TKX_LinuxMakeDrv(TKXArgvList& args, UINT8& IfConti);
void TKX_LinuxGenDrv(TKXArgvList& args, UINT8& IfConti);
void TKX_Linux_SecureBoot_Driver_Check(TKXArgvList& args, UINT8& IfConti);
void TKX_YOZ_UsageHead(TKXArgvList& args, UINT8& IfConti);

// Indexes the configuration trailer of the program's own file.
ENUM_ERR_ID LoadUaf(int argc, char** argv);
