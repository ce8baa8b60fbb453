// The file-name module's default in-process: a ROM file named alone enables
// the main-BIOS pair, but not when another command decides what to do, nor
// when a stand-alone command ended the parse before the global check (which
// loads the image) could enable itself.
#include <gtest/gtest.h>
#include <unistd.h>
#include <vector>
#include "HuxCoreHooks.h"
#include "YozOptionStore.h"
#include "YozRomFile.h"

namespace {

TEST(FileNameDefault, EnablesTheMainBiosPairOnlyForAFileWithNothingElseToDo) {
    char path[] = "/tmp/yoz_filename_unit_XXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    char program[] = "prog", slashB[] = "/b";
    struct Row {
        std::vector<char*> words;
        bool parseStopsEarly;  // a stand-alone command stopped the parse after the file-name module
        UINT8 mainBios;
    } rows[] = {
        {{program, path}, false, 1},
        {{program, path}, true, 0},
        {{program, path, slashB}, false, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << row.words.size() << " words, stops early " << row.parseStopsEarly);
        TKXQueueItemList items;
        items.init();
        for (RegisterQueueItemFunction reg : {RegisterfilenameQueueItem, RegisterYozGlobalCheckQueueItem,
                                               RegisterBootBlockOpenQueueItem, RegisterMainBiosOpenQueueItem,
                                               RegisterMainBiosFlashQueueItem})
            ASSERT_EQ(reg(items), eEID_NO_ERROR);
        std::vector<TKX_ARGV_ITEM> words;
        for (char* w : row.words) words.push_back(TKX_ARGV_ITEM{w, 0, 0});
        TKXArgvList args;
        args.init();
        for (TKX_ARGV_ITEM& w : words) args.push_back(&w);
        YOZ_pFileName = nullptr;
        unsigned long parsed = row.parseStopsEarly ? 1 : items.size();
        for (unsigned long i = 0; i < parsed; ++i)
            ASSERT_EQ(items[i]->ParsingCommandFunction(args, items[i]), eEID_NO_ERROR);
        ASSERT_EQ(items[0]->Enabled, 1);  // word 1 names a file

        EXPECT_EQ(items[0]->ExecutionActionFunction(items), eEID_NO_ERROR);
        EXPECT_EQ(items[3]->Enabled, row.mainBios);
        EXPECT_EQ(YOZ_GetPCmdIsEnable(), row.mainBios);
        if (row.parseStopsEarly) {
            EXPECT_EQ(items[4]->Enabled, 0);
        }
        YOZ_SetPCmdIsEnable(nullptr);
        YOZ_SetBCmdIsEnable(nullptr);
    }
    YOZ_pFileName = nullptr;
    unlink(path);
}

}  // namespace
