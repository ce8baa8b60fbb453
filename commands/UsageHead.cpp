// Usage-head module: prints the banner box while it parses (so the banner
// stands above every run's output) and the usage lines in help pass 1.
#include <cstdio>
#include "HuxCoreHooks.h"
#include "HuxPlatform.h"
#include "TKXString.h"
#include "YozOptionStore.h"
#include "YozSwitchMode.h"
#include "YozUsage.h"
#include "YozZozRecords.h"

const char* gAppName = "";

const char kYozBannerTitle[] = "Yoz Manufacturing Flash Utility (Linux)";
const char kYozBannerNotice[] = "        Keep the machine powered on until the update has finished.         ";
const char kYozVersion[] = "5.09.04.1503";
static_assert(sizeof(kYozBannerTitle) - 1 == 39, "the title fills the title line to 77 columns");
static_assert(sizeof(kYozBannerNotice) - 1 == 75, "the notice fills its line to 77 columns");

static const char kBorder[] = "+---------------------------------------------------------------------------+\n";
static const UINT8 kUsageHeadMask = YOZ_MODE_NORMAL | YOZ_MODE_2X2 | YOZ_MODE_FTF;
// Width of the build suffix in the title line; a shorter one is padded.
static const UINT32 kSuffixWidth = 10;

static char s_BuildSuffix[16];

// One line of the box: "|", the text padded with blanks to 75 columns, "|".
static void PrintBoxLine(const char* text) {
    UINT32 length = StringLength(text);
    int pad = length < 75 ? static_cast<int>(75 - length) : 0;
    WriteOut("|%s%*s|\n", text, pad, "");
}

static void PrintTitle() {
    WriteOut("%s", kBorder);
    UINT32 suffix = StringLength(s_BuildSuffix);
    int pad = suffix < kSuffixWidth ? static_cast<int>(kSuffixWidth - suffix) : 0;
    WriteOut("|            %s %sv%s%*s|\n", kYozBannerTitle, s_BuildSuffix, kYozVersion, pad, "");
}

static void PrintNotice() {
    WriteOut("|%s|\n", kYozBannerNotice);
    WriteOut("%s", kBorder);
}

void YOZ_PrintPlainBanner() {
    PrintTitle();
    PrintNotice();
    YOZ_CheckGlobalLineCont(1);
}

static void Print2x2Banner() {
    PrintTitle();
    WriteOut("|                              2+2 Mode                                     |\n");
    PrintNotice();
    YOZ_CheckGlobalLineCont(3);
}

// Each marker the ACPI probe found puts its text on the one mode line.
static void PrintFtfBanner() {
    PrintTitle();
    if (YOZ_GetMLAP_FTF_isExist()) WriteOut("|                        APL FaultTolerance Mode                            ");
    if (YOZ_GetMLAP_APL_isExist()) WriteOut("|                             APL Normal Mode                               ");
    WriteOut("|\n");
    PrintNotice();
    YOZ_CheckGlobalLineCont(3);
}

static void PrintUsageLines() {
    const char* name = HuxProgramName();
    char line[128];
    snprintf(line, sizeof(line), " Usage: %s <ROM File Name> [Option 1] [Option 2]...", name);
    PrintBoxLine(line);
    PrintBoxLine("           or");
    snprintf(line, sizeof(line), "        %s <Input or Output File Name> <Command>", name);
    PrintBoxLine(line);
    PrintBoxLine("           or");
    snprintf(line, sizeof(line), "        %s <Command>", name);
    PrintBoxLine(line);
    PrintBoxLine(" -------------------------------------------------------------------------");
    PrintBoxLine(" Commands:");
    YOZ_CheckGlobalLineCont(7);
}

void YOZ_UsageHead_CommandHelp(UINT8 pass) {
    if (!YOZ_ModeTakesPart(kUsageHeadMask)) return;
    if (pass == 1) PrintUsageLines();
}

void YOZ_UsageHead_CommandOEMHelp(UINT8 pass) {
    if (!YOZ_ModeTakesPart(kUsageHeadMask)) return;
    if (pass == 1) {
        PrintUsageLines();
    } else {
        WriteOut("| Options:                                                                  |\n");
        YOZ_CheckGlobalLineCont(1);
    }
}

static ENUM_ERR_ID UsageHeadParse(TKXArgvList&, TKX_QUEUE_ITEM* self) {
    if (!YOZ_ModeTakesPart(self->ModeMask)) return eEID_NO_ERROR;
    self->Enabled = 1;
    MemSet(s_BuildSuffix, 0, sizeof(s_BuildSuffix));
    TKX_BoundedCopy(s_BuildSuffix, gAppName, kSuffixWidth);

    BOOLEAN twoPlusTwo = YOZ_GetBIMCisExist();
    BOOLEAN ftf = YOZ_GetMLAP_FTF_isExist();
    BOOLEAN apl = YOZ_GetMLAP_APL_isExist();
    if (YOZ_pUCPOEMVerString != nullptr && YOZ_pUCPOEMVerString[0] != '\0') {
        self->CommandHelp = YOZ_UsageHead_CommandOEMHelp;
        if (twoPlusTwo) {
            Print2x2Banner();
        } else {
            YOZ_PrintPlainBanner();
        }
    } else if (YOZ_pUCPOEMVerString != nullptr) {
        if (twoPlusTwo) {
            Print2x2Banner();
        } else if (ftf || apl) {
            PrintFtfBanner();
        } else {
            YOZ_PrintPlainBanner();
        }
    } else if (twoPlusTwo) {
        Print2x2Banner();
    } else if (ftf) {
        PrintFtfBanner();
    } else {
        YOZ_PrintPlainBanner();
    }
    return eEID_NO_ERROR;
}

static ENUM_ERR_ID UsageHeadExecute(TKXQueueItemList&) { return eEID_NO_ERROR; }

static TKX_QUEUE_ITEM s_UsageHeadItem;

ENUM_ERR_ID RegisterusageheadQueueItem(TKXQueueItemList& items) {
    s_UsageHeadItem = TKX_QUEUE_ITEM{eMID_USAGEHEAD, UsageHeadParse, UsageHeadExecute, YOZ_UsageHead_CommandHelp,
                                     nullptr, 0, 0, 0, kUsageHeadMask, 0};
    items.push_back(&s_UsageHeadItem);
    return eEID_NO_ERROR;
}

void TKX_YOZ_UsageHead(TKXArgvList&, UINT8& IfConti) { IfConti = 1; }
