// The global items in-process: what the global item resets, the record
// layout, the check item's claim of word 1, and what the end item leaves
// enabled.
#include <gtest/gtest.h>
#include <unistd.h>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>
#include "HuxCore.h"
#include "TKXPhysMem.h"
#include "YozFlash.h"
#include "YozGlobal.h"
#include "YozOptionStore.h"
#include "YozRomFile.h"
#include "YozSwitchMode.h"
#include "YozSysRom.h"

namespace {

ENUM_ERR_ID NoHook() { return eEID_NO_ERROR; }

TEST(GlobalItems, CheckRecordLayoutAndWalkSlots) {
    EXPECT_EQ(offsetof(CHECK_FUNC_ITEM, needsFfsChecksum), 2 * sizeof(void*) + 3);
    EXPECT_EQ(offsetof(CHECK_FUNC_ITEM, needsRomIdCheck), 2 * sizeof(void*) + 5);
    // Slots are read through the published pointers at the time of asking.
    CHECK_FUNC_ITEM record{};
    CHECK_FUNC_ITEM* saved = PtrNSECCheckFunc;
    PtrNSECCheckFunc = &record;
    EXPECT_EQ(YOZ_GlobalCheck_Record(16), &record);
    PtrNSECCheckFunc = saved;
    EXPECT_EQ(YOZ_GlobalCheck_Record(YOZ_CHECK_RECORD_SLOTS), nullptr);
}

TEST(GlobalItems, RegistrationResetsTheRunAndAllowsHiddenOptions) {
    YOZ_pFileName = const_cast<char*>("old.rom");
    YOZ_pOpenFileBuff = reinterpret_cast<UINT8*>(&YOZ_OpenFileSize);
    YOZ_OpenFileSize = 5;
    YOZ_pFlashBuff = AllocMem(16);
    YOZ_pFlashMap = AllocMem(16);
    YOZ_bCAFFlag = 1;
    YOZ_CommandNum = 2;
    YOZ_bCapHead = 1;
    YOZ_bNewCapFile = 1;
    YOZ_SecureFlashEnable = 1;
    YOZ_Set_AllowHideCommandStatus(0);
    YOZ_RomFile_SetCheckRomIDCount(1, 7);

    TKXQueueItemList items;
    items.init();
    ASSERT_EQ(RegisterYozGlobalQueueItem(items), eEID_NO_ERROR);
    ASSERT_EQ(items.size(), 1u);
    TKX_QUEUE_ITEM* item = items[0];
    EXPECT_EQ(item->ModuleId, 3u);
    EXPECT_EQ(item->Enabled, 1);
    EXPECT_EQ(item->ModeMask, 0x04);
    EXPECT_EQ(YOZ_pFileName, nullptr);
    EXPECT_EQ(YOZ_pOpenFileBuff, nullptr);
    EXPECT_EQ(YOZ_OpenFileSize, 0u);
    EXPECT_EQ(YOZ_pFlashBuff, nullptr);
    EXPECT_EQ(YOZ_pFlashMap, nullptr);
    EXPECT_EQ(YOZ_bCAFFlag, 0);
    EXPECT_EQ(YOZ_CommandNum, 0);
    EXPECT_EQ(YOZ_bCapHead, 0);
    EXPECT_EQ(YOZ_bNewCapFile, 0);
    EXPECT_EQ(YOZ_SecureFlashEnable, 0);
    EXPECT_EQ(YOZ_CheckRomIDNFlag, 0);
    EXPECT_EQ(YOZ_CheckRomIDCount, 0);
    EXPECT_EQ(YOZ_Get_AllowHideCommandStatus(), 1);
    EXPECT_EQ(YOZ_pFSwitchModeFunc, nullptr);

    // Its parse empties the end-hook list and switches the firmware-ID compare on.
    YOZ_GlobalEndHookFuncList.push_back(NoHook);
    YOZ_RomFile_SetCheckRomID(0);
    TKXArgvList args;
    args.init();
    EXPECT_EQ(item->ParsingCommandFunction(args, item), eEID_NO_ERROR);
    EXPECT_TRUE(YOZ_GlobalEndHookFuncList.empty());
    EXPECT_EQ(YOZ_CheckOEMRomIDFlag, 1);
}

TEST(GlobalItems, CheckItemClaimsAnExistingFileAsWordOne) {
    char path[] = "/tmp/yoz_global_unit_XXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);

    TKXQueueItemList items;
    items.init();
    ASSERT_EQ(RegisterYozGlobalCheckQueueItem(items), eEID_NO_ERROR);
    TKX_QUEUE_ITEM* item = items[0];
    EXPECT_EQ(item->ModuleId, 103u);
    EXPECT_EQ(item->Enabled, 0);
    EXPECT_EQ(item->ModeMask, 0x19);
    EXPECT_EQ(YOZ_RomFileSizeStatus, -2);

    char program[] = "prog", missing[] = "/nonexistent/file.rom", option[] = "/jbc";
    for (char* word1 : {static_cast<char*>(path), static_cast<char*>(missing)}) {
        TKX_ARGV_ITEM a0{program, 0, 0}, a1{word1, 0, 0}, a2{option, 0, 0};
        TKXArgvList args;
        args.init();
        args.push_back(&a0);
        args.push_back(&a1);
        args.push_back(&a2);
        YOZ_pFileName = nullptr;
        YOZ_FlashStep = 1;
        EXPECT_EQ(item->ParsingCommandFunction(args, item), eEID_NO_ERROR);
        EXPECT_EQ(item->Enabled, 1);
        EXPECT_EQ(YOZ_FlashStep, YOZ_FLASH_STEP_ALL);
        bool exists = word1 == path;
        EXPECT_EQ(a1.claimed, exists ? 1 : 0);
        EXPECT_EQ(YOZ_pFileName, exists ? word1 : nullptr);
        EXPECT_EQ(a2.claimed, 0);
    }
    unlink(path);
}

TEST(GlobalItems, EndItemLeavesOnlyTheAlwaysOnItemsEnabled) {
    const UINT32 ids[] = {1, 2, 3, 20, 22, 39, 40, 41, 55, 69, 70, 90, 103, 105};
    std::vector<TKX_QUEUE_ITEM> fakes(sizeof(ids) / sizeof(ids[0]));
    TKXQueueItemList items;
    items.init();
    for (size_t i = 0; i < fakes.size(); ++i) {
        fakes[i] = TKX_QUEUE_ITEM{ids[i], nullptr, nullptr, nullptr, nullptr, static_cast<UINT8>(i % 2), 0, 0, 0, 0};
        items.push_back(&fakes[i]);
    }
    ASSERT_EQ(RegisterYozGlobalEndQueueItem(items), eEID_NO_ERROR);
    TKX_QUEUE_ITEM* end = items[items.size() - 1];
    EXPECT_EQ(end->ModuleId, 105u);
    EXPECT_EQ(end->Enabled, 1);
    // A module whose flag the store reads through its enabled byte.
    YOZ_SetPCmdIsEnable(&fakes[11].Enabled);
    fakes[11].Enabled = 1;
    ASSERT_EQ(YOZ_GetPCmdIsEnable(), 1);

    YOZ_pSystembuff = AllocMem(32);
    YOZ_SysRomLoadOK = 1;
    YOZ_pFlashBuff = AllocMem(32);
    YOZ_pOpenFileBuff = reinterpret_cast<UINT8*>(&YOZ_OpenFileSize);
    YOZ_pMEBuff = YOZ_pOpenFileBuff;
    YOZ_bHaveFileName = 1;
    YOZ_RomFile_SetCheckRomID(0);
    EXPECT_EQ(end->ExecutionActionFunction(items), eEID_NO_ERROR);

    for (size_t i = 0; i < fakes.size(); ++i) {
        UINT32 id = ids[i];
        bool stays = id == 2 || id == 3 || id == 20 || id == 22 || id == 39 || id == 40 || id == 105;
        EXPECT_EQ(fakes[i].Enabled, stays ? 1 : 0) << "module id " << id;
    }
    EXPECT_EQ(end->Enabled, 1);
    EXPECT_EQ(YOZ_GetPCmdIsEnable(), 0);
    YOZ_SetPCmdIsEnable(nullptr);
    EXPECT_EQ(YOZ_pSystembuff, nullptr);
    EXPECT_EQ(YOZ_SysRomLoadOK, 0);
    EXPECT_EQ(YOZ_pFlashBuff, nullptr);
    EXPECT_EQ(YOZ_pOpenFileBuff, nullptr);
    EXPECT_EQ(YOZ_pMEBuff, nullptr);
    EXPECT_EQ(YOZ_bHaveFileName, 0);
    EXPECT_EQ(YOZ_CheckOEMRomIDFlag, 1);
}

}  // namespace
