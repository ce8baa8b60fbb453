// The checks of the ME modules: the ME preparation and the firmware's
// support before any module writes, the pre-flash entries that start the
// update last in the walk and hold it open for the ME stage, and the read
// back of an updated area.
#include <cstring>
#include "FlashBlock.h"
#include "SecureFlash.h"
#include "TKXOutput.h"
#include "TKXPhysMem.h"
#include "YozGlobal.h"
#include "YozMeStages.h"
#include "YozOptionStore.h"
#include "YozPreFlash.h"
#include "YozRomFile.h"
#include "YozSwitchMode.h"

// ---- Preparation ----

ENUM_ERR_ID YOZ_ME_CheckAhead(bool keepImage, UINT8 (*support)()) {
    if (YOZ_GetCapsuleMode() || YOZ_GetRecoveryMode()) return eEID_NO_ERROR;
    ENUM_ERR_ID status = YOZ_ME_Prepare(keepImage);
    if (status != eEID_NO_ERROR) return status;
    if (!support()) return YOZ_ME_LastError();
    // A firmware that flashes only signed images takes no plain block writes.
    if (YOZ_ME_BlockRoute() && FLASH_IsSecureFlashSupported()) return eEID_SECURE_FLASH_SUPPORT_FILE;
    return eEID_NO_ERROR;
}

ENUM_ERR_ID YOZ_ME_Prepare(bool keepImage) {
    if (YOZ_GetCapsuleMode() || YOZ_GetRecoveryMode()) return eEID_NO_ERROR;
    if (YOZ_pMEBuff == nullptr || YOZ_MESize == 0) {
        return ZOKT_ME_GetLastError() == eEID_ME_IGN_STOP ? eEID_ME_IGN_STOP : eEID_ME_STOP;
    }
    UINT8* image = YOZ_pOpenFileBuff;
    UINT32 imageSize = YOZ_OpenFileSize;
    YOZ_pOpenFileBuff = YOZ_pMEBuff;
    YOZ_OpenFileSize = YOZ_MESize;
    YOZ_bMESupport = 1;
    YOZ_RomFile_CheckMEData(YOZ_pOpenFileBuff, YOZ_OpenFileSize);
    UINT8* bios = YOZ_pOpenFileBuff;
    UINT32 biosSize = YOZ_OpenFileSize;
    UINT8 analysed = YOZ_RomFile_GetNewBiosInfo(&bios, biosSize);
    if (keepImage) {
        YOZ_pOpenFileBuff = image;
        YOZ_OpenFileSize = imageSize;
    }
    if (!analysed || YOZ_RomFile_CheckMEIsSingleBin()) return eEID_WRONG_ROM_FILE_SIZE;
    return eEID_NO_ERROR;
}

// ---- The pre-flash entries ----

// The ME module runs the run's pre-flash walk itself: its own erase is the
// run's first, and its stage starts its update.
static UINT8 s_MeRunsTheWalk = 0;
// Beside other regions the walk starts the run's first ME update, after
// every other check and before the first erase, and holds it open for the
// stage that would send that start: the stage sends none of its own.
static UINT8 (*s_HeldStart)() = nullptr;
static UINT8 s_HeldOpen = 0;

static ENUM_ERR_ID StartHeld() {
    if (!s_HeldStart()) return YOZ_ME_StartFailed();
    s_HeldOpen = 1;
    return eEID_NO_ERROR;
}

// From a walk entry: the update of `start` is the one the walk starts,
// unless the ME module runs the walk itself or an earlier entry holds one.
static void HoldStart(UINT8 (*start)()) {
    if (s_MeRunsTheWalk || s_HeldStart != nullptr) return;
    s_HeldStart = start;
    YOZ_PreFlash_Last(StartHeld);
}

bool YOZ_ME_Held(UINT8 (*start)()) { return s_HeldOpen && s_HeldStart == start; }

bool YOZ_ME_BeginUpdate(UINT8 (*start)()) {
    if (!YOZ_ME_Held(start)) return start() != 0;
    s_HeldOpen = 0;
    return true;
}

ENUM_ERR_ID YOZ_ME_CheckSession(UINT8 (*support)(), ENUM_ERR_ID (*check)()) {
    if (s_MeRunsTheWalk) return eEID_NO_ERROR;
    if (YOZ_ME_Info() == nullptr && !support()) return YOZ_ME_LastError();
    ENUM_ERR_ID checked = check();
    if (checked == eEID_NO_ERROR) HoldStart(ZOKT_ME_Full_FlashStart);
    return checked;
}

ENUM_ERR_ID YOZ_ME_CheckUpdate(ENUM_ERR_ID (*area)(YOZ_ME_AREA* a), UINT8 (*support)(), UINT8 (*start)()) {
    if (YOZ_ME_Info() == nullptr && !support()) return YOZ_ME_LastError();
    ENUM_ERR_ID status = YOZ_ME_CheckPlan(area);
    if (status == eEID_NO_ERROR) HoldStart(start);
    return status;
}

ENUM_ERR_ID YOZ_ME_Execute(const TKX_QUEUE_ITEM& item, const YOZ_STAGE_SLOTS& slots, const char* order) {
    if (!YOZ_PreFlash_Done()) s_MeRunsTheWalk = 1;
    return YOZ_RunWritingStages(item, slots, order);
}

// ---- Read back ----

// One page read through the route: 1 when the firmware gave its bytes.
static bool ReadPage(UINT32 address, UINT32 size, UINT8* out) {
    if (YOZ_ME_BlockRoute()) return FLASH_ReadBlockEx(address, size, out, nullptr) == eEID_NO_ERROR;
    return ZOKT_MER_ME_DUMP(out, address, size, nullptr) == size;
}

// 1 the area reads as data, 0 it reads otherwise, -1 a page could not be read.
static int ReadCompare(UINT32 address, UINT32 size, const UINT8* data, UINT8* page) {
    for (UINT32 done = 0; done < size; done += ME_PAGE_SIZE) {
        UINT32 piece = size - done < ME_PAGE_SIZE ? size - done : ME_PAGE_SIZE;
        if (!ReadPage(address + done, piece, page)) return -1;
        if (memcmp(page, data + done, piece) != 0) return 0;
    }
    return 1;
}

ENUM_ERR_ID YOZ_ME_ReadBack(UINT32 address, UINT32 size, UINT8* data) {
    UINT8* page = AllocMem(ME_PAGE_SIZE);
    if (page == nullptr) return eEID_MEM_ALLOC;
    bool differs = false;
    for (UINT32 attempt = 0; attempt < YOZ_ME_ATTEMPTS; ++attempt) {
        int read = ReadCompare(address, size, data, page);
        if (read == 1) {
            FreeMem(page);
            return eEID_NO_ERROR;
        }
        if (read == 0) differs = true;
    }
    FreeMem(page);
    if (differs) return eEID_VERIFY_FLASH;
    TKX_EndProgressLine();
    WriteOut(" - The ME area cannot be read back: the firmware's answer is taken for it.\n");
    return eEID_NO_ERROR;
}
