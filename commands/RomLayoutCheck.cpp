// The layout-check module (always on): before any region is flashed it
// compares the layout data of the image with the flash copy's and, when the
// layout has changed, asks the operator whether to go on.
#include <cstring>
#include "RomInfo.h"
#include "RomScan.h"
#include "TKXPhysMem.h"
#include "YozFvLayout.h"
#include "YozOptionStore.h"
#include "YozRomFile.h"
#include "YozRomLayoutCheck.h"
#include "YozSwitchMode.h"
#include "YozSysRom.h"
#include "YozZozRecords.h"

static TKX_QUEUE_ITEM s_Item;

static const UINT16 kRlcOrderKey = 16380;
// The 24-bit size field of an FFS file header.
// The area table starts 60 bytes into the layout file.
static const UINT32 kLayoutAreaAt = 60;

void YOZ_RomLayout_Compare(UINT8* system, UINT32 systemSize, UINT8* image, UINT32 imageSize) {
    if (!YOZ_SysRom_CheckRomLayoutData(system, systemSize)) return;
    if (!YOZ_RomFile_CheckRomLayoutData(image, imageSize)) return;
    WriteOut(" - Check RomLayout ......... ");
    UINT32 systemFile = YOZ_FfsFileSize(YOZ_SysRom_Get_RomLayout_pFFS_Hander());
    UINT32 imageFile = YOZ_FfsFileSize(YOZ_RomFile_Get_RomLayout_pFFS_Hander());
    UINT32 imageLength = 0;
    UINT32 systemLength = 0;
    UINT8* imageTable = YOZ_RomFile_Get_RomLayout_pRomAreaData(&imageLength);
    UINT8* systemTable = YOZ_SysRom_Get_RomLayout_pRomAreaData(&systemLength);
    bool changed = true;
    if (systemFile == imageFile) {
        // Equal files hold tables of equal length; an empty table matches, a
        // table that could not be copied counts as changed.
        if (imageFile == kLayoutAreaAt) changed = false;
        else if (imageTable != nullptr && systemTable != nullptr && systemLength >= imageLength)
            changed = memcmp(imageTable, systemTable, imageLength) != 0;
    }
    YOZ_Com_SetRomLayoutChange(changed ? 1 : 0);
    WriteOut(changed ? "Changed.\n" : "Ok.\n");
    FreeMem(imageTable);
    FreeMem(systemTable);
}

static ENUM_ERR_ID RlcParse(TKXArgvList&, TKX_QUEUE_ITEM* self) {
    self->Enabled = 1;
    YOZ_ModeTakesPart(self->ModeMask);
    return eEID_NO_ERROR;
}

static ENUM_ERR_ID RlcExecute(TKXQueueItemList&) {
    if (!YOZ_ModeTakesPart(s_Item.ModeMask)) return eEID_NO_ERROR;
    // Only a flash copy already read is compared: this module reads nothing.
    UINT8* image = YOZ_RomFile_GetBuffer();
    if (YOZ_pSystembuff == nullptr || !YOZ_SysRomLoadOK || image == nullptr) return eEID_NO_ERROR;
    if (YOZ_SysRom_GetAllSize() != YOZ_RomFile_Size()) return eEID_NO_ERROR;
    YOZ_RomLayout_Compare(YOZ_pSystembuff, gRomSize, image, YOZ_RomFile_Size());
    if (!YOZ_Com_GetRomLayoutChange()) return eEID_NO_ERROR;
    UINT8 no = YOZ_PromptYesOrNo(" WARNING !! ROM file information does not match system BIOS.\n"
                                 " Do you continue to flash ? (Y/N)...");
    return no ? eEID_ROM_LAYOUT_MISMATCH : eEID_NO_ERROR;
}

ENUM_ERR_ID Register_RLC_QueueItem(TKXQueueItemList& items) {
    s_Item = TKX_QUEUE_ITEM{eMID_RLC, RlcParse, RlcExecute, nullptr, nullptr, 0, 0, kRlcOrderKey, YOZ_MODE_NORMAL, 0};
    items.push_back(&s_Item);
    YOZ_ZOZ_RegisterModule(eMID_RLC, "/rlc");
    return eEID_NO_ERROR;
}
