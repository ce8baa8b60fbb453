// Registration of the ME modules that ask nothing of the firmware: their
// command-table texts (the ids the trailer's command table names) and the
// check records "/ME" and "/MEUF" publish for the pre-flash check.
#include <gtest/gtest.h>
#include <cstring>
#include "HuxCoreHooks.h"
#include "YozGlobal.h"
#include "YozZozRecords.h"

TEST(MeRegistration, CommandTextsAndCheckRecords) {
    memset(ZozCmdStatusList, 0, sizeof(ZozCmdStatusList));
    TKXQueueItemList items;
    ASSERT_EQ(RegisterSaveMEToFileQueueItem(items), eEID_NO_ERROR);
    ASSERT_EQ(RegistermefQueueItem(items), eEID_NO_ERROR);
    ASSERT_EQ(RegistermeufQueueItem(items), eEID_NO_ERROR);
    ASSERT_EQ(items.size(), 3u);
    EXPECT_STREQ(ZozCmdStatusList[58].Name, "/ome");
    EXPECT_STREQ(ZozCmdStatusList[84].Name, "/me");
    EXPECT_STREQ(ZozCmdStatusList[86].Name, "/meuf");
    EXPECT_EQ(items[0]->StopParse, 1) << "save-ME is a stand-alone command";

    for (CHECK_FUNC_ITEM* record : {PtrMEFCheckFunc, PtrMEUFCheckFunc}) {
        ASSERT_NE(record, nullptr);
        EXPECT_NE(record->CheckBlockFunc, nullptr);
        EXPECT_EQ(record->CheckRomFunc(0), eEID_NO_ERROR);
        EXPECT_EQ(record->CheckRomFunc(-1), eEID_WRONG_ROM_FILE_SIZE);
        const UINT8 wanted[6] = {1, 1, 1, 1, 1, 1};
        EXPECT_EQ(memcmp(&record->needsFile, wanted, sizeof(wanted)), 0);
    }
    // The packed records' pointers are copied out before the checks bind them.
    UINT8* mefEnabled = PtrMEFCheckFunc->enabled;
    UINT8* meufEnabled = PtrMEUFCheckFunc->enabled;
    EXPECT_EQ(mefEnabled, &items[1]->Enabled);
    EXPECT_EQ(meufEnabled, &items[2]->Enabled);
    items.clear();
}
