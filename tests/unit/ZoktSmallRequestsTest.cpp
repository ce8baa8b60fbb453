// The small ZOKT requests (manufacturing names, event log, setup and DMI
// preservation, OEM activation check, pattern, ROM-ID) against the emulated
// firmware, one group per request family.
#include <gtest/gtest.h>
#include <cstring>
#include <string>
#include <vector>
#include "CaptureOut.h"
#include "SmiTransport.h"
#include "TKXPortIo.h"
#include "ZoktEventLog.h"
#include "ZoktMfg.h"
#include "ZoktOaKey.h"
#include "ZoktPattern.h"
#include "ZoktRomId.h"
#include "ZoktUnit.h"
#include "ZoktVarPreserve.h"

namespace {

using Mfg = unit::ZoktRequests;
using EventLog = unit::ZoktRequests;
using VarPreserve = unit::ZoktRequests;
using OaKey = unit::ZoktRequests;
using Pattern = unit::ZoktRequests;
using RomId = unit::ZoktRequests;

std::string Str(const char* s) { return s == nullptr ? std::string("(null)") : std::string(s); }

// ---- manufacturing option names ----

TEST_F(Mfg, OutsideManufacturingModeThereAreNoWords) {
    Machine({});
    ZOKT_YOZMFG_Release();
    EXPECT_EQ(ZOKT_YOZMFG_Support(), 0);
    EXPECT_EQ(ZOKT_YOZMFG_GetCmdString(1), nullptr);
    EXPECT_EQ(Zokt(), std::vector<std::string>{"zokt=0x71 ver=0x0210 size=0x0d mfg=0x02 rs=0x0001"});
    // The request: type 0x71 with the manufacturing bit and this build's record size.
    EXPECT_EQ(buf[0x12], 0x71);
    EXPECT_EQ(buf[0x14], sizeof(void*) == 8 ? 13 : 9);
    EXPECT_EQ(buf[0x08] | (buf[0x09] << 8), 0x100);
}

TEST_F(Mfg, WordsAreLookedUpByIdAndAlwaysTerminated) {
    Machine({"mfg=1",
             "mfg_table=1|/pw:|Password file;7|/DU|Delete trailer;7|/other|Second;9||Empty;"
             "12|/ABCDEFGHIJKLMNOPQ|Too long"});
    ASSERT_EQ(ZOKT_YOZMFG_Support(), 1);
    EXPECT_EQ(Str(ZOKT_YOZMFG_GetCmdString(1)), "/pw:");
    EXPECT_EQ(Str(ZOKT_YOZMFG_GetCmdString(7)), "/DU") << "the first entry of an id wins";
    EXPECT_EQ(ZOKT_YOZMFG_GetCmdString(3), nullptr);
    EXPECT_EQ(ZOKT_YOZMFG_GetCmdString(9), nullptr) << "an empty word is no option";
    // The firmware filled all 16 bytes: all 16 are kept, with a terminator.
    EXPECT_EQ(Str(ZOKT_YOZMFG_GetCmdString(12)), "/ABCDEFGHIJKLMNO");
    UINT16 count = gZOKT_YOZMFG.Count;
    UINT8* table = gZOKT_YOZMFG.pTable;
    EXPECT_EQ(count, 5);
    EXPECT_EQ(table, buf + 0x16 + 0x10) << "the record names the table copied from";
    EXPECT_EQ(std::string(pMFGCmdList[1].Help), "Delete trailer");

    ZOKT_YOZMFG_Release();
    EXPECT_EQ(ZOKT_YOZMFG_GetCmdString(1), nullptr);
    EXPECT_EQ(UINT16{gZOKT_YOZMFG.Count}, 0);
}

TEST_F(Mfg, EmptyAndOversizedTables) {
    Machine({"mfg=1", "mfg_table=1|/pw:|x", "mfg_count=0"});
    EXPECT_EQ(ZOKT_YOZMFG_Support(), 1) << "manufacturing mode with no words";
    EXPECT_EQ(ZOKT_YOZMFG_GetCmdString(1), nullptr);

    // 300 entries of 273 bytes do not fit the 0x11000-byte buffer.
    Machine({"mfg=1", "mfg_table=1|/pw:|x", "mfg_count=300", "mfg_offset=0x20"});
    EXPECT_EQ(ZOKT_YOZMFG_Support(), 0);
    EXPECT_EQ(ZOKT_YOZMFG_GetCmdString(1), nullptr);
    EXPECT_EQ(Zokt(), std::vector<std::string>{"zokt=0x71 ver=0x0210 size=0x0d mfg=0x01 offset=0x20 count=0x012c entries=0x0001 rs=0x0001"});
    ZOKT_YOZMFG_Release();
}

// ---- event log ----

TEST_F(EventLog, AnswersMapToTheLastError) {
    const struct {
        const char* setting;
        UINT8 result;
        ENUM_ERR_ID error;
    } cases[] = {
        {"evlog_status=1", 1, eEID_NO_ERROR},
        {"evlog_status=2", 0, eEID_CLEAR_EVENT_LOG_ERROR},
        {"evlog_status=4", 0, eEID_CLEAR_EVENT_LOG_NOT_SUPPORT},
        {"evlog_status=3", 0, eEID_CLEAR_EVENT_LOG_NOT_SUPPORT},
        {"evlog_support=0", 0, eEID_CLEAR_EVENT_LOG_NOT_SUPPORT},
    };
    for (const auto& c : cases) {
        Machine({c.setting});
        EXPECT_EQ(ZOKT_CleanEventLog(), c.result) << c.setting;
        EXPECT_EQ(ZOKT_CleanEventLog_GetLastErrorID(), c.error) << c.setting;
    }
    Machine({});
    ASSERT_EQ(ZOKT_CleanEventLog(), 1);
    EXPECT_EQ(Zokt(), std::vector<std::string>{"zokt=0x58 ver=0x0210 func=0x0001 status=0x0001 rs=0x0001"});
    EXPECT_EQ(State("evlog_cleared"), "0x1");
}

TEST_F(EventLog, RequestIsByteExact) {
    Machine({"evlog_support=0"});
    memset(buf, 0xEE, 0x500);
    EXPECT_EQ(ZOKT_CleanEventLog(), 0);
    const UINT8 expected[0x1E] = {'Z', 'O', 'K', 'T', 0x10, 0x02, 0x1E, 0x00, 0x00, 0x00, 0x80, 0x00, 0x00, 0x00, 0x12,
                                  0x00, 0x04, 0x00, 0x58, 0x01, 0x04, 0x00, 0x01, 0x00, 0x00, 0x00, 0xAA, 0x55, 0xFF, 0xFF};
    EXPECT_EQ(Bytes(0, 0x1E), std::string(reinterpret_cast<const char*>(expected), 0x1E));
    EXPECT_EQ(Bytes(0x1E, 0x400 - 0x1E), std::string(0x400 - 0x1E, '\0'));
}

TEST_F(EventLog, WithoutZoktNothingIsSent) {
    Machine({"zokt_version=0"}, 0);
    EXPECT_EQ(ZOKT_CleanEventLog(), 0);
    EXPECT_EQ(ZOKT_CleanEventLog_GetLastErrorID(), eEID_CLEAR_EVENT_LOG_NOT_SUPPORT);
    EXPECT_EQ(Zokt(), std::vector<std::string>{"zokt=0x00 ver=0x0000 answer=none"}) << "only the handshake";
}

// ---- setup and DMI preservation ----

TEST_F(VarPreserve, EachWrapperSendsItsFunction) {
    Machine({});
    EXPECT_EQ(ZOKT_VarPreserve_Support(), 1);
    EXPECT_EQ(ZOKT_VarPreserve_SetupVarStore(), 1);
    EXPECT_EQ(ZOKT_VarPreserve_SetupVarReStore(), 1);
    EXPECT_EQ(ZOKT_VarPreserve_DMIVarStore(), 1);
    EXPECT_EQ(ZOKT_VarPreserve_DMIVarReStore(), 1);
    EXPECT_EQ(ZOKT_VarPreserve_GetLastErrorID(), eEID_NO_ERROR);
    std::vector<std::string> expected;
    for (const char* fn : {"0x01", "0x02", "0x04", "0x08", "0x10"}) {
        expected.push_back(std::string("zokt=0x56 ver=0x0210 fn=") + fn + " status=0x01 rs=0x0001");
    }
    EXPECT_EQ(Zokt(), expected);
}

TEST_F(VarPreserve, StatusesMapToErrors) {
    const struct {
        UINT8 status;
        ENUM_ERR_ID error;
    } cases[] = {{2, eEID_SETUP_NOT_SUPPORT},    {4, eEID_SETUP_STORE_ERROR}, {8, eEID_SETUP_RESTORE_ERROR},
                 {0x10, eEID_DMI_STORE_ERROR},   {0x20, eEID_DMI_RESTORE_ERROR}, {0x40, eEID_SETUP_NOT_SUPPORT},
                 {0, eEID_SETUP_NOT_SUPPORT}};
    for (const auto& c : cases) {
        Machine({"setup_status_8=" + std::to_string(c.status)});
        EXPECT_EQ(ZOKT_VarPreserve_SetupVarStore(), 1) << "other functions keep the default";
        EXPECT_EQ(ZOKT_VarPreserve_DMIVarStore(), 0) << int(c.status);
        EXPECT_EQ(ZOKT_VarPreserve_GetLastErrorID(), c.error) << int(c.status);
        EXPECT_EQ(ZOKT_SWSMI_SETUP(ZOKT_TC_DMI_STORE), c.error) << int(c.status);
    }
    Machine({"setup_support=0"});
    EXPECT_EQ(ZOKT_VarPreserve_Support(), 0);
    EXPECT_EQ(ZOKT_VarPreserve_GetLastErrorID(), eEID_SETUP_NOT_SUPPORT);
    Machine({"zokt_version=0"}, 0);
    EXPECT_EQ(ZOKT_VarPreserve_Support(), 0);
    EXPECT_EQ(ZOKT_VarPreserve_GetLastErrorID(), eEID_SETUP_NOT_SUPPORT);
    EXPECT_EQ(Zokt().size(), 1u) << "only the handshake";
}

// ---- OEM activation data check ----

TEST_F(OaKey, RecordCarriesAddressesAndData) {
    Machine({"oa_status=0x0100"});
    std::string key = "KEY-0123456789";
    std::vector<UINT8> data(key.begin(), key.end());
    EXPECT_EQ(ZOKT_OAKeyCheck(data.data(), 0xFFE000, static_cast<UINT32>(data.size())), 1) << "other bits go on";
    EXPECT_EQ(ZOKT_OAKeyCheck_GetLastErrorID(), eEID_NO_ERROR);
    EXPECT_EQ(Zokt(), std::vector<std::string>{"zokt=0x5a ver=0x0210 oa=0x01 flash=0x00ffe000 addr=0x00200400 "
                                               "size=0x0000000e status=0x0100 rs=0x0001"});
    EXPECT_EQ(State("oa_data"), key);
}

TEST_F(OaKey, AnswersStopOrGoOn) {
    const struct {
        const char* status;
        UINT8 result;
        ENUM_ERR_ID error;
    } cases[] = {
        {"0", 0, eEID_ZOKT_OA_UPDATE_NOT_SUPPORT}, {"0x1", 0, eEID_NOA_DATA_INVALID},
        {"0x4", 0, eEID_BIOS_ALREADY_UPDATE_NOA},  {"0x8", 0, eEID_BIOS_NOT_ALLOW_UPDATE_NOA},
        {"0x5", 0, eEID_NOA_DATA_INVALID},         {"0x8000", 1, eEID_NO_ERROR},
    };
    UINT8 data[4] = {1, 2, 3, 4};
    for (const auto& c : cases) {
        Machine({std::string("oa_status=") + c.status, "oa_error_id=0x42"});
        EXPECT_EQ(ZOKT_OAKeyCheck(data, 0, 4), c.result) << c.status;
        EXPECT_EQ(ZOKT_OAKeyCheck_GetLastErrorID(), c.error) << c.status;
        EXPECT_EQ(ZOKT_OAKeyOEM_UseOEMErrorID(), c.status == std::string("0x8000") ? 1 : 0) << c.status;
    }
    EXPECT_EQ(ZOKT_OAKeyOEM_ErrorID(), 0x42);
    Machine({"oa_support=0"});
    EXPECT_EQ(ZOKT_OAKeyCheck(data, 0, 4), 0);
    EXPECT_EQ(ZOKT_OAKeyCheck_GetLastErrorID(), eEID_ZOKT_OA_UPDATE_NOT_SUPPORT);
}

TEST_F(OaKey, FirmwareTextAndOemErrorId) {
    unit::CapturedOut out;
    UINT8 data[4] = {1, 2, 3, 4};
    Machine({"oa_status=0x8008", "oa_error_id=0xE5", "oa_text=Key refused"});
    EXPECT_EQ(ZOKT_OAKeyCheck(data, 0, 4), 0);
    EXPECT_EQ(out.Text(), " Key refused \n");
    EXPECT_EQ(ZOKT_OAKeyOEM_NoErrorPrint(), 1);
    EXPECT_EQ(ZOKT_OAKeyOEM_UseOEMErrorID(), 1);
    EXPECT_EQ(ZOKT_OAKeyOEM_ErrorID(), 0xE5);
    EXPECT_EQ(ZOKT_OAKeyCheck_GetLastErrorID(), eEID_BIOS_NOT_ALLOW_UPDATE_NOA);
    // The next request starts with clear flags.
    Machine({"oa_status=0x10"});
    EXPECT_EQ(ZOKT_OAKeyCheck(data, 0, 4), 1);
    EXPECT_EQ(ZOKT_OAKeyOEM_NoErrorPrint(), 0);
    EXPECT_EQ(ZOKT_OAKeyOEM_UseOEMErrorID(), 0);
}

TEST_F(OaKey, ModifiedDataComesBackToTheCaller) {
    unit::CapturedOut out;
    Machine({"oa_status=0x2", "oa_new_data=NEW", "oa_text=Changed"});
    UINT8 data[8] = {'o', 'l', 'd', 'k', 'e', 'y', '!', '!'};
    EXPECT_EQ(ZOKT_OAKeyCheck(data, 0x1000, 8), 1);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(data), 8), "NEWkey!!");
    EXPECT_EQ(ZOKT_OAKeyOEM_NoErrorPrint(), 0);
    EXPECT_EQ(ZOKT_OAKeyCheck_GetLastErrorID(), eEID_NO_ERROR);
    EXPECT_EQ(out.Text(), " Changed \n");
}

TEST_F(OaKey, DataThatDoesNotFitTheBufferIsRefusedUnsent) {
    Machine({"oa_status=0x2"});
    std::vector<UINT8> big(0x10C01, 0x11);
    EXPECT_EQ(ZOKT_OAKeyCheck(big.data(), 0, static_cast<UINT32>(big.size())), 0);
    EXPECT_EQ(ZOKT_OAKeyCheck_GetLastErrorID(), eEID_NOA_DATA_INVALID);
    EXPECT_EQ(ZOKT_OAKeyCheck(nullptr, 0, 4), 0);
    EXPECT_TRUE(Zokt().empty());
    std::vector<UINT8> fits(0x10C00, 0x22);
    EXPECT_EQ(ZOKT_OAKeyCheck(fits.data(), 0, static_cast<UINT32>(fits.size())), 1);
    EXPECT_EQ(State("oa_data"), std::string(0x10C00, '\x22'));
}

// ---- pattern query and check ----

std::vector<UINT8> RomWith(UINT32 size, UINT32 at, const std::string& pattern) {
    std::vector<UINT8> rom(size);
    for (UINT32 i = 0; i < size; ++i) rom[i] = static_cast<UINT8>(i * 7 + 1);
    memcpy(rom.data() + at, pattern.data(), pattern.size());
    return rom;
}

TEST_F(Pattern, WithoutPatternNoCheckIsSent) {
    Machine({});
    EXPECT_EQ(ZOKT_GetPatternSupport(), 1);
    std::vector<UINT8> rom = RomWith(0x1000, 0, "");
    EXPECT_EQ(ZOKT_SearchPattern(rom.data(), 0x1000), 1);
    EXPECT_EQ(ZOKT_GPR_GetRS_ERROR_OUT(), 0);
    EXPECT_EQ(ZOKT_GetPattern_ReString(), nullptr);
    EXPECT_EQ(Zokt(), std::vector<std::string>{
                          "zokt=0x5c ver=0x0210 pat=0x01 form=0x00 status=0x00 send=0x0000 pattern=\"\" rs=0x0001"});
}

TEST_F(Pattern, FoundPatternSendsTheBytesBehindTheMatch) {
    Machine({"pattern=$PAT1", "pattern_text=Pattern check"});
    ASSERT_EQ(ZOKT_GetPatternSupport(), 1);
    EXPECT_EQ(ZOKT_GPR_GetRS_DIS_OEMSTR(), 1);
    EXPECT_EQ(Str(ZOKT_GetPattern_ReString()), " Pattern check \n");
    std::vector<UINT8> rom = RomWith(0x2000, 0x300, "$PAT1");
    EXPECT_EQ(ZOKT_SearchPattern(rom.data(), 0x2000), 1);
    EXPECT_EQ(State("pattern_data"), std::string(reinterpret_cast<char*>(rom.data()) + 0x300, 0x400));
    // Record: check, 0x400 bytes; the data address (in the trace) replaces the terminator.
    EXPECT_EQ(buf[0x16], 2);
    EXPECT_EQ(U16(0x18), 0x400);
    EXPECT_EQ(U16(0x06), 0x5E);
    EXPECT_EQ(ZOKT_GPR_GetRS_ERROR_OUT(), 0);
    // The check was made once: a second call sends nothing.
    EXPECT_EQ(ZOKT_SearchPattern(rom.data(), 0x2000), 1);
    EXPECT_EQ(Zokt().size(), 2u);
    EXPECT_EQ(Zokt()[1].substr(0, 74),
              "zokt=0x5c ver=0x0210 pat=0x02 n=0x0400 addr=0x00200400 data=\"$PAT1$+29@GNU");
    EXPECT_EQ(Zokt()[1].substr(Zokt()[1].size() - 21), "status=0x01 rs=0x0011");
}

TEST_F(Pattern, SendSizeIsCutAtTheFileEnd) {
    Machine({"pattern=ENDPAT"});
    ZOKT_GetPatternSupport();
    std::vector<UINT8> rom = RomWith(0x1000, 0xF00, "ENDPAT");
    EXPECT_EQ(ZOKT_SearchPattern(rom.data(), 0x1000), 1);
    EXPECT_EQ(U16(0x18), 0x100);
    EXPECT_EQ(State("pattern_data").size(), 0x100u);

    Machine({"pattern=ENDPAT", "pattern_send=0x20"});
    ZOKT_GetPatternSupport();
    EXPECT_EQ(ZOKT_SearchPattern(rom.data(), 0x1000), 1);
    EXPECT_EQ(U16(0x18), 0x20);
    EXPECT_EQ(State("pattern_data"), std::string(reinterpret_cast<char*>(rom.data()) + 0xF00, 0x20));
}

TEST_F(Pattern, LengthFormCountsBytesPastANul) {
    Machine({"pattern_hex=4100420043", "pattern_form=0x83"});
    ZOKT_GetPatternSupport();
    std::vector<UINT8> rom = RomWith(0x800, 0x10, std::string("A\0B\0", 4));
    EXPECT_EQ(ZOKT_SearchPattern(rom.data(), 0x800), 1);
    EXPECT_EQ(buf[0x16], 2) << "found: \"A\\0B\" is 3 bytes";
    EXPECT_EQ(State("pattern_data").substr(0, 4), std::string("A\0B\0", 4));
}

TEST_F(Pattern, NotFoundAndRefusedFiles) {
    Machine({"pattern=NOWHERE"});
    ZOKT_GetPatternSupport();
    std::vector<UINT8> rom = RomWith(0x800, 0, "");
    EXPECT_EQ(ZOKT_SearchPattern(rom.data(), 0x800), 1);
    EXPECT_EQ(buf[0x16], 4);
    EXPECT_EQ(ZOKT_GPR_GetRS_ERROR_OUT(), 1) << "the firmware refuses a file without its pattern";
    EXPECT_EQ(Zokt()[1], "zokt=0x5c ver=0x0210 pat=0x04 status=0x02 rs=0x0001");

    // A found pattern the firmware still refuses.
    Machine({"pattern=$P", "pattern_check_status=2"});
    ZOKT_GetPatternSupport();
    rom = RomWith(0x800, 0x40, "$P");
    EXPECT_EQ(ZOKT_SearchPattern(rom.data(), 0x800), 1);
    EXPECT_EQ(ZOKT_GPR_GetRS_ERROR_OUT(), 1);

    // The query itself answered error-out.
    Machine({"pattern_error_out=1"});
    ZOKT_GetPatternSupport();
    EXPECT_EQ(ZOKT_GPR_GetRS_ERROR_OUT(), 1);
}

TEST_F(Pattern, MalformedPatternsAreNotChecked) {
    std::vector<UINT8> rom = RomWith(0x800, 0, std::string(64, 'Q'));
    for (const char* form : {"pattern_form=0xC5", "pattern_form=0x80", "pattern_form=0"}) {
        // 64 bytes without terminator, a length past the field, and length 0.
        Machine({"pattern=" + std::string(64, 'Q'), form});
        ZOKT_GetPatternSupport();
        EXPECT_EQ(ZOKT_SearchPattern(rom.data(), 0x800), 1) << form;
        EXPECT_EQ(Zokt().size(), 1u) << form;
    }
    Machine({"pattern=" + std::string(64, 'Q'), "pattern_form=0xC0"});
    ZOKT_GetPatternSupport();
    EXPECT_EQ(ZOKT_SearchPattern(rom.data(), 0x800), 1);
    EXPECT_EQ(Zokt().size(), 2u) << "a length of exactly 64 is checked";
}

TEST_F(Pattern, MissingFileIsReported) {
    Machine({"pattern=$PAT"});
    ZOKT_GetPatternSupport();
    unit::CapturedOut out;
    EXPECT_EQ(ZOKT_SearchPattern(nullptr, 0x100), 0);
    EXPECT_EQ(out.Text(), "- [DBG] File Error !!!\n");
}

// ---- ROM-ID check ----

class RomIdMachine : public unit::ZoktRequests {
protected:
    std::vector<UINT8> rom;
    void Flash(const std::vector<std::string>& settings) {
        Machine(settings);
        rom = RomWith(0x1000, 0, "");
        e2e::WriteFile(unitmachine::File("flash.bin"), std::string(rom.begin(), rom.end()));
    }
};

TEST_F(RomIdMachine, MatchingPieceIsJudged) {
    Flash({"romid_answer=3", "romid_offset=0x100", "romid_size=0x20"});
    UINT16 rs = 0xFFFF;
    EXPECT_EQ(ZOKT_RomID_Check(rom.data(), 0x1000, rs), 1);
    EXPECT_EQ(rs, 0x0001);
    EXPECT_EQ(ZOKT_RomID_Check_ReString(), nullptr);
    std::vector<std::string> expected = {
        "zokt=0x53 ver=0x0210 fn=0x01 answer=0x03 off=0x00000100 size=0x00000020 rs=0x0001",
        "zokt=0x53 ver=0x0210 fn=0x02 off=0x00000100 size=0x00000020 verdict=match rs=0x0001"};
    EXPECT_EQ(Zokt(), expected);
    // Fresh headers, then the piece behind the terminator.
    EXPECT_EQ(U16(0x06), 0x28);
    EXPECT_EQ(Bytes(0x28, 0x20), std::string(reinterpret_cast<char*>(rom.data()) + 0x100, 0x20));
}

TEST_F(RomIdMachine, MismatchCarriesErrorOutAndText) {
    Flash({"romid_answer=3", "romid_offset=0x100", "romid_size=0x20", "romid_text=ROM ID is wrong"});
    rom[0x11F] ^= 1;
    UINT16 rs = 0;
    EXPECT_EQ(ZOKT_RomID_Check(rom.data(), 0x1000, rs), 1);
    EXPECT_EQ(rs, 0x0019);
    EXPECT_EQ(Str(ZOKT_RomID_Check_ReString()), " - ROM ID is wrong \n");
}

TEST_F(RomIdMachine, NoVerdictCases) {
    UINT16 rs = 0x5555;
    for (const char* answer : {"romid_answer=0", "romid_answer=1", "romid_answer=7", "romid_answer=2"}) {
        Flash({answer});
        EXPECT_EQ(ZOKT_RomID_Check(rom.data(), 0x1000, rs), 0) << answer;
        EXPECT_EQ(Zokt().size(), 1u) << answer;
    }
    // A piece past the end of the file, or one the interface buffer cannot
    // carry behind the request, cannot be shown to match; nothing is sent.
    const std::vector<std::string> outside[] = {{"romid_offset=0x10FF0", "romid_size=0x11"},
                                                {"romid_offset=0xFFFFFFFF", "romid_size=0x10"},
                                                {"romid_offset=0", "romid_size=0xFFFFFFFF"},
                                                {"romid_offset=0", "romid_size=0x10FD9"}};
    std::vector<UINT8> big(0x11000, 0x5A);
    for (std::vector<std::string> sets : outside) {
        sets.push_back("romid_answer=3");
        Flash(sets);
        EXPECT_EQ(ZOKT_RomID_Check(big.data(), 0x11000, rs), ZOKT_ROMID_PIECE_UNAVAILABLE) << sets[0] << sets[1];
        EXPECT_EQ(Zokt().size(), 1u) << sets[0] << sets[1];
    }
    Flash({"romid_answer=3", "romid_offset=0", "romid_size=0x7D9"});
    EXPECT_EQ(ZOKT_RomID_Check(rom.data(), 0x1000, rs), 1) << "a piece larger than the query block";
    EXPECT_EQ(rs, 0x0001);
    Flash({"romid_answer=3", "romid_offset=0", "romid_size=0"});
    EXPECT_EQ(ZOKT_RomID_Check(rom.data(), 0x1000, rs), 1) << "an empty piece";
    EXPECT_EQ(rs, 0x0001);
    // Without a known version nothing is sent, not even the handshake.
    Flash({"romid_answer=3"});
    g_ZoktVer = 0;
    EXPECT_EQ(ZOKT_RomID_Check(rom.data(), 0x1000, rs), 0);
    EXPECT_TRUE(Zokt().empty());
    EXPECT_EQ(rs, 0x0001) << "left alone without a verdict";
}

}  // namespace
