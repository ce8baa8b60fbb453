// Configuration records of the trailer in-process: payload copies, the
// version text, the default command line merge, the embedded image and the
// command enable table applied to queue items.
#include <gtest/gtest.h>
#include <cstring>
#include <string>
#include <vector>
#include "RomCompressor.h"
#include "TKXPhysMem.h"
#include "TKXUaf.h"
#include "UafBuilder.h"
#include "YozRomFile.h"
#include "YozZozRecords.h"

namespace {

using uaf::DisEntry;
using uaf::DisTable;
static_assert(sizeof(ZOZ_DIS_CMD_DATA) == 290, "the builder writes 290-byte entries");

struct Trailer : ::testing::Test {
    std::string file;
    TKXArgvList args;

    void SetUp() override {
        TKXUafDataList.clear();
        YOZ_bZOZLoadFileOK = 0;
        YOZ_ZOZ_Init();
    }
    void TearDown() override {
        ClearArgs();
        TKXUafDataList.clear();
        YOZ_bZOZLoadFileOK = 0;
    }
    // Indexes a file that ends with a container of these records.
    void Use(const std::vector<std::string>& records) {
        file = uaf::Append(std::string(64, '\x90'), uaf::Container(records));
        TKXUafDataList.clear();
        UINT8* data = reinterpret_cast<UINT8*>(&file[0]);
        UINT32 size = static_cast<UINT32>(file.size());
        ASSERT_EQ(FindUaf(data, size), 1);
        EnumAllUafData(data, reinterpret_cast<_TKX_UAF_DATA*>(reinterpret_cast<UINT8*>(TKXUafDataList[0]) + 16), size);
        ASSERT_EQ(TKXUafDataList.size(), records.size() + 1);
    }
    // The user's command line (argv pointers are not owned).
    std::vector<std::string> typed;
    void Type(const std::vector<std::string>& words) {
        ClearArgs();
        typed = words;
        typed.insert(typed.begin(), "yozmfglnx_64");
        for (auto& w : typed) args.push_back(new TKX_ARGV_ITEM{&w[0], 0, 0});
    }
    void ClearArgs() {
        while (args.size() > 0) {
            TKX_ARGV_ITEM* item = args[0];
            args.remove(0);
            if (item->fromTrailer) delete[] item->text;
            delete item;
        }
    }
    std::vector<std::string> Words() {
        std::vector<std::string> w;
        for (unsigned long i = 0; i < args.size(); ++i) w.push_back(args[i]->text);
        return w;
    }
    std::vector<int> TrailerMarks() {
        std::vector<int> m;
        for (unsigned long i = 0; i < args.size(); ++i) m.push_back(args[i]->fromTrailer);
        return m;
    }
};

TEST_F(Trailer, GetDataGivesOwnedTerminatedCopiesPlainAndUnpacked) {
    std::string big;
    for (int i = 0; big.size() < 40000; ++i) big += "word" + std::to_string(i % 13) + " ";
    Use({uaf::Record("@VER", "v1.0"), uaf::Record("@ROM", big, true), uaf::Record("@CMD", "")});

    UINT8* data = nullptr;
    UINT32 size = 99;
    ASSERT_EQ(YOZ_ZOZ_GetData("@VER", data, size), 1);
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(data)), "v1.0");  // terminated after the payload
    UINT8* inFile = GetUafDataBySign("@VER", nullptr);
    EXPECT_NE(data, inFile);
    data[0] = 'X';
    EXPECT_EQ(inFile[0], 'v') << "the copy is the caller's own";
    FreeMem(data);

    ASSERT_EQ(YOZ_ZOZ_GetData("@ROM", data, size), 1);
    ASSERT_EQ(size, big.size());
    EXPECT_EQ(std::string(reinterpret_cast<char*>(data), size), big);
    EXPECT_EQ(data[size], 0);
    FreeMem(data);

    ASSERT_EQ(YOZ_ZOZ_GetData("@CMD", data, size), 1);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(data[0], 0);
    FreeMem(data);

    data = nullptr;
    EXPECT_EQ(YOZ_ZOZ_GetData("@DIS", data, size), 0);
    EXPECT_EQ(data, nullptr);
}

TEST_F(Trailer, GetDataRefusesRecordsThatDoNotUnpackToTheirSize) {
    // A stream whose length is shorter than its own 8-byte header.
    std::string bad = uaf::RawRecord("@CMD", 0x20, 5, 400, std::string(8, '\0'));
    // A claimed size beyond what the decoder accepts is refused before any allocation.
    std::string huge = uaf::RawRecord("@VER", 0x20, 8, 0xFFFFFFFFu, std::string(8, '\0'));
    Use({bad, huge});
    UINT8* data = nullptr;
    UINT32 size = 0;
    EXPECT_EQ(YOZ_ZOZ_GetData("@CMD", data, size), 0);
    EXPECT_EQ(YOZ_ZOZ_GetData("@VER", data, size), 0);
    EXPECT_EQ(data, nullptr);
}

TEST_F(Trailer, RecordsAboveWhatTheirKindCanUseAreRefused) {
    // Found by the trailer fuzzer: a compressed "@CMD" claiming 128 MiB,
    // whose unpacking took seconds for a text cut to 254 characters.
    const std::string fuzzedCmd = uaf::RawRecord(
        "@CMD", 0x30, 0x1E, 0x0800000A,
        std::string("\x00\x0a\x3b\x6a\x48\xf0\x03\x2f\x54\x03\x20\x00\xf4\x57\x67\x8a\x00\x85\xd8\xce\x77\x80\x00\x00",
                    24));
    const std::string text(ZOZ_TEXT_MAX_SIZE, 'w');
    std::vector<std::string> everyCommand(ZOZ_CMD_STATUS_COUNT, DisEntry("p", 1, 1));
    const std::string table = DisTable(everyCommand, ZOZ_CMD_STATUS_COUNT);
    ASSERT_EQ(table.size(), ZOZ_DIS_MAX_SIZE);
    struct Row {
        const char* what;
        std::string record;
        UINT8 taken;
    } rows[] = {
        {"compressed command line claiming 128 MiB", fuzzedCmd, 0},
        {"version text at the limit", uaf::Record("@VER", text), 1},
        {"version text one byte over", uaf::Record("@VER", text + "w"), 0},
        {"compressed command line one byte over", uaf::Record("@CMD", text + "w", true), 0},
        {"compressed enable table for every command", uaf::Record("@DIS", table, true), 1},
        {"enable table one byte over", uaf::Record("@DIS", table + "x"), 0},
        {"compressed image far above the text limit", uaf::Record("@ROM", text + text + text, true), 1},
    };
    for (const Row& row : rows) {
        Use({row.record});
        const std::string signature = row.record.substr(0, 4);
        UINT8* data = nullptr;
        UINT32 size = 0;
        EXPECT_EQ(YOZ_ZOZ_GetData(signature.c_str(), data, size), row.taken) << row.what;
        EXPECT_EQ(data == nullptr, row.taken == 0) << row.what;
        FreeMem(data);
    }
}

TEST_F(Trailer, VersionTextIsCutTo63CharactersAndEmptyWithoutRecord) {
    char* version = nullptr;
    UINT8* image = nullptr;
    UINT32 size = 0;
    Type({});
    Use({uaf::Record("@UII", "build")});
    YOZ_ZOZ_Load(args, version, image, size);
    ASSERT_NE(version, nullptr) << "loaded without a version record: empty text";
    EXPECT_STREQ(version, "");

    // 100 characters that fill the record up to its padding: no terminator in the payload.
    const std::string longText(96, 'V');
    Use({uaf::Record("@VER", longText)});
    YOZ_ZOZ_Load(args, version, image, size);
    EXPECT_EQ(std::string(version), longText.substr(0, 63));
    EXPECT_EQ(image, nullptr);
    EXPECT_EQ(Words(), std::vector<std::string>({"yozmfglnx_64"}));
}

TEST_F(Trailer, CommandWordsAreAppendedOnceAfterTheUsersWords) {
    char* version = nullptr;
    UINT8* image = nullptr;
    UINT32 size = 0;
    Use({uaf::Record("@CMD", "/P /Q")});
    Type({"bios.rom", "/X"});
    YOZ_ZOZ_Load(args, version, image, size);
    EXPECT_EQ(Words(), std::vector<std::string>({"yozmfglnx_64", "bios.rom", "/X", "/P", "/Q"}));
    EXPECT_EQ(TrailerMarks(), std::vector<int>({0, 0, 0, 1, 1}));
    EXPECT_EQ(args[3]->claimed, 0);

    Type({"bios.rom", "/Q"});
    YOZ_ZOZ_Load(args, version, image, size);
    EXPECT_EQ(Words(), std::vector<std::string>({"yozmfglnx_64", "bios.rom", "/Q", "/P"}));

    // Compressed, with the user typing nothing.
    Use({uaf::Record("@CMD", "bios.rom /P /B /N /Q /X /K /L /R", true)});
    Type({});
    YOZ_ZOZ_Load(args, version, image, size);
    EXPECT_EQ(Words(), std::vector<std::string>({"yozmfglnx_64", "bios.rom", "/P", "/B", "/N", "/Q", "/X", "/K",
                                                 "/L", "/R"}));
}

TEST_F(Trailer, FileNameGoesFirstWhenTheUserGaveOptionsFirst) {
    char* version = nullptr;
    UINT8* image = nullptr;
    UINT32 size = 0;
    Use({uaf::Record("@CMD", "bios.rom  /P")});  // two blanks: no empty word
    Type({"/X"});
    YOZ_ZOZ_Load(args, version, image, size);
    EXPECT_EQ(Words(), std::vector<std::string>({"yozmfglnx_64", "bios.rom", "/X", "/P"}));
    EXPECT_EQ(TrailerMarks(), std::vector<int>({0, 1, 0, 1}));
}

TEST_F(Trailer, CommandTextIsCutAt254Characters) {
    char* version = nullptr;
    UINT8* image = nullptr;
    UINT32 size = 0;
    std::string text;
    for (int i = 0; i < 50; ++i) text += "/W" + std::to_string(100 + i) + " ";  // 6 characters a word
    text = text.substr(0, 254 + 12);
    Use({uaf::Record("@CMD", text)});
    Type({"a.rom"});
    YOZ_ZOZ_Load(args, version, image, size);
    std::vector<std::string> w = Words();
    ASSERT_EQ(w.size(), 2u + 43u);  // 42 whole words and the first two characters of the 43rd
    EXPECT_EQ(w[43], "/W141");
    EXPECT_EQ(w.back(), "/W");
}

TEST_F(Trailer, EmbeddedImageBecomesTheImageAndOptionsAloneRunOnIt) {
    std::string image(0x3000, '\x5A');
    image[0] = 'F';
    char* version = nullptr;
    UINT8* buffer = nullptr;
    UINT32 size = 0;
    Use({uaf::Record("@ROM", image, true)});
    Type({"/P"});
    YOZ_ZOZ_Load(args, version, buffer, size);
    EXPECT_EQ(YOZ_bZOZLoadFileOK, 1);
    ASSERT_EQ(size, image.size());
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), size), image);
    EXPECT_EQ(Words(), std::vector<std::string>({"yozmfglnx_64", "UCPIMG", "/P"}));
    EXPECT_EQ(TrailerMarks(), std::vector<int>({0, 1, 0}));

    // "@CMD" "/P" with nothing typed: the same command line.
    YOZ_bZOZLoadFileOK = 0;
    Use({uaf::Record("@ROM", image), uaf::Record("@CMD", "/P")});
    Type({});
    YOZ_ZOZ_Load(args, version, buffer, size);
    EXPECT_EQ(Words(), std::vector<std::string>({"yozmfglnx_64", "UCPIMG", "/P"}));

    // A file name typed first keeps its place.
    Type({"bios.rom", "/P"});
    YOZ_ZOZ_Load(args, version, buffer, size);
    EXPECT_EQ(Words(), std::vector<std::string>({"yozmfglnx_64", "bios.rom", "/P"}));

    // An empty image is no image.
    YOZ_bZOZLoadFileOK = 0;
    buffer = nullptr;
    size = 0;
    Use({uaf::Record("@ROM", "")});
    Type({"/P"});
    YOZ_ZOZ_Load(args, version, buffer, size);
    EXPECT_EQ(YOZ_bZOZLoadFileOK, 0);
    EXPECT_EQ(buffer, nullptr);
    EXPECT_EQ(Words(), std::vector<std::string>({"yozmfglnx_64", "/P"}));
}

// Queue items with dummy entry points, one per module id.
ENUM_ERR_ID DummyParse(TKXArgvList&, TKX_QUEUE_ITEM*) { return eEID_NO_ERROR; }
ENUM_ERR_ID DummyExecute(TKXQueueItemList&) { return eEID_NO_ERROR; }
void DummyHelp(UINT8) {}

struct Commands : Trailer {
    std::vector<TKX_QUEUE_ITEM> storage;
    TKXQueueItemList items;
    const std::vector<std::pair<ENUM_MODULE_ID, const char*>> registered = {
        {eMID_QUIET, "/Q"}, {eMID_NCBFULLOPEN, "/K"}, {eMID_NCBKNOPEN, "/K"}, {eMID_SMBIOSSTORE, "/R"},
        {eMID_SMBIOSNSTORE, "/R"}, {eMID_CAF, "/caf"}, {eMID_MAINBIOSOPEN, "/P"}, {eMID_ROMHOLEFLASH, "/HOLE:"},
        {eMID_NOCKRID, "/X"}};

    void SetUp() override {
        Trailer::SetUp();
        memset(ZozCmdStatusList, 0, sizeof(ZozCmdStatusList));
        for (const auto& r : registered) YOZ_ZOZ_RegisterModule(r.first, r.second);
        // Id 5 is registered by nobody; it stands for every unregistered module.
        std::vector<UINT32> ids = {5};
        for (const auto& r : registered) ids.push_back(r.first);
        storage.reserve(ids.size() + 1);
        for (UINT32 id : ids) {
            storage.push_back(TKX_QUEUE_ITEM{id, DummyParse, DummyExecute, DummyHelp, nullptr, 0, 0, 0, 1, 0});
            items.push_back(&storage.back());
        }
    }
    TKX_QUEUE_ITEM& Item(UINT32 id) {
        for (auto& s : storage) {
            if (s.ModuleId == id) return s;
        }
        return storage.front();
    }
    // "P" parse, "E" execute, "H" help for the entry points still set.
    std::string Points(UINT32 id) {
        TKX_QUEUE_ITEM& i = Item(id);
        return std::string(i.ParsingCommandFunction ? "P" : "") + (i.ExecutionActionFunction ? "E" : "") +
               (i.CommandHelp ? "H" : "");
    }
};

TEST_F(Commands, RegistrationKeepsLowerCasedTextsAndIgnoresBadIds) {
    EXPECT_STREQ(ZozCmdStatusList[eMID_CAF].Name, "/caf");
    EXPECT_STREQ(ZozCmdStatusList[eMID_ROMHOLEFLASH].Name, "/hole:");
    EXPECT_EQ(ZozCmdStatusList[eMID_QUIET].ModuleId, static_cast<UINT32>(eMID_QUIET));
    EXPECT_EQ(ZozCmdStatusList[eMID_QUIET].Status, ZOZ_CMD_SHOWN);

    YOZ_ZOZ_RegisterModule(eMID_QUIET, "/AVeryLongCommandWord");
    EXPECT_STREQ(ZozCmdStatusList[eMID_QUIET].Name, "/averylongcomma");  // 15 characters, replaced
    YOZ_ZOZ_RegisterModule(eMID_QUIET, nullptr);
    EXPECT_STREQ(ZozCmdStatusList[eMID_QUIET].Name, "/averylongcomma");

    ZOZ_CMD_STATUS before[ZOZ_CMD_STATUS_COUNT];
    memcpy(before, ZozCmdStatusList, sizeof(before));
    YOZ_ZOZ_RegisterModule(static_cast<ENUM_MODULE_ID>(106), "/A");
    YOZ_ZOZ_RegisterModule(static_cast<ENUM_MODULE_ID>(0xFFFFFFFFu), "/B");
    EXPECT_EQ(memcmp(before, ZozCmdStatusList, sizeof(before)), 0);
}

TEST_F(Commands, EntryStatusFollowsShownAndAttributeBytes) {
    ZOZ_DIS_CMD_DATA e{};
    e.Shown = 0;
    e.Attributes = 2;
    EXPECT_EQ(YOZ_ZOZ_CmdStatus(e), ZOZ_CMD_REMOVED);
    e.Shown = 1;
    e.Attributes = 0;
    EXPECT_EQ(YOZ_ZOZ_CmdStatus(e), ZOZ_CMD_HELP_HIDDEN);
    e.Attributes = 0x03;
    EXPECT_EQ(YOZ_ZOZ_CmdStatus(e), ZOZ_CMD_SHOWN_ATTR);
    e.Attributes = 0x01;
    EXPECT_EQ(YOZ_ZOZ_CmdStatus(e), ZOZ_CMD_SHOWN);
}

TEST_F(Commands, EnableTableRemovesCommandsAndHidesHelp) {
    Use({uaf::Record("@DIS", DisTable({DisEntry("K", 0, 1), DisEntry("caf", 1, 0), DisEntry("p", 1, 2),
                                       DisEntry("programall", 0, 0), DisEntry("nosuch", 0, 0), DisEntry("hole:", 1, 1),
                                       DisEntry("q", 1, 1), DisEntry("Q", 0, 0)},
                                      8),
                             true)});
    YOZ_ZOZ_CheckCommand(items);
    // "K" removes "/K" and its numbered form.
    EXPECT_EQ(ZozCmdStatusList[eMID_NCBFULLOPEN].Status, ZOZ_CMD_REMOVED);
    EXPECT_EQ(ZozCmdStatusList[eMID_NCBKNOPEN].Status, ZOZ_CMD_REMOVED);
    EXPECT_EQ(Points(eMID_NCBFULLOPEN), "");
    EXPECT_EQ(Points(eMID_NCBKNOPEN), "");
    EXPECT_EQ(Points(eMID_CAF), "PE");
    EXPECT_EQ(ZozCmdStatusList[eMID_MAINBIOSOPEN].Status, ZOZ_CMD_SHOWN_ATTR);
    EXPECT_EQ(Points(eMID_MAINBIOSOPEN), "PEH");
    EXPECT_EQ(Points(eMID_ROMHOLEFLASH), "PEH");
    // The first entry with the name decides.
    EXPECT_EQ(Points(eMID_QUIET), "PEH");
    EXPECT_EQ(Points(eMID_SMBIOSSTORE), "PEH");
    EXPECT_EQ(Points(eMID_NOCKRID), "PEH");
    EXPECT_EQ(Points(5), "PEH");
}

TEST_F(Commands, NumberedRFollowsPlainR) {
    Use({uaf::Record("@DIS", DisTable({DisEntry("r", 1, 0)}, 1))});
    YOZ_ZOZ_CheckCommand(items);
    EXPECT_EQ(Points(eMID_SMBIOSSTORE), "PE");
    EXPECT_EQ(Points(eMID_SMBIOSNSTORE), "PE");
}

TEST_F(Commands, EmptyNamesTouchNoUnregisteredModule) {
    // Empty names, and names of 16 characters without a terminator.
    Use({uaf::Record("@DIS", DisTable({DisEntry("", 0, 0), DisEntry("abcdefghijklmnop", 0, 0)}, 2))});
    YOZ_ZOZ_CheckCommand(items);
    EXPECT_EQ(Points(5), "PEH");
    for (const auto& r : registered) EXPECT_EQ(Points(r.first), "PEH") << r.second;
}

TEST_F(Commands, EntryCountIsBoundedByThePayload) {
    // The count claims 60000 entries; two are there, the second removes "/X".
    std::string table = DisTable({DisEntry("nosuch", 0, 0), DisEntry("x", 0, 0)}, 60000);
    Use({uaf::Record("@DIS", table)});
    YOZ_ZOZ_CheckCommand(items);
    EXPECT_EQ(Points(eMID_NOCKRID), "");

    // A payload shorter than its head, and one with no whole entry: nothing changes.
    memset(ZozCmdStatusList, 0, sizeof(ZozCmdStatusList));
    for (const auto& r : registered) YOZ_ZOZ_RegisterModule(r.first, r.second);
    Item(eMID_NOCKRID) = TKX_QUEUE_ITEM{eMID_NOCKRID, DummyParse, DummyExecute, DummyHelp, nullptr, 0, 0, 0, 1, 0};
    Use({uaf::Record("@DIS", std::string("\0\0\x05\0", 4))});
    YOZ_ZOZ_CheckCommand(items);
    Use({uaf::Record("@DIS", DisTable({}, 3) + DisEntry("x", 0, 0).substr(0, 289))});
    YOZ_ZOZ_CheckCommand(items);
    EXPECT_EQ(Points(eMID_NOCKRID), "PEH");
}

TEST_F(Commands, WithoutEnableTableEveryCommandStays) {
    Use({uaf::Record("@VER", "x")});
    YOZ_ZOZ_CheckCommand(items);
    for (const auto& r : registered) EXPECT_EQ(Points(r.first), "PEH") << r.second;
}

}  // namespace
