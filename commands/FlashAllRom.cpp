// The whole-ROM command, whose option word the firmware supplies in
// manufacturing mode: the image must be exactly the flash's size and
// replaces every block of it, a changed ROM layout included.
#include "RomInfo.h"
#include "TKXPhysMem.h"
#include "TKXString.h"
#include "YozAllRom.h"
#include "YozGlobal.h"
#include "YozOptionStore.h"
#include "YozRegionStages.h"
#include "YozRomFile.h"
#include "YozRomLayoutCheck.h"
#include "YozSwitchMode.h"
#include "YozSysRom.h"
#include "ZoktCfgCmd.h"
#include "ZoktFormat.h"
#include "ZoktMe.h"
#include "ZoktMfg.h"
#include "ZoktOneRecord.h"

static TKX_QUEUE_ITEM s_Item;
static YOZ_STAGE_SLOTS s_Slots;

static const UINT16 kFlashAllRomOrderKey = 20020;
static const UINT8 kWholeRomCmdString = 16;

// The option word, when the firmware supplies one (empty otherwise).
char gGAN_HC_IdfStr[16] = {0};
UINT8 gSysHasME = 0;
UINT8 gFileHasME = 0;
UINT32 gRomFile_RomAreaTableSize = 0;

static ENUM_ERR_ID AllROM_OpenRomFileFunc() { return YOZ_RomFile_LoadToBuff(); }

static ENUM_ERR_ID AllROM_CheckRomFunc() {
    UINT8* system = YOZ_SysRom_GetBuffer();
    if (system == nullptr) return eEID_MEM_ALLOC;
    // A flash copy that could not be read would hide the old signatures.
    if (YOZ_SysRom_LastError() != eEID_NO_ERROR) return YOZ_SysRom_LastError();
    gSysHasME = YOZ_SysRom_CheckMESupport() ? 1 : 0;
    if (gSysHasME) {
        ZOKT_TC_55_MEUD_STRUCT* info = nullptr;
        ZOKT_ME_GetMEInfo(&info);
    }
    ENUM_ERR_ID status = YOZ_GlobalCheck_SplitMePart(gSysHasME, &gFileHasME);
    if (status != eEID_NO_ERROR) return status;
    if (YOZ_RomFile_GetBuffer() == nullptr || YOZ_RomFile_Size() != gRomSize) return eEID_WRONG_ROM_FILE_SIZE;
    YOZ_RomLayout_Compare(system, gRomSize, YOZ_RomFile_GetBuffer(), YOZ_RomFile_Size());
    gRomFile_RomAreaTableSize = AllROM_LayoutDataLength(YOZ_RomFile_GetBuffer(), YOZ_RomFile_Size());
    return eEID_NO_ERROR;
}

// Whether the firmware allows the whole ROM to be rewritten: asked with the
// whole-ROM configuration bit; a firmware without requests leaves it to the
// operator.
static ENUM_ERR_ID AllROM_ZOKTCheck() {
    if (Zokt_GetVer() == 0) {
        WriteOut("WARNING !\n");
        WriteOut("This command will flash all rom !\n");
        return YOZ_PromptForceUpdate() == 1 ? eEID_UPDATE_CANCEL_BY_USER : eEID_NO_ERROR;
    }
    UINT8* request = AllocMem(ZOKT_REQUEST_SIZE);
    if (request == nullptr || gpIntrBuf == nullptr) {
        FreeMem(request);
        return eEID_MEM_ALLOC;
    }
    ZOKT_TC_51_DC_STRUCT masks = {0, ZOKT_TC_CFG_GAN};
    MemCpy(Zokt_BuildOneRecord(request, ZOKT_FS_CFG, ZOKT_EXT_TC_CFG), &masks, sizeof(masks));
    MemCpy(gpIntrBuf, request, ZOKT_REQUEST_SIZE);
    FreeMem(request);
    Zokt_SMI_26();
    if ((Zokt_ReturnStatusOf(gpIntrBuf) & ZOKT_RS_SUPPORT) == 0) return eEID_AllROM_NOT_SUPPORT;
    return eEID_NO_ERROR;
}

static ENUM_ERR_ID FlashAllRomParse(TKXArgvList& args, TKX_QUEUE_ITEM* self) {
    self->Enabled = 0;
    gGAN_HC_IdfStr[0] = '\0';
    if (YOZ_GetMFGIsEnable()) {
        const char* word = ZOKT_YOZMFG_GetCmdString(kWholeRomCmdString);
        if (word != nullptr) TKX_BoundedCopy(gGAN_HC_IdfStr, word, sizeof(gGAN_HC_IdfStr) - 1);
    }
    if (!YOZ_ModeTakesPart(self->ModeMask)) return eEID_NO_ERROR;
    for (unsigned long i = 1; gGAN_HC_IdfStr[0] != '\0' && i < args.size(); ++i) {
        if (IdentifyArg(args[i]->text, gGAN_HC_IdfStr, 1) != 1) continue;
        if (args.size() <= 2) return eEID_COMMAND_LINE;
        YOZ_RomFile_SetFileEnable(args[1]->text);
        if (!YOZ_RomFile_GetFileEnable()) continue;
        YOZ_pFileName = args[1]->text;
        self->Enabled = 1;
        args[i]->claimed = 1;
        args[1]->claimed = 1;
    }
    YOZ_SetGANCmdIsEnable(&self->Enabled);
    return eEID_NO_ERROR;
}

static ENUM_ERR_ID FlashAllRomExecute(TKXQueueItemList&) {
    if (!YOZ_ModeTakesPart(s_Item.ModeMask)) return eEID_NO_ERROR;
    AllROM_ClearLists();
    ENUM_ERR_ID result = YOZ_RunStages(s_Slots, "O C Z F ZF");
    AllROM_ClearLists();
    return result;
}

static void FlashAllRomHelp(UINT8) { YOZ_ModeTakesPart(s_Item.ModeMask); }

ENUM_ERR_ID RegisterFlashAllROMFlashQueueItem(TKXQueueItemList& items) {
    s_Item = TKX_QUEUE_ITEM{eMID_FLASHALLROMFLASH, FlashAllRomParse, FlashAllRomExecute, FlashAllRomHelp, nullptr,
                            0, 1, kFlashAllRomOrderKey, YOZ_MODE_NORMAL, 0};
    items.push_back(&s_Item);
    s_Slots = YOZ_STAGE_SLOTS{};
    s_Slots.OpenFileFunc = AllROM_OpenRomFileFunc;
    s_Slots.CheckFunc = AllROM_CheckRomFunc;
    s_Slots.ZOKTCheck = AllROM_ZOKTCheck;
    s_Slots.FlashFunc = AllROM_FlashFunc;
    return eEID_NO_ERROR;
}
