// The program's requests as the strict emulated firmware takes them: for
// each rule by which the firmware refuses a request, a run that sends the
// requests the rule checks ends well, every one of them answered and none
// refused. A request sent outside the open flash interface, a ROM
// information request without its sub-function or length, a ZOKT request
// without the agreed version or its presets, a manufacturing record of the
// other width or a secure-flash write of bytes not uploaded fails its row.
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include "E2eHarness.h"
#include "SampleMachine.h"
#include "SampleUpdate.h"

namespace {

using romimg::Bytes;

class StrictFirmware : public E2eWidth {};

TEST_P(StrictFirmware, EveryRequestOfARunIsTakenAsLaidOut) {
    const std::string mfgSize = Width() == 64 ? "size=0x0d" : "size=0x09";
    struct Case {
        const char* rule;
        std::vector<std::string> sets;
        std::vector<std::string> args;
        std::vector<std::string> answered;  // each in one of the run's smi lines
    } cases[] = {
        {"flash requests between the open and the close, ROM information with sub-function and length",
         {},
         {"new.rom", "/P"},
         {"cmd=0x20 port=0xb2 ebx=0x7e000000 status=0x00", "cmd=0x25 port=0xb2 ebx=0x7e000000 info=head16 status=0x00",
          "cmd=0x22 port=0xb2 ebx=0x7e000000 addr=0x00020000 size=0x00010000 status=0x00",
          "cmd=0x23 port=0xb2 ebx=0x7e000000 addr=0x00020000 size=0x00010000 status=0x00", "cmd=0x24"}},
        {"the large form's retry with the length",
         {"flash_info_form=large"},
         {"new.rom", "/N"},
         {"info=large status=0x01", "info=large-retry b4=0x01 status=0x00"}},
        {"the handshake without a version, then the agreed version and the record presets",
         {},
         {"new.rom", "/N", "/CMD:{text}", "/OEMCMD:7", "/CLNEVNLOG"},
         {"zokt=0x00 ver=0x0000 rs=0x0001", "zokt=0x57 ver=0x0210 code=0x0005", "zokt=0x57 ver=0x0210 code=0x0001",
          "zokt=0x58 ver=0x0210"}},
        {"the manufacturing record of the running width",
         {"mfg=1", "mfg_table=7|/DU|Delete trailer"},
         {"new.rom", "/N"},
         {"zokt=0x71 ver=0x0210 " + mfgSize + " mfg=0x01"}},
        {"secure flash writes the uploaded image",
         {"secure_flash=1"},
         {"new.cap", "/P"},
         {"sub=0x08 op=0x04 areas=0x00000002", "cmd=0x23 port=0xb2 ebx=0x7e000000 addr=0x00020000 size=0x00010000 status=0x00"}},
    };
    romimg::SampleUpdate u = romimg::MakeSampleUpdate();
    for (const Case& c : cases) {
        e2e::Machine m = e2e::MakeSampleMachine(u, c.sets);
        romimg::WriteBytes(m.File("new.cap"), romimg::SignedCapsule(u.image.bytes, 0x400));
        e2e::RunResult r = e2e::RunProgram(Width(), m, c.args);
        EXPECT_EQ(r.status, 0) << c.rule << "\n" << r.out;
        std::vector<std::string> smis = e2e::TraceOfKind(m, "smi");
        for (const std::string& line : smis) EXPECT_EQ(line.find("refused="), std::string::npos) << c.rule << ": " << line;
        for (const std::string& want : c.answered) {
            bool found = false;
            for (const std::string& line : smis) found = found || line.find(want) != std::string::npos;
            EXPECT_TRUE(found) << c.rule << ": no request answered with " << want;
        }
    }
}

}  // namespace

YOZ_E2E_BOTH_WIDTHS(StrictFirmware);
