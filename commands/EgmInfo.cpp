// Engineering "info": a dump of what the program knows: its version, the SMI
// port and ZOKT version, the command line, the firmware's block table, and
// the ROM holes and SLP files of the system and of the image. Counts are
// printed as found; the lists show the records they hold.
#include "HuxCoreHooks.h"
#include "RomInfo.h"
#include "SmiTransport.h"
#include "YozEgm.h"
#include "YozOptionStore.h"
#include "YozRomFile.h"
#include "YozSysRom.h"
#include "ZoktFormat.h"

static TKX_QUEUE_ITEM EGM_INFO_QueueItem;
static TKXArgvList* pArgvList = nullptr;

static const char kRule[] = "====================================================================\n";
static const char kDevelopVersion[] = "3.09.04.1503";

// The texts of one side's dump.
struct EGM_INFO_SIDE {
    const char* HoleGuid;
    const char* HoleCount;
    const char* HoleList;
    const char* SlpGuid;
    const char* SlpList;
    const char* NoSlp;
};

static const EGM_INFO_SIDE kSystem = {"System Rom Hole GUID : ", "System Rom Hole Count : L%02d\n",
                                      "YOZ_SysRHRECList",        "System SLP2.0 Rom Hole GUID : ",
                                      "YOZ_SysSLPRHRECList",     "SysRom no any SLP 2.0 Rom Hole.\n"};
static const EGM_INFO_SIDE kRomFile = {"RomFile Rom Hole GUID : ",          "RomFile Rom Hole Count : L%02d\n",
                                       "YOZ_RomFileRHRECList",              "Rom File SLP2.0 Rom Hole GUID : ",
                                       "YOZ_RomFileSLPRHRECList",           "Rom File no any SLP 2.0 Rom Hole.\n"};

static void DumpRecord(const char* list, UINT32 i, const _ROMHOLEREC& r) {
    WriteOut("%s[%d].Size = %X\n", list, static_cast<int>(i), r.Size);
    WriteOut("%s[%d].RomOffset = %X\n", list, static_cast<int>(i), r.RomOffset);
}

static void DumpHoles(const EGM_INFO_SIDE& side, const _ROMHOLEREC* holes, UINT32 found) {
    for (UINT32 i = 0; i < YOZ_HoleCount(found); ++i) {
        WriteOut(kRule);
        WriteOut(side.HoleGuid);
        YOZ_PrintGuid(reinterpret_cast<const UINT8*>(&holes[i].Guid));
        WriteOut(side.HoleCount, static_cast<int>(i));
        DumpRecord(side.HoleList, i, holes[i]);
    }
    WriteOut(kRule);
}

static void DumpSlp(const EGM_INFO_SIDE& side, UINT8 haveSlp20, const _ROMHOLEREC* slps) {
    if (haveSlp20) {
        for (UINT32 i = 0; i < YOZ_MAX_SLP; ++i) {
            WriteOut(kRule);
            WriteOut(side.SlpGuid);
            YOZ_PrintGuid(reinterpret_cast<const UINT8*>(&slps[i].Guid));
            DumpRecord(side.SlpList, i, slps[i]);
        }
    } else {
        WriteOut(side.NoSlp);
    }
    WriteOut(kRule);
}

static void DumpHeader() {
    WriteOut(kRule);
    WriteOut("Develop Version : %s\n", kDevelopVersion);
    WriteOut(kRule);
    WriteOut("gSmiPort: 0x%x\n", gSmiPort);
    WriteOut("Zokt_Ver = 0x%x\n", g_ZoktVer);
    for (unsigned long i = 0; pArgvList != nullptr && i < pArgvList->size(); ++i)
        WriteOut("ArgList[%d].Argv = %s\n", static_cast<int>(i), (*pArgvList)[i]->text);
    UINT32 blocks = gpFlashInfo != nullptr ? gpFlashInfo->BlockCount : 0;
    for (UINT32 i = 0; i < blocks; ++i) {
        const sBlockInfo& b = gpFlashInfo->Blocks[i];
        WriteOut("[%04d]BlockInfo.Type = %02x | StAddr = %08X | BlockSize = %08X\n", static_cast<int>(i), b.Type,
                 b.StartAddress, b.BlockSize);
    }
    WriteOut(kRule);
}

static ENUM_ERR_ID InfoParse(TKXArgvList& args, TKX_QUEUE_ITEM* self) {
    pArgvList = &args;
    EGM_TakeSelection(self, EGM_INFO);
    return eEID_NO_ERROR;
}

static ENUM_ERR_ID InfoExecute(TKXQueueItemList&) {
    DumpHeader();
    UINT32 systemHoles = 0, fileHoles = 0;
    UINT8* system = YOZ_SysRom_GetBuffer();
    if (system != nullptr && YOZ_SysRomLoadOK) {
        YOZ_SysRom_SearchNCB(system);
        systemHoles = YOZ_SysRom_GetRomHoleNumber();
    }
    UINT8* image = YOZ_RomFile_GetBuffer();
    if (image != nullptr) {
        YOZ_RomFile_SearchNCB(image);
        fileHoles = YOZ_RomFile_GetRomHoleNumber();
    }
    WriteOut("System RomHole = %d, RomFile RomHole = %d\n", static_cast<int>(systemHoles), static_cast<int>(fileHoles));
    DumpHoles(kSystem, YOZ_SysRHRECList, systemHoles);
    DumpHoles(kRomFile, YOZ_RomFileRHRECList, fileHoles);
    DumpSlp(kSystem, system != nullptr && YOZ_SysRomLoadOK && YOZ_SysRom_HaveSLP20(), YOZ_SysSLPRHRECList);
    DumpSlp(kRomFile, image != nullptr && YOZ_RomFile_HaveSLP20(), YOZ_RomFileSLPRHRECList);
    return eEID_NO_ERROR;
}

ENUM_ERR_ID RegisterEGM_INFO_QueueItem(TKXQueueItemList& items) {
    return EGM_RegisterSubModule(items, EGM_INFO_QueueItem, eMID_EGM_INFO, InfoParse, InfoExecute, 0x4E34);
}
