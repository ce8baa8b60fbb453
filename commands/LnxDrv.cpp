// Driver-build options: the help lines of "/makedrv" and "/gendrv" and two
// early hooks. The first prints the banner above the build's messages; the
// second stops a run under Secure Boot when no prebuilt driver object is
// there, since a driver built on the spot cannot be loaded then.
#include <unistd.h>
#include "HuxCoreHooks.h"
#include "HuxPlatform.h"
#include "TKXDriver.h"
#include "TKXString.h"
#include "YozOptionStore.h"
#include "YozSwitchMode.h"
#include "YozUsage.h"

static const ENUM_ERR_ID kNoAutoBuildUnderSecureBoot = static_cast<ENUM_ERR_ID>(0x71);

static TKX_QUEUE_ITEM s_LnxdrvItem;

static bool IsBuildWord(const char* text) {
    return IdentifyArg(text, "/makedrv", 1) == 1 || IdentifyArg(text, "/gendrv", 1) == 1;
}

static bool AnyBuildWord(TKXArgvList& args) {
    for (unsigned long i = 0; i < args.size(); ++i) {
        if (IsBuildWord(args[i]->text)) return true;
    }
    return false;
}

static void WriteOutBuildDriverUsageHead() { YOZ_PrintPlainBanner(); }

void TKX_Linux_DriverBuild_Usage(TKXArgvList& args, UINT8&) {
    if (AnyBuildWord(args)) WriteOutBuildDriverUsageHead();
}

void TKX_Linux_SecureBoot_Driver_Check(TKXArgvList& args, UINT8& IfConti) {
    if (!TKX_Get_Linux_SecureBoot_Enable() || access("./nuvfldrv_mod.o", F_OK) == 0) return;
    IfConti = 0;
    g_LastErrorCode = kNoAutoBuildUnderSecureBoot;
    // A build option lets the run go on: it builds or writes the driver.
    if (AnyBuildWord(args)) {
        IfConti = 1;
        g_LastErrorCode = eEID_NO_ERROR;
    }
    if (IfConti == 0) WriteOutBuildDriverUsageHead();
}

static ENUM_ERR_ID LnxdrvParse(TKXArgvList&, TKX_QUEUE_ITEM*) { return eEID_NO_ERROR; }

static ENUM_ERR_ID LnxdrvExecute(TKXQueueItemList&) {
    YOZ_ModeTakesPart(s_LnxdrvItem.ModeMask);
    return eEID_NO_ERROR;
}

static void LnxdrvHelp(UINT8 pass) {
    if (!YOZ_ModeTakesPart(s_LnxdrvItem.ModeMask) || pass != 0) return;
    WriteOut("|%*s - Make YOZLNX driver with user defined environment.            |\n", 11, "/MAKEDRV");
    YOZ_CheckGlobalLineCont(1);
    WriteOut("|%*s - Generate YOZLNX driver source files to specific directory.   |\n", 11, "/GENDRV");
    YOZ_CheckGlobalLineCont(1);
}

ENUM_ERR_ID Register_Lnxdrv_QueueItem(TKXQueueItemList& items) {
    s_LnxdrvItem = TKX_QUEUE_ITEM{eMID_LNXDRV, LnxdrvParse, LnxdrvExecute, LnxdrvHelp, nullptr, 0, 0, 0x5B9A,
                                  YOZ_MODE_EVERY, 0};
    items.push_back(&s_LnxdrvItem);
    return eEID_NO_ERROR;
}
