// Hook tables of the build.
#include "HuxCoreHooks.h"
#include "HuxPlatform.h"

InitGlobalVariableHook PtrGlobalVarsInitHookList[3] = {InitWriteOut, InitErrorOut, nullptr};

HuxEarlyInitHook HuxEarlyInitHooks[8] = {
    HuxEarlyInitHookNull,
    TKX_Linux_DriverBuild_Usage,
    TKX_Linux_SecureBoot_Check,
    TKX_LinuxMakeDrv,
    TKX_LinuxGenDrv,
    TKX_Linux_SecureBoot_Driver_Check,
    TKX_YOZ_UsageHead,
    nullptr,
};

// Registration, parse, execute and help order of the option modules. The
// last registrar slot is an extension point, empty in this build.
RegisterQueueItemFunction PtrHuxModuleList[110] = {
    RegistertdrdelayprocQueueItem,  // 0
    RegisterOEMSMIQueueItem,  // 1
    RegisterInitBiosInfoQueueItem,  // 2
    Register_ATC_QueueItem,  // 3
    Register_Lnxdrv_QueueItem,  // 4
    RegisterYozGlobalQueueItem,  // 5
    RegisterdelZOZQueueItem,  // 6
    RegisterZOZQueueItem,  // 7
    RegisterSMQueueItem,  // 8
    RegisterEGMQueueItem,  // 9
    RegistertdrdelayQueueItem,  // 10
    RegistertdrdelaynQueueItem,  // 11
    RegistersmidelayQueueItem,  // 12
    RegistersmibkdelayQueueItem,  // 13
    RegisterusageheadQueueItem,  // 14
    RegistercmdBFQueueItem,  // 15
    RegisteroemcmdBFQueueItem,  // 16
    Register_DPC_QueueItem,  // 17
    RegisterEGM_JVC_QueueItem,  // 18
    RegisterORVCKQueueItem,  // 19
    RegisterfilenameQueueItem,  // 20
    RegisterGPRQueueItem,  // 21
    RegisterCFGQueueItem,  // 22
    RegisterMFGQueueItem,  // 23
    RegisterSecureFlashQueueItem,  // 24
    RegisterPWQueueItem,  // 25
    RegisterMEBINULQueueItem,  // 26
    RegistermeulQueueItem,  // 27
    RegisterhelpQueueItem,  // 28
    RegisterquietQueueItem,  // 29
    RegisterdefansQueueItem,  // 30
    RegisterFlashAllROMFlashQueueItem,  // 31
    RegisterNoCkRIDQueueItem,  // 32
    RegistercafQueueItem,  // 33
    RegistercheckromidcntQueueItem,  // 34
    RegisterSaveMEToFileQueueItem,  // 35
    RegisterSaveRomToFileQueueItem,  // 36
    RegisterDisplayRomIdQueueItem,  // 37
    RegisterdisplaysysidQueueItem,  // 38
    RegisterEGM_R2x2_QueueItem,  // 39
    RegisterYozGlobalCheckQueueItem,  // 40
    Register_JBC_QueueItem,  // 41
    Register_RLC_QueueItem,  // 42
    RegisterEGM_INFO_QueueItem,  // 43
    RegisterEGM_MEINFO_QueueItem,  // 44
    RegisterEGM_NPSLP_QueueItem,  // 45
    RegisterEGM_SFMDT_QueueItem,  // 46
    RegisterEGM_ERASE_QueueItem,  // 47
    RegisterRomHoleOutFlashQueueItem,  // 48
    RegisterVerifyQueueItem,  // 49
    RegistercmdSFQueueItem,  // 50
    RegisteroemcmdSFQueueItem,  // 51
    RegisterSetupStoreQueueItem,  // 52
    RegisterSMBIOSStoreQueueItem,  // 53
    RegisterSMBIOSNStoreQueueItem,  // 54
    RegisterSecFlashBootBlockCapsuleQueueItem,  // 55
    RegisterSecFlashBootBlockRecoveryQueueItem,  // 56
    RegisterSecFlashEmbeddedEcCapsuleQueueItem,  // 57
    RegisterSecFlashEmbeddedEcRecoveryQueueItem,  // 58
    RegisterSecFlashMainBiosCapsuleQueueItem,  // 59
    RegisterSecFlashMainBiosRecoveryQueueItem,  // 60
    RegisterSecFlashNvramCapsuleQueueItem,  // 61
    RegisterSecFlashNvramRecoveryQueueItem,  // 62
    RegisterBootBlockOpenQueueItem,  // 63
    RegisterMainBiosOpenQueueItem,  // 64
    RegisterBootBlock2OpenQueueItem,  // 65
    RegisterNvRamOpenQueueItem,  // 66
    RegisterNCBFullOpenQueueItem,  // 67
    RegisterNCBKnOpenQueueItem,  // 68
    RegisterretryQueueItem,  // 69
    RegisterRomHoleFlashQueueItem,  // 70
    RegisterBootBlockFlashQueueItem,  // 71
    RegisterMainBiosFlashQueueItem,  // 72
    RegisterBootBlock2FlashQueueItem,  // 73
    RegisterNvRamFlashQueueItem,  // 74
    RegisterNCBFullFlashQueueItem,  // 75
    RegisterNCBKnFlashQueueItem,  // 76
    RegisterRHFullFlashQueueItem,  // 77
    RegisterRHLnFlashQueueItem,  // 78
    RegisterSetupReStoreQueueItem,  // 79
    RegisterSMBIOSReStoreQueueItem,  // 80
    RegisterSECUFlashQueueItem,  // 81
    RegisterSECFlashQueueItem,  // 82
    RegistermefQueueItem,  // 83
    RegistermerfQueueItem,  // 84
    RegistermeufQueueItem,  // 85
    RegisterMEBULQueueItem,  // 86
    RegisteroemactkeyQueueItem,  // 87
    RegisterdeleteoemactkeyQueueItem,  // 88
    RegisterYozGlobalSecureFlashQueueItem,  // 89
    RegisterclnevnlogQueueItem,  // 90
    RegisterSecFlashCapsuleQueueItem,  // 91
    RegisterSecFlashRecoveryQueueItem,  // 92
    RegisterNSECFlashQueueItem,  // 93
    RegisternsecxflashQueueItem,  // 94
    RegisteroaknotifyQueueItem,  // 95
    RegisterdeleteoaknotifyQueueItem,  // 96
    RegisterEGM_S24_QueueItem,  // 97
    RegisterEGM_PRESET_QueueItem,  // 98
    RegistercmdAFQueueItem,  // 99
    RegisteroemcmdAFQueueItem,  // 100
    RegistercmdBEQueueItem,  // 101
    RegisteroemcmdBEQueueItem,  // 102
    RegisterREBOOTQueueItem,  // 103
    RegisterSHUTDOWNQueueItem,  // 104
    RegistertdrdelayprocendQueueItem,  // 105
    RegisterusagefootQueueItem,  // 106
    RegisterYozGlobalEndQueueItem,  // 107
    nullptr,  // PtrLastQueueItem
    nullptr,
};

TKXGuiInitHook PtrGuiHookList[2] = {nullptr, nullptr};  // PtrLastGuiInitHook

CleanUpResourceHook CleanUpFileHubHook = nullptr;
CleanUpResourceHook CleanFlashIfcHook = nullptr;
CleanUpResourceHook CleanBiosInfoHook = nullptr;
DriverLoader RuntimeMemoryHoleLoader = TKX_RuntimeMemoryHoleLoader;
DriverLoader DefaultDriverLoader = TKX_LinuxDriverLoader;
DriverUnloader RuntimeMemoryHoleUnloader = TKX_RuntimeMemoryHoleUnloader;
DriverUnloader DefaultDriverUnloader = TKX_LinuxDriverUnloader;

void FillResourceCleanUpList(CleanUpResourceHook (&list)[4]) {
    list[0] = CleanUpFileHubHook;
    list[1] = CleanFlashIfcHook;
    list[2] = CleanBiosInfoHook;
    list[3] = nullptr;
}

void FillDriverLoaderList(DriverLoader (&list)[3]) {
    list[0] = RuntimeMemoryHoleLoader;
    list[1] = DefaultDriverLoader;
    list[2] = nullptr;
}

void FillDriverUnloaderList(DriverUnloader (&list)[3]) {
    list[0] = RuntimeMemoryHoleUnloader;
    list[1] = DefaultDriverUnloader;
    list[2] = nullptr;
}
