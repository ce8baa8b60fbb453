// The engineering set end to end: in manufacturing mode the firmware's word
// 6 ("/EGM" on these machines) joined to a sub-command name erases without
// writing, resets the platform at the end, waits around the secure-flash
// session, skips the family check or the SLP carry-over, restarts, or dumps
// what the program knows. Outside manufacturing mode the words do not exist.
#include <algorithm>
#include <functional>
#include <string>
#include <vector>
#include "E2eHarness.h"
#include "FlashLines.h"
#include "SampleMachine.h"
#include "SampleUpdate.h"
#include "UsageListing.h"

using namespace e2e;

namespace {

using romimg::Bytes;

const char kTable[] = "mfg_table=6|/EGM|Engineering set";
const std::string kChecksums = " - FFS checksums ......... ok\n";
const std::string kAskValue = "Please enter a valid value. \"0x4, 0x6, 0xe\"\n";
const std::string kLastClose = "smi cmd=0x24 port=0xb2 ebx=0x7e000000";

std::string Head() { return PlainBanner() + FlashRead() + kChecksums; }
std::string MainErase() { return Pass("Erasing Main Block ..........", romimg::kSampleMain, 12); }
std::string MainPasses() {
    return MainErase() + Pass("Updating Main Block .........", romimg::kSampleMain, 12) +
           Pass("Verifying Main Block ........", romimg::kSampleMain, 12);
}

size_t Count(const std::vector<std::string>& lines, const std::string& needle) {
    return std::count_if(lines.begin(), lines.end(),
                         [&](const std::string& l) { return l.find(needle) != std::string::npos; });
}

// Index of the first line that holds the text; the size when none does.
size_t Find(const std::vector<std::string>& lines, const std::string& needle, size_t from = 0) {
    for (size_t i = from; i < lines.size(); ++i)
        if (lines[i].find(needle) != std::string::npos) return i;
    return lines.size();
}

Bytes Range(const std::string& flash, uint32_t at, uint32_t size) {
    return Bytes(flash.begin() + at, flash.begin() + at + size);
}

class EngineeringSet : public E2eWidth {
protected:
    romimg::SampleUpdate u = romimg::MakeSampleUpdate();
    Machine Make(std::vector<std::string> sets, bool mfg = true) {
        if (mfg) sets.insert(sets.begin(), {"mfg=1", kTable});
        return MakeSampleMachine(u, sets);
    }
};

// The end of the run after the final close: the reset register write, or nothing.
void ExpectResetAtTheEnd(const Machine& m, const char* value) {
    std::vector<std::string> trace = TraceLines(m);
    ASSERT_GE(trace.size(), 2u);
    if (value == nullptr) {
        EXPECT_EQ(Count(trace, "port out=0xcf9"), 0u);
        return;
    }
    EXPECT_EQ(std::vector<std::string>(trace.end() - 2, trace.end()),
              (std::vector<std::string>{kLastClose, std::string("port out=0xcf9 value=") + value}));
}

TEST_P(EngineeringSet, EachSubCommandDoesItsPart) {
    struct Row {
        const char* what;
        std::vector<std::string> words;
        std::vector<std::string> sets;
        int status;
        std::string out;
        std::function<void(const Machine&)> check;
    };
    const std::string restartFailed = "91 - Error: Error to restart...\n";
    const Row rows[] = {
        {"er", {"new.rom", "/EGMer"}, {}, 0, Head() + " EGM Erase Enable.\n" + MainErase(),
         [&](const Machine& m) {
             std::vector<std::string> smi = TraceOfKind(m, "smi");
             EXPECT_EQ(Count(smi, "cmd=0x22"), 12u);
             EXPECT_EQ(Count(smi, "cmd=0x23"), 0u);
             // After the first erase, reads only read each erased block back.
             size_t firstErase = Find(smi, "cmd=0x22");
             EXPECT_EQ(Count(std::vector<std::string>(smi.begin() + firstErase, smi.end()), "cmd=0x21"), 12u);
             std::string flash = ReadFile(m.File("flash.bin"));
             EXPECT_EQ(Range(flash, romimg::kSampleMain, romimg::kSampleMainLength),
                       Bytes(romimg::kSampleMainLength, 0xFF));
             EXPECT_EQ(Range(flash, romimg::kSampleBoot, romimg::kSampleBootLength),
                       Bytes(u.system.bytes.begin() + romimg::kSampleBoot, u.system.bytes.end()));
         }},
        {"er reads an erase that left a byte back and erases again", {"new.rom", "/EGMer"},
         {"flash_faults=erase#3:corrupt"}, 0, Head() + " EGM Erase Enable.\n" + MainErase(),
         [&](const Machine& m) {
             EXPECT_EQ(Count(TraceOfKind(m, "smi"), "cmd=0x22"), 14u) << "the failed try, its repair, the next try";
             EXPECT_EQ(Range(ReadFile(m.File("flash.bin")), romimg::kSampleMain, romimg::kSampleMainLength),
                       Bytes(romimg::kSampleMainLength, 0xFF));
         }},
        {"er fails where a block never reads back blank", {"new.rom", "/EGMer"},
         {"flash_faults=erase@0x20010:corrupt"}, 0x43,
         Head() + " EGM Erase Enable.\n" + MainErase().substr(0, MainErase().find('\r') + 1) +
             "\n43 - Error: Problem erasing flash.\n",
         [&](const Machine& m) {
             EXPECT_EQ(Count(TraceOfKind(m, "smi"), "cmd=0x22"), 10u) << "five tries, each with its repair";
             EXPECT_EQ(Count(TraceOfKind(m, "smi"), "cmd=0x23"), 0u);
         }},
        {"preset:e, prefix in other case", {"new.rom", "/egmPreset:E"}, {}, 0,
         Head() + MainPasses() + "0xE Global Reset.\n",
         [](const Machine& m) { ExpectResetAtTheEnd(m, "0x0e"); }},
        {"preset:4", {"new.rom", "/EGMpreset:4"}, {}, 0, Head() + MainPasses() + "0x4 Soft Reset.\n",
         [](const Machine& m) { ExpectResetAtTheEnd(m, "0x04"); }},
        {"preset:6 after a longer value", {"new.rom", "/EGMpreset:e4", "/EGMpreset:6"}, {}, 0,
         Head() + MainPasses() + "0x6 Hard Reset.\n", [](const Machine& m) { ExpectResetAtTheEnd(m, "0x06"); }},
        {"preset:5", {"new.rom", "/EGMpreset:5"}, {}, 0, Head() + MainPasses() + kAskValue,
         [](const Machine& m) { ExpectResetAtTheEnd(m, nullptr); }},
        {"preset above a byte", {"new.rom", "/EGMpreset:10e"}, {}, 0, Head() + MainPasses() + kAskValue,
         [](const Machine& m) { ExpectResetAtTheEnd(m, nullptr); }},
        // A reset and a restart contradict each other: refused before any flash request.
        {"preset beside reboot", {"new.rom", "/REBOOT", "/EGMpreset:6"}, {}, 1,
         UsageListing(Width()) + "\"/EGMpreset:6\" and \"/REBOOT\" cannot be given together: a run ends with one "
                                 "restart, power-off or reset.\n1 - Error: Unknown command.\n",
         [](const Machine& m) {
             EXPECT_EQ(Count(TraceOfKind(m, "smi"), "cmd=0x21"), 0u);
             EXPECT_TRUE(TraceOfKind(m, "shell").empty());
             EXPECT_TRUE(TraceOfKind(m, "port").empty());
         }},
        {"jvc on the wrong family", {"new.rom", "/EGMjvc"}, {"fidt_version=04", "bpt_v=0"}, 0, Head() + MainPasses(),
         [](const Machine& m) { EXPECT_EQ(Count(TraceOfKind(m, "smi"), "cmd=0x23"), 12u); }},
        {"wrong family without jvc", {"new.rom"}, {"fidt_version=04", "bpt_v=0"}, 0x34,
         PlainBanner() + "34 - Error: Using the wrong YOZ version, Please use Orvex 4 YOZ.\n",
         [](const Machine& m) { EXPECT_EQ(Count(TraceOfKind(m, "smi"), "cmd=0x22"), 0u); }},
        {"s24", {"new.rom", "/EGMs24"}, {}, 0, Head() + MainPasses(),
         [](const Machine& m) {
             std::vector<std::string> trace = TraceLines(m);
             EXPECT_EQ(Count(trace, "shell "), 1u);
             size_t shell = Find(trace, "shell \"shutdown -r now\"");
             ASSERT_LT(shell, trace.size());
             ASSERT_GT(shell, 0u);
             EXPECT_EQ(trace[shell - 1], kLastClose) << "the flash interface is closed first";
         }},
        {"s24 that cannot restart", {"new.rom", "/EGMs24"}, {"shutdown_status=1"}, 0x91,
         Head() + MainPasses() + restartFailed,
         [](const Machine& m) { EXPECT_EQ(Count(TraceLines(m), "shell \"shutdown -r now\""), 1u); }},
        {"s24 restarts after the SMBIOS restore", {"new.rom", "/R", "/N", "/EGMs24"}, {}, 0,
         Head() + Passes("NVRAM", {0, 0x10000}),
         [](const Machine& m) {
             std::vector<std::string> trace = TraceLines(m);
             size_t restore = Find(trace, "fn=0x10 status=0x01");
             ASSERT_LT(restore, trace.size());
             EXPECT_LT(restore, Find(trace, "shell "));
             EXPECT_EQ(trace.back(), "shell \"shutdown -r now\"");
         }},
        {"a prefix of all 16 characters", {"new.rom", "/ZBCDEFGHIJKLMNOer"}, {"mfg_table=6|/ZBCDEFGHIJKLMNO|Eng"}, 0,
         Head() + " EGM Erase Enable.\n" + MainErase(),
         [](const Machine& m) {
             std::vector<std::string> smi = TraceOfKind(m, "smi");
             EXPECT_EQ(Count(smi, "cmd=0x22"), 12u);
             EXPECT_EQ(Count(smi, "cmd=0x23"), 0u);
         }},
        {"words that do nothing", {"/EGMhiyoz", "/EGM2x2", "/EGMwhatever"}, {}, 0, PlainBanner() + FlashRead(),
         [&](const Machine& m) {
             EXPECT_EQ(Count(TraceOfKind(m, "smi"), "cmd=0x22"), 0u);
             EXPECT_EQ(Count(TraceLines(m), "port out=0xcf9") + Count(TraceLines(m), "shell "), 0u);
         }},
        {"/S beside an engineering word prints alone", {"/S", "/EGMwhatever"}, {}, 0,
         PlainBanner() + FlashRead() + " - System ROM ID = PRJ00001\n" +
             " - System ROM GUID = 44332211-6655-8877-99aabbccddeef001\n" +
             " - System ROM Secure Flash = Disable.\n",
         [](const Machine& m) { EXPECT_EQ(Count(TraceOfKind(m, "smi"), "cmd=0x22"), 0u); }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        Machine m = Make(row.sets);
        RunResult r = RunProgram(Width(), m, row.words);
        EXPECT_EQ(r.status, row.status);
        EXPECT_EQ(r.out, row.out);
        row.check(m);
    }
}

TEST_P(EngineeringSet, OutsideManufacturingModeTheWordsAreUnknown) {
    for (const std::vector<std::string>& sets : {std::vector<std::string>{}, std::vector<std::string>{"mfg=1"},
                                                 std::vector<std::string>{"mfg=1", "mfg_table=5|/EGM|x"}}) {
        Machine m = Make(sets, false);
        RunResult r = RunProgram(Width(), m, {"new.rom", "/EGMinfo"});
        EXPECT_EQ(r.status, 1) << sets.size();
        EXPECT_EQ(r.out, UnknownWordListing(Width(), "/EGMinfo")) << sets.size();
        EXPECT_EQ(Count(TraceOfKind(m, "smi"), "cmd=0x22"), 0u);
    }
}

// "meinfo": the firmware's ME region table, the ignition query and, only
// when that reports no support, the full query.
TEST_P(EngineeringSet, MeinfoDumpsTheMeAnswers) {
    const std::string regions = "- [DBG] ME Total Block Count : 0x1\n- [DBG] ME Block Info : \n"
                                "        [0] - Addr : 0x1000, Size : 0x2000, Type : 0x3, Lock : 0x1\n"
                                "             - Cmd : \"/GBE\", Descriotion : \"Gbe region\"\n";
    auto dump = [](const char* status, const char* sub, const char* runtime, const char* bios) {
        return std::string("- Dump ME Info :\n  ReturnStatus     : ") + status + "\n  SubFunction      : " + sub +
               "\n  RuntimeBase      : " + runtime + "\n  RuntimeLength    : 0x00000000\n"
               "  BiosRegionBase   : 0x00000000\n  BiosRegionLength : " + bios + "\n";
    };
    const struct {
        const char* ignition;
        std::string out;
        size_t fullQueries;
    } rows[] = {
        {"me_ignition=1", regions + dump("0x1", "0x0", "0x00005000", "0x00100000"), 0},
        {"me_ignition=0",
         regions + dump("0x0", "0x0", "0x00000000", "0x00000000") + dump("0x1", "0x3", "0x00005000", "0x00100000"), 1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.ignition);
        Machine m = Make({"me_regions=/GBE:Gbe region:0x1000:0x2000:3:1", "me_runtime_base=0x5000", row.ignition});
        RunResult r = RunProgram(Width(), m, {"/EGMmeinfo"});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, PlainBanner() + FlashRead() + row.out);
        // The requests of "meinfo" follow its region-table request, the run's last.
        std::vector<std::string> smi = TraceOfKind(m, "smi");
        size_t table = smi.size();
        for (size_t i = 0; i < smi.size(); ++i)
            if (smi[i].find("zokt=0x55 ver=0x0210 sub=0x09") != std::string::npos) table = i;
        ASSERT_LT(table, smi.size());
        std::vector<std::string> after(smi.begin() + table, smi.end());
        EXPECT_EQ(Count(after, "zokt=0x55 ver=0x0210 sub=0x00"), 1u);
        EXPECT_EQ(Count(after, "zokt=0x55 ver=0x0210 sub=0x03"), row.fullQueries);
    }
}

TEST_P(EngineeringSet, SfmdtWaitsAroundTheSecureFlashSession) {
    const std::string before = "[EGM_SFMDT] Secure Flash SetMethod SMI Before Delay Time:100...\n";
    const std::string after = "[EGM_SFMDT] Secure Flash SetMethod SMI After Delay Time:200...\n";
    const struct {
        const char* word;
        bool waits;
    } rows[] = {
        {"/EGMsfmdt:100:200", true},
        {"/EGMsfmdt:100", false},
        {"/EGMsfmdt:-1:200", false},
        {"/EGMsfmdt:100:429496730", false},
    };
    Bytes capsule = romimg::SignedCapsule(u.image.bytes, 0x400);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.word);
        Machine m = Make({"secure_flash=1", "sf_policy0=0x04", "sf_policy1=0x06", "trace_delays=1"});
        romimg::WriteBytes(m.File("new.cap"), capsule);
        RunResult r = RunProgram(Width(), m, {"new.cap", row.word});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out.find(before) != std::string::npos, row.waits) << r.out;
        EXPECT_EQ(r.out.find(after) != std::string::npos, row.waits);
        std::vector<std::string> trace = TraceLines(m);
        size_t session = Find(trace, "sub=0x08");
        ASSERT_LT(session + 1, trace.size());
        ASSERT_GT(session, 0u);
        EXPECT_EQ(trace[session - 1] == "delay us=0x3e8", row.waits) << trace[session - 1];
        EXPECT_EQ(trace[session + 1] == "delay us=0x7d0", row.waits) << trace[session + 1];
    }
}

TEST_P(EngineeringSet, NpslpWritesTheImagesSlpKey) {
    for (bool npslp : {false, true}) {
        Machine m = Make({});
        std::vector<std::string> words = {"new.rom"};
        if (npslp) words.push_back("/EGMnpslp");
        RunResult r = RunProgram(Width(), m, words);
        EXPECT_EQ(r.status, 0) << npslp;
        EXPECT_EQ(r.out, Head() + MainPasses()) << npslp;
        std::string flash = ReadFile(m.File("flash.bin"));
        const romimg::Rom& from = npslp ? u.image : u.system;
        EXPECT_EQ(Range(flash, u.slpKey.offset, u.slpKey.size),
                  Bytes(from.bytes.begin() + u.slpKey.offset, from.bytes.begin() + u.slpKey.offset + u.slpKey.size))
            << npslp;
        // The ROM holes stay the system's either way.
        EXPECT_EQ(Range(flash, u.hole0.offset, u.hole0.size),
                  Bytes(u.system.bytes.begin() + u.hole0.offset,
                        u.system.bytes.begin() + u.hole0.offset + u.hole0.size));
    }
    // An image without SLP files: a plain run stops before any erase, since
    // the system's key would be lost; "npslp" writes the image as it is
    // (the ROM holes and the OEM activation key still carried).
    u = romimg::MakeSampleUpdate(romimg::ProtectedLayout(),
                                 romimg::ProtectedLayout().Drop(romimg::kSlpKey).Drop(romimg::kSlpMarker));
    Machine refused = Make({});
    RunResult no = RunProgram(Width(), refused, {"new.rom"});
    EXPECT_EQ(no.status, 0x14);
    EXPECT_EQ(no.out, Head() + "14 - Error: Non-critical blocks in ROM image file do not match those in the system.\n");
    EXPECT_EQ(Count(TraceOfKind(refused, "smi"), "cmd=0x22"), 0u);
    Machine m = Make({});
    RunResult r = RunProgram(Width(), m, {"new.rom", "/EGMnpslp"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, Head() + MainPasses());
    Bytes expected = romimg::ImageWithSystemFiles(u, {romimg::RomHoleGuid(0), romimg::RomHoleGuid(1), romimg::kFidFile});
    EXPECT_EQ(Range(ReadFile(m.File("flash.bin")), romimg::kSampleMain, romimg::kSampleMainLength),
              Bytes(expected.begin() + romimg::kSampleMain,
                    expected.begin() + romimg::kSampleMain + romimg::kSampleMainLength));
}

TEST_P(EngineeringSet, InfoDumpsWhatTheProgramKnows) {
    Machine m = Make({});
    RunResult r = RunProgram(Width(), m, {"/EGMinfo"});
    EXPECT_EQ(r.status, 0);
    const std::string rule = "====================================================================\n";
    const std::string head = PlainBanner() + FlashRead() + rule + "Develop Version : 3.09.04.1503\n" + rule +
                             "gSmiPort: 0xb2\n" +
                             "Zokt_Ver = 0x210\n" + "ArgList[0].Argv = ";
    ASSERT_EQ(r.out.compare(0, head.size(), head), 0) << r.out;
    std::string blocks = "ArgList[1].Argv = /EGMinfo\n";
    for (int i = 0; i < 16; ++i) {
        char line[96];
        snprintf(line, sizeof(line), "[%04d]BlockInfo.Type = %02x | StAddr = %08X | BlockSize = 00010000\n", i,
                 i < 2 ? 2 : i < 14 ? 1 : 0, static_cast<unsigned>(i) * 0x10000);
        blocks += line;
    }
    char hole0[128], hole1[128];
    snprintf(hole0, sizeof(hole0), "YOZ_SysRHRECList[0].Size = %X\nYOZ_SysRHRECList[0].RomOffset = %X\n",
             u.hole0.size, u.hole0.offset);
    snprintf(hole1, sizeof(hole1), "YOZ_SysRHRECList[1].Size = %X\nYOZ_SysRHRECList[1].RomOffset = %X\n",
             u.hole1.size, u.hole1.offset);
    const std::string tail = blocks + rule + "System RomHole = 2, RomFile RomHole = 0\n" + rule +
                             "System Rom Hole GUID : 05ca01fc-0fc1-11dc-901100173153eba8\n" +
                             "System Rom Hole Count : L00\n" +
                             hole0 + rule +
                             "System Rom Hole GUID : 05ca01fd-0fc1-11dc-901100173153eba8\n" +
                             "System Rom Hole Count : L01\n" +
                             hole1 + rule + rule;
    size_t at = r.out.find("ArgList[1].Argv");
    ASSERT_NE(at, std::string::npos);
    EXPECT_EQ(r.out.compare(at, tail.size(), tail), 0) << r.out.substr(at);
    std::string end;
    const romimg::FileAt slp[] = {u.slpKey, u.system.File(romimg::kSlpMarker)};
    const char* slpGuid[] = {"996aa1e0-1e8c-4f36-b519a170a206fc14", "69009842-63f2-43db-964befad1c39ec85"};
    for (int i = 0; i < 2; ++i) {
        char record[160];
        snprintf(record, sizeof(record),
                 "System SLP2.0 Rom Hole GUID : %s\nYOZ_SysSLPRHRECList[%d].Size = %X\n"
                 "YOZ_SysSLPRHRECList[%d].RomOffset = %X\n",
                 slpGuid[i], i, slp[i].size, i, slp[i].offset);
        end += rule + record;
    }
    end += rule + "Rom File no any SLP 2.0 Rom Hole.\n" + rule;
    EXPECT_EQ(r.out.substr(r.out.size() - std::min(r.out.size(), end.size())), end);
    EXPECT_EQ(r.out.find(end), at + tail.size()) << "the SLP sections follow the hole sections";
}

// An image with more holes than the lists hold: the count as found, at most
// 16 records; then the file-name default still flashes (and refuses here).
TEST_P(EngineeringSet, InfoListsAtMostTheRecordsTheListsHold) {
    romimg::ProtectedLayout system, image;
    // Holes 2 to 15, then 2 and 3 once more: 18 in all.
    for (uint32_t n = 2; n < 18; ++n) image.AddMain(2, romimg::RomHoleFile(n < 16 ? n : n - 14, 0x10));
    u = romimg::MakeSampleUpdate(system, image);
    Machine m = Make({});
    RunResult r = RunProgram(Width(), m, {"new.rom", "/EGMinfo"});
    EXPECT_NE(r.out.find("System RomHole = 2, RomFile RomHole = 18\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("YOZ_RomFileRHRECList[15].Size"), std::string::npos);
    EXPECT_EQ(r.out.find("YOZ_RomFileRHRECList[16]"), std::string::npos);
    EXPECT_EQ(r.out.find("RomFile Rom Hole Count : L16"), std::string::npos);
    EXPECT_EQ(Count(TraceOfKind(m, "smi"), "cmd=0x22"), 0u) << "a hole past the list cannot be paired";
}

}  // namespace

YOZ_E2E_BOTH_WIDTHS(EngineeringSet);
