// The parse and execute passes and the clean-up walk over real queue items.
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include "CaptureOut.h"
#include "HuxCompat.h"
#include "HuxCore.h"
#include "HuxCoreHooks.h"
#include "TKXRunEnd.h"
#include "TKXString.h"

namespace {

std::vector<int> g_Calls;

ENUM_ERR_ID ParseA(TKXArgvList& args, TKX_QUEUE_ITEM* self) {
    g_Calls.push_back(1);
    for (unsigned long i = 1; i < args.size(); ++i) {
        if (IdentifyArg(args[i]->text, "/A", 1)) {
            args[i]->claimed = 1;
            self->Enabled = 1;
        }
    }
    return eEID_NO_ERROR;
}
ENUM_ERR_ID ParseFail(TKXArgvList&, TKX_QUEUE_ITEM*) {
    g_Calls.push_back(2);
    return eEID_INVALID_USER_OPTION;
}
ENUM_ERR_ID ParseLater(TKXArgvList&, TKX_QUEUE_ITEM*) {
    g_Calls.push_back(3);
    return eEID_NO_ERROR;
}
ENUM_ERR_ID ExecOk(TKXQueueItemList&) {
    g_Calls.push_back(10);
    return eEID_NO_ERROR;
}
ENUM_ERR_ID ExecFail(TKXQueueItemList&) {
    g_Calls.push_back(11);
    return eEID_WRITE_FLASH;
}
ENUM_ERR_ID ExecLater(TKXQueueItemList&) {
    g_Calls.push_back(12);
    return eEID_NO_ERROR;
}
void OnError() { g_Calls.push_back(20); }

struct Passes : ::testing::Test {
    std::vector<TKX_ARGV_ITEM*> made;
    void SetUp() override {
        g_Calls.clear();
        g_LastErrorCode = 0;
        QueueItemList.clear();
        ArgvItemList.clear();
    }
    void Words(std::vector<const char*> words) {
        for (const char* w : words) {
            made.push_back(new TKX_ARGV_ITEM{const_cast<char*>(w), 0, 0});
            ArgvItemList.push_back(made.back());
        }
    }
    void TearDown() override {
        QueueItemList.clear();
        ArgvItemList.clear();
        for (auto* m : made) delete m;
        g_LastErrorCode = 0;
    }
};

TEST_F(Passes, ParseErrorStopsThePass) {
    TKX_QUEUE_ITEM a{1, ParseA, nullptr, nullptr, nullptr, 0, 0, 0, 0, 0};
    TKX_QUEUE_ITEM f{2, ParseFail, nullptr, nullptr, nullptr, 0, 0, 0, 0, 0};
    TKX_QUEUE_ITEM l{3, ParseLater, nullptr, nullptr, nullptr, 0, 0, 0, 0, 0};
    QueueItemList.push_back(&a);
    QueueItemList.push_back(&f);
    QueueItemList.push_back(&l);
    Words({"prog", "/a"});
    ParseUserInput();
    EXPECT_EQ(g_LastErrorCode, eEID_INVALID_USER_OPTION);
    EXPECT_EQ(g_Calls, (std::vector<int>{1, 2}));
    EXPECT_EQ(ArgvItemList[1]->claimed, 1);
}

TEST_F(Passes, StopParseOnlyWhenEnabledIsExactlyOne) {
    TKX_QUEUE_ITEM a{1, ParseA, nullptr, nullptr, nullptr, 0, 1, 0, 0, 0};
    TKX_QUEUE_ITEM skipped{9, nullptr, nullptr, nullptr, nullptr, 1, 1, 0, 0, 0};  // no parse: bytes ignored
    TKX_QUEUE_ITEM l{3, ParseLater, nullptr, nullptr, nullptr, 0, 0, 0, 0, 0};
    QueueItemList.push_back(&skipped);
    QueueItemList.push_back(&a);
    QueueItemList.push_back(&l);
    Words({"prog"});
    ParseUserInput();
    EXPECT_EQ(g_Calls, (std::vector<int>{1, 3})) << "not enabled: the pass goes on";

    g_Calls.clear();
    Words({"/A"});
    ParseUserInput();
    EXPECT_EQ(g_Calls, (std::vector<int>{1})) << "enabled stop-parse module ends the pass";
    EXPECT_EQ(g_LastErrorCode, 0u);
}

// Claims `word` (any case) for the item and enables it.
template <const char* kWord>
ENUM_ERR_ID ParseWord(TKXArgvList& args, TKX_QUEUE_ITEM* self) {
    for (unsigned long i = 1; i < args.size(); ++i) {
        if (IdentifyArg(args[i]->text, kWord, 1) != 1) continue;
        args[i]->claimed = 1;
        self->Enabled = 1;
    }
    return eEID_NO_ERROR;
}
const char kSave[] = "/SAVE", kUpdate[] = "/UPD", kQuiet[] = "/QUIET", kOff[] = "/OFF", kReset[] = "/RESET",
           kMode[] = "/MODE", kMe[] = "/ME", kIgnition[] = "/IGN";

TEST_F(Passes, StandAloneCommandTakesOnlyRunControlAndOnePowerWordBesideIt) {
    // Module order: an update, the stand-alone command (stop-parse), then a
    // run-control word, two power actions and a mode that powers off itself.
    static TKX_QUEUE_ITEM update{1, ParseWord<kUpdate>, nullptr, nullptr, nullptr, 0, 0, 0, 0, 0};
    static TKX_QUEUE_ITEM save{2, ParseWord<kSave>, nullptr, nullptr, nullptr, 0, 1, 0, 0, 0};
    static TKX_QUEUE_ITEM quiet{3, ParseWord<kQuiet>, nullptr, nullptr, nullptr, 0, 0, 0, 0, 0};
    static TKX_QUEUE_ITEM off{4, ParseWord<kOff>, nullptr, nullptr, nullptr, 0, 0, 0, 0, 0};
    static TKX_QUEUE_ITEM reset{5, ParseWord<kReset>, nullptr, nullptr, nullptr, 0, 0, 0, 0, 0};
    static TKX_QUEUE_ITEM mode{6, ParseWord<kMode>, nullptr, nullptr, nullptr, 0, 0, 0, 0, 0};
    static TKX_QUEUE_ITEM me{7, ParseWord<kMe>, nullptr, nullptr, nullptr, 0, 0, 0, 0, 0};
    static TKX_QUEUE_ITEM ignition{8, ParseWord<kIgnition>, nullptr, nullptr, nullptr, 0, 0, 0, 0, 0};
    HuxDeclareCompat(&save, HUX_COMPAT_STANDS_ALONE, "/SAVE");
    HuxDeclareCompat(&quiet, HUX_COMPAT_RUN_CONTROL, nullptr);
    HuxDeclareCompat(&off, HUX_COMPAT_POWER_ACTION, "/OFF");
    HuxDeclareCompat(&reset, HUX_COMPAT_POWER_ACTION, "/RESET");
    HuxDeclareCompat(&mode, HUX_COMPAT_OWN_POWER, "/MODE");
    HuxDeclareCompat(&me, HUX_COMPAT_ME_UPDATE, "/ME");
    HuxDeclareCompat(&ignition, HUX_COMPAT_ME_UPDATE, "/IGN");
    const struct {
        std::vector<const char*> words;
        const char* why;  // the refusal's start, or null
        UINT8 offEnabled;
        const char* said;
    } rows[] = {
        {{"prog", "f", "/save", "/quiet", "/off"}, nullptr, 1, ""},
        {{"prog", "f", "/upd", "/save"}, "\"/SAVE\" stands alone: \"/upd\" cannot", 0, ""},
        {{"prog", "f", "/save", "/mode"}, "\"/SAVE\" stands alone: \"/mode\" cannot", 0, ""},
        {{"prog", "f", "/save", "/typo"}, "\"/SAVE\" stands alone: \"/typo\" cannot", 0, ""},
        {{"prog", "f", "/reset", "/off"}, "\"/OFF\" and \"/RESET\" cannot be given together", 1, ""},
        {{"prog", "f", "/upd", "/off", "/mode"}, nullptr, 0,
         " - \"/OFF\" has no effect: \"/MODE\" ends the run with its own power-off or restart question.\n"},
        {{"prog", "f", "/upd", "/me", "/off"}, nullptr, 1, ""},
        {{"prog", "f", "/ign", "/upd", "/me"}, "\"/ME\" and \"/IGN\" cannot be given together: the firmware takes one ME", 0,
         ""},
        {{"prog", "f", "/ign", "/me", "/mode"}, nullptr, 0, ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.words.back());
        unit::CapturedOut out;
        for (TKX_QUEUE_ITEM* item : {&update, &save, &quiet, &off, &reset, &mode, &me, &ignition}) item->Enabled = 0;
        QueueItemList.clear();
        for (TKX_QUEUE_ITEM* item : {&update, &save, &quiet, &off, &reset, &mode, &me, &ignition})
            QueueItemList.push_back(item);
        ArgvItemList.clear();
        Words(row.words);
        ParseUserInput();
        char why[512] = {};
        ENUM_ERR_ID status = HuxCheckCompat(ArgvItemList, QueueItemList, why, sizeof(why));
        EXPECT_EQ(status, row.why != nullptr ? eEID_COMMAND_LINE : eEID_NO_ERROR);
        if (row.why != nullptr) EXPECT_EQ(std::string(why).rfind(row.why, 0), 0u) << why;
        EXPECT_EQ(off.Enabled, row.offEnabled);
        EXPECT_EQ(out.Text(), row.said);
    }
    for (TKX_QUEUE_ITEM* item : {&save, &quiet, &off, &reset, &mode, &me, &ignition}) HuxDeclareCompat(item, HUX_COMPAT_ANY, nullptr);
}

TEST_F(Passes, ExecuteRunsOnlyEnabledOneAndStopsAtFirstFailure) {
    TKX_QUEUE_ITEM two{1, nullptr, ExecLater, nullptr, nullptr, 2, 0, 0, 0, 0};
    TKX_QUEUE_ITEM ok{2, nullptr, ExecOk, nullptr, nullptr, 1, 0, 0, 0, 0};
    TKX_QUEUE_ITEM fail{3, nullptr, ExecFail, nullptr, OnError, 1, 0, 0, 0, 0};
    TKX_QUEUE_ITEM later{4, nullptr, ExecLater, nullptr, nullptr, 1, 0, 0, 0, 0};
    QueueItemList.push_back(&two);
    QueueItemList.push_back(&ok);
    QueueItemList.push_back(&fail);
    QueueItemList.push_back(&later);
    ExecuteEnabledModules();
    EXPECT_EQ(g_LastErrorCode, eEID_WRITE_FLASH);
    EXPECT_EQ(g_Calls, (std::vector<int>{10, 11, 20})) << "enabled 2 does not run; later modules do not run";
}

std::vector<int> g_Clean;
void CleanOne() { g_Clean.push_back(1); }
void CleanThree() { g_Clean.push_back(3); }

TEST(CleanUpWalk, StopsAtFirstEmptySlot) {
    g_Clean.clear();
    CleanUpFileHubHook = CleanOne;
    CleanFlashIfcHook = nullptr;
    CleanBiosInfoHook = CleanThree;
    HuxResourceRelease();
    EXPECT_EQ(g_Clean, (std::vector<int>{1})) << "flash interface never opened: BIOS-information clean-up skipped";
    CleanFlashIfcHook = CleanOne;
    g_Clean.clear();
    HuxResourceRelease();
    EXPECT_EQ(g_Clean, (std::vector<int>{1, 1, 3}));
    CleanUpFileHubHook = CleanFlashIfcHook = CleanBiosInfoHook = nullptr;
}

std::vector<int> g_Ended;
ENUM_ERR_ID EndOne() { g_Ended.push_back(1); return eEID_NO_ERROR; }
ENUM_ERR_ID EndTwo() { g_Ended.push_back(2); return eEID_SETUP_RESTORE_ERROR; }
ENUM_ERR_ID EndThree() { g_Ended.push_back(3); return eEID_DMI_RESTORE_ERROR; }

// What is left runs last pushed first; an end popped or pushed again runs
// once, in its new place; the first failing end's code is the run's only
// while the run has none.
TEST(RunEndList, RunsWhatIsLeftLastPushedFirstOnce) {
    const struct {
        UINT32 codeBefore;
        UINT32 codeAfter;
    } rows[] = {{eEID_NO_ERROR, eEID_DMI_RESTORE_ERROR}, {eEID_READ_FLASH, eEID_READ_FLASH}};
    for (const auto& row : rows) {
        g_Ended.clear();
        TKX_RunEndPush(EndOne);
        TKX_RunEndPush(EndTwo);
        TKX_RunEndPush(EndThree);
        TKX_RunEndPush(EndOne);  // started again: now the last
        TKX_RunEndPop(EndTwo);
        TKX_RunEndPush(EndTwo);
        TKX_RunEndPop(EndTwo);
        EXPECT_TRUE(TKX_RunEndHolds(EndThree));
        EXPECT_FALSE(TKX_RunEndHolds(EndTwo));
        g_LastErrorCode = row.codeBefore;
        TKX_RunEndAll();
        EXPECT_EQ(g_Ended, (std::vector<int>{1, 3}));
        EXPECT_EQ(g_LastErrorCode, row.codeAfter);
        EXPECT_FALSE(TKX_RunEndHolds(EndOne) || TKX_RunEndHolds(EndThree));
        g_Ended.clear();
        TKX_RunEndAll();
        EXPECT_TRUE(g_Ended.empty()) << "each end runs once";
    }
    g_LastErrorCode = eEID_NO_ERROR;
}

TEST(ModuleTable, HoldsEveryRegistrarInOrderThenTheEmptyExtensionSlot) {
    for (int i = 0; i < 108; ++i) EXPECT_NE(PtrHuxModuleList[i], nullptr) << "slot " << i;
    EXPECT_EQ(PtrHuxModuleList[108], nullptr);
    EXPECT_EQ(PtrHuxModuleList[2], RegisterInitBiosInfoQueueItem);
    EXPECT_EQ(PtrHuxModuleList[72], RegisterMainBiosFlashQueueItem);
    EXPECT_EQ(PtrHuxModuleList[107], RegisterYozGlobalEndQueueItem);
    EXPECT_NE(HuxEarlyInitHooks[0], nullptr) << "slot 0 is a real do-nothing hook";
    EXPECT_EQ(HuxEarlyInitHooks[7], nullptr);
}

}  // namespace
