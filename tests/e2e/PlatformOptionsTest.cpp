// Platform and firmware options end to end: the options the firmware names
// in manufacturing mode (TDR delay, SMI delays, OEM SMI), the DSDT probe of
// the platform mode, the firmware family check, and restart or power-off
// after a successful run.
#include <algorithm>
#include "E2eHarness.h"
#include "SampleUpdate.h"
#include "UsageListing.h"

using namespace e2e;

namespace {

const char kMfgTable[] =
    "mfg_table=2|/tdrdelay|T;3|/tdrdelay:|T;4|/smidelay:|S;5|/smibkdelay:|B;15|/oemsmi:|O";
const char kTdrNote[] = " -Tdrdelay command only support windows platfrom.\n";
const char kWrongFamily[] = "34 - Error: Using the wrong YOZ version, Please use Orvex 4 YOZ.\n";

class PlatformOptions : public E2eWidth {
protected:
    Machine Make(const std::vector<std::string>& sets) { return MakeMachine(Filled(0x40000, 0xFF), "4x64K:main", sets); }
    // "/O" into a file with quiet mode: a successful run that prints nothing
    // after the modules before quiet have executed.
    RunResult Save(const Machine& m, std::vector<std::string> words) {
        words.insert(words.begin(), {m.File("save.bin"), "/O", "/Q"});
        return RunProgram(Width(), m, words);
    }
    // Usage of a parse error before the usage head has printed the banner.
    std::string EarlyError(const char* line) { return UsageListing(Width(), kModeNormal, false, false) + line; }
};

size_t CountOf(const std::vector<std::string>& lines, const std::string& text) {
    return std::count_if(lines.begin(), lines.end(), [&](const std::string& l) { return l.find(text) != std::string::npos; });
}

TEST_P(PlatformOptions, FirmwareNamedOptionsTakeTheirValues) {
    Machine m = Make({"mfg=1", kMfgTable, "trace_delays=1"});
    RunResult r = Save(m, {"/smidelay:5", "/OEMSMI:1fF", "/TDRDELAY", "/oemsmi:10", "/smibkdelay:3"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, PlainBanner() + kTdrNote + " SMI Delay Time : 5\n For Platform SMI Delay Time : 50\n" +
                         " SMI Delay Time Block Cnt: 3\n");
    // Only the last two digits of each word count; the second adds to the first.
    std::vector<std::string> smi = TraceOfKind(m, "smi");
    ASSERT_GE(smi.size(), 5u);
    EXPECT_EQ(CountOf(smi, "smi cmd=0x0f port=0xb2 ebx=0x7e000000 unhandled"), 1u);
    EXPECT_LT(std::find(smi.begin(), smi.end(), "smi cmd=0x0f port=0xb2 ebx=0x7e000000 unhandled") - smi.begin(),
              std::find(smi.begin(), smi.end(), "smi cmd=0x20 port=0xb2 ebx=0x7e000000 status=0x00") - smi.begin());
    // Every flash request after the option's execute (the save's two reads
    // of each block and the close) waits 50 µs instead of the default 100 µs.
    std::vector<std::string> trace = TraceLines(m);
    size_t flashRequests = 0;
    for (size_t i = 1; i < trace.size(); ++i) {
        if (trace[i].rfind("smi cmd=0x21 ", 0) != 0 && trace[i].rfind("smi cmd=0x24 ", 0) != 0) continue;
        ++flashRequests;
        EXPECT_EQ(trace[i - 1], "delay us=0x32") << trace[i];
    }
    EXPECT_EQ(flashRequests, 9u);
    EXPECT_EQ(CountOf(trace, "delay us=0x64"), 0u);

    RunResult n = Save(m, {"/tdrdelay:7"});
    EXPECT_EQ(n.status, 0);
    EXPECT_EQ(n.out, PlainBanner() + kTdrNote);
}

TEST_P(PlatformOptions, BadValuesAndLonelyOptionsFailTheParse) {
    Machine m = Make({"mfg=1", kMfgTable});
    for (const char* word : {"/oemsmi:0x10", "/OEMSMI:1g", "/oemsmi:-"}) {
        RunResult r = Save(m, {word});
        EXPECT_EQ(r.status, 0x98) << word;
        EXPECT_EQ(r.out, EarlyError("98 - Error: Invalid SMI.\n")) << word;
    }
    // A negative delay or period, or a delay whose microseconds overflow,
    // is refused instead of stalling every SMI for an hour.
    for (const char* word : {"/smidelay:-1", "/smidelay:214748365", "/smibkdelay:-2"}) {
        RunResult r = Save(m, {word});
        EXPECT_EQ(r.status, 1) << word;
        EXPECT_EQ(r.out, EarlyError("1 - Error: Unknown command.\n")) << word;
    }
    for (const char* word : {"/tdrdelay", "/tdrdelay:1", "/smidelay:1", "/smibkdelay:1"}) {
        RunResult r = RunProgram(Width(), m, {word});
        EXPECT_EQ(r.status, 1) << word;
        EXPECT_EQ(r.out, EarlyError("1 - Error: Unknown command.\n")) << word;
    }
    RunResult largest = Save(m, {"/smidelay:214748364"});
    EXPECT_EQ(largest.status, 0);
    EXPECT_EQ(largest.out, PlainBanner() + " SMI Delay Time : 214748364\n For Platform SMI Delay Time : 2147483640\n");
}

TEST_P(PlatformOptions, WithoutTheFirmwaresWordsTheOptionsDoNotExist) {
    // Outside manufacturing mode, and when the firmware's word does not have
    // the length of the option text.
    Machine plain = Make({});
    Machine shortWords = Make({"mfg=1", "mfg_table=4|/smidly:|S;3|/tdr:|T"});
    for (const Machine* m : {&plain, &shortWords}) {
        for (const char* word : {"/smidelay:5", "/tdrdelay:5", "/tdrdelay", "/oemsmi:10", "/smibkdelay:2"}) {
            RunResult r = RunProgram(Width(), *m, {"/Q", word});
            EXPECT_EQ(r.status, 1) << word;
            EXPECT_EQ(r.out, UnknownWordListing(Width(), word)) << word;
        }
    }
}

TEST_P(PlatformOptions, DsdtNamesChooseThePlatformMode) {
    const std::string border = "+---------------------------------------------------------------------------+\n";
    const std::string title = "|            Yoz Manufacturing Flash Utility (Linux) v5.09.04.1503          |\n";
    const std::string notice = "|        Keep the machine powered on until the update has finished.         |\n" + border;
    const struct {
        const char* set;
        std::string banner;
    } cases[] = {
        {"dsdt_hex=4d4c415001", border + title + "|                        APL FaultTolerance Mode                            |\n" + notice},
        {"dsdt_hex=4d4c415000", border + title + "|                             APL Normal Mode                               |\n" + notice},
        {"dsdt_hex=4d4c415002", PlainBanner()},
        // The name ends the table: no value byte behind it.
        {"dsdt_text=xMLAP", PlainBanner()},
    };
    for (const auto& c : cases) {
        RunResult r = Save(Make({c.set}), {});
        EXPECT_EQ(r.status, 0) << c.set;
        EXPECT_EQ(r.out, c.banner) << c.set;
    }

    // "BIMC": 2+2 mode, announced when the probe's module executes.
    romimg::SampleUpdate u = romimg::MakeSampleUpdate();
    Machine m = MakeMachine(std::string(u.system.bytes.begin(), u.system.bytes.end()),
                            romimg::BlockSpec(romimg::SampleBlocks()), {"dsdt_text=..BIMC.."});
    romimg::WriteBytes(m.File("new.rom"), u.image.bytes);
    RunResult r = RunProgram(Width(), m, {"new.rom", "/P"});
    EXPECT_EQ(r.status, 0);
    const std::string head = border + title + "|                              2+2 Mode                                     |\n" +
                             notice + " 2X2 Mode Enable.\n";
    EXPECT_EQ(r.out.compare(0, head.size(), head), 0) << r.out;
}

TEST_P(PlatformOptions, FirmwareFamilyMustBeFiveByTableOrByTheFirmwaresWord) {
    const struct {
        std::vector<std::string> sets;
        bool accepted;
    } cases[] = {
        {{"fidt_version=05", "bpt_v=0"}, true},
        {{"fidt_version=04", "bpt_v=1"}, true},
        {{"fidt_version=04", "bpt_v=0"}, false},
        {{"fidt_version=03", "bpt_v=0"}, false},
        {{"fidt_length=0", "bpt_v=1"}, true},
        {{"fidt_length=0", "bpt_v=0"}, false},
        // The table through physical memory when the kernel has no copy.
        {{"acpi_sysfs=0", "fidt_version=04", "bpt_v=0"}, false},
        // A table too short for the version field names no version, even
        // though "05" lies right behind it.
        {{"fidt_length=0x45", "bpt_v=0"}, false},
        {{"fidt_length=0x45", "bpt_v=1"}, true},
    };
    for (const auto& c : cases) {
        Machine m = Make(c.sets);
        RunResult r = Save(m, {});
        EXPECT_EQ(r.status, c.accepted ? 0 : 0x34) << c.sets[0] << " " << c.sets[1];
        EXPECT_EQ(r.out, PlainBanner() + (c.accepted ? "" : kWrongFamily)) << c.sets[0] << " " << c.sets[1];
        if (!c.accepted) {
            EXPECT_EQ(Save(m, {"/dpc"}).status, 0) << "/dpc skips the check";
        }
    }
}

TEST_P(PlatformOptions, RebootAndShutdownFollowASuccessfulRun) {
    romimg::SampleUpdate u = romimg::MakeSampleUpdate();
    auto sample = [&](const std::vector<std::string>& sets) {
        Machine m = MakeMachine(std::string(u.system.bytes.begin(), u.system.bytes.end()),
                                romimg::BlockSpec(romimg::SampleBlocks()), sets);
        romimg::WriteBytes(m.File("new.rom"), u.image.bytes);
        return m;
    };
    // After the flash is closed: the restart or the power-off.
    for (const char* word : {"/shutdown", "/REBOOT"}) {
        Machine m = sample({});
        RunResult r = RunProgram(Width(), m, {"new.rom", word, "/Q"});
        EXPECT_EQ(r.status, 0) << word;
        EXPECT_EQ(r.out, PlainBanner()) << word;
        std::vector<std::string> trace = TraceLines(m);
        ASSERT_GE(trace.size(), 2u);
        EXPECT_EQ(std::vector<std::string>(trace.end() - 2, trace.end()),
                  (std::vector<std::string>{"smi cmd=0x24 port=0xb2 ebx=0x7e000000",
                                            word[1] == 's' ? "shell \"shutdown -h now\"" : "shell \"shutdown -r now\""}))
            << word;
    }
    // Both: which one wins would be a race on a real machine, so the run is
    // refused before any flash request, naming both.
    Machine both = sample({});
    RunResult r = RunProgram(Width(), both, {"new.rom", "/shutdown", "/Q", "/REBOOT"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, UsageListing(Width()) + "\"/REBOOT\" and \"/SHUTDOWN\" cannot be given together: a run ends with "
                                             "one restart, power-off or reset.\n1 - Error: Unknown command.\n");
    EXPECT_TRUE(TraceOfKind(both, "shell").empty());
    for (const char* request : {"cmd=0x21", "cmd=0x22", "cmd=0x23"}) EXPECT_EQ(CountOf(TraceLines(both), request), 0u);

    // A restart the shell cannot start is an error, not a success.
    Machine refused = sample({"shutdown_status=1"});
    RunResult f = RunProgram(Width(), refused, {"new.rom", "/REBOOT"});
    EXPECT_EQ(f.status, 0x91);
    const std::string tail = "91 - Error: Error to restart...\n";
    EXPECT_EQ(f.out.substr(f.out.size() - std::min(f.out.size(), tail.size())), tail);

    // A failed run ends before the end hooks; the option alone is an error.
    Machine failing = sample({"fidt_length=0", "bpt_v=0"});
    EXPECT_EQ(RunProgram(Width(), failing, {"new.rom", "/REBOOT"}).status, 0x34);
    EXPECT_TRUE(TraceOfKind(failing, "shell").empty());
    RunResult alone = RunProgram(Width(), failing, {"/Shutdown"});
    EXPECT_EQ(alone.status, 1);
    EXPECT_EQ(alone.out, UsageListing(Width()) + "1 - Error: Unknown command.\n");
}

YOZ_E2E_BOTH_WIDTHS(PlatformOptions);

}  // namespace
