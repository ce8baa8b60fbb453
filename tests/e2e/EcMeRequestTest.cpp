// EC and ME requests end to end, both widths: the ZOKT test driver writes an
// EC image in both forms and an ME range through the emulated firmware;
// exact output, exit status, EC ROM, flash and trace.
#include "E2eHarness.h"

#ifndef YOZ_ZOKTDRV64
#define YOZ_ZOKTDRV64 ""
#define YOZ_ZOKTDRV32 ""
#endif

using namespace e2e;

namespace {

const char kBlocks[] = "1x64K:boot,2x64K:main,1x64K:nvram";
const std::string kZokt = "smi cmd=0x26 port=0xb2 ebx=0x7e000000 ";

class EcMeRequests : public E2eWidth {
protected:
    RunResult Drive(const Machine& m, const std::vector<std::string>& calls) {
        return RunTestBuild(Width(), YOZ_ZOKTDRV64, YOZ_ZOKTDRV32, m, calls);
    }
    static Machine Make(const std::vector<std::string>& sets = {}) {
        return MakeMachine(Filled(0x40000, 0xFF), kBlocks, sets);
    }
    static std::vector<std::string> Requests(const Machine& m, const std::string& type) {
        std::vector<std::string> out;
        for (const auto& l : TraceOfKind(m, "smi")) {
            std::string head = kZokt + "zokt=" + type + " ver=0x0210 ";
            if (l.compare(0, head.size(), head) == 0) out.push_back(l.substr(head.size()));
        }
        return out;
    }
    static std::string Pattern(unsigned size) {
        std::string s(size, '\0');
        for (unsigned i = 0; i < size; ++i) s[i] = static_cast<char>(i * 7 + (i >> 9));
        return s;
    }
};

TEST_P(EcMeRequests, EcImageInPagesWithARefusedPage) {
    Machine m = Make({"ec_size_kb=16", "ec_chip_id=0x8a", "ec_refuse=0x1000:1"});
    RunResult r = Drive(m, {"ec:0x8a,0x2801", "battery"});
    EXPECT_EQ(r.out, "ec=0x0\nbattery=1 error=0x0\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(ReadFile(m.File("ec.bin")).substr(0, 0x2801), Pattern(0x2801));
    EXPECT_EQ(ReadFile(m.File("ec.bin")).substr(0x2801), std::string(0x4000 - 0x2801, '\xff'));
    const std::string page = " data=0x7e000400 status=0x0001 rs=0x0001";
    EXPECT_EQ(Requests(m, "0x54"), (std::vector<std::string>{
                                       "sub=0x01 len=0x00000000 chip=0x008a status=0x0001 rs=0x0001",
                                       "sub=0x02 len=0x00001000 pos=0x00000000" + page,
                                       "sub=0x02 len=0x00001000 pos=0x00001000 data=0x7e000400 status=0x0040 rs=0x0001",
                                       "sub=0x40 len=0x00000000 status=0x0001 rs=0x0001",
                                       "sub=0x02 len=0x00001000 pos=0x00000000" + page,
                                       "sub=0x02 len=0x00001000 pos=0x00001000" + page,
                                       "sub=0x02 len=0x00000801 pos=0x00002000" + page,
                                       "sub=0x04 len=0x00000000 status=0x0001 rs=0x0001"}));
    EXPECT_EQ(Requests(m, "0x5b"), std::vector<std::string>{"func=0x01 status=0x01 rs=0x0001"});
}

TEST_P(EcMeRequests, EcxFormAndItsSizeMismatch) {
    Machine m = Make({"ec_size_kb=8", "ec_page_size=0x2000"});
    RunResult r = Drive(m, {"ecx:0x2000"});
    EXPECT_EQ(r.out, "ecx=0x0\n");
    EXPECT_EQ(ReadFile(m.File("ec.bin")), Pattern(0x2000));
    EXPECT_EQ(Requests(m, "0x54").size(), 1u + 1 + 1 + 2 + 2 + 1) << "size, start, erase, 2 writes, 2 verifies, end";

    Machine small = Make({"ec_size_kb=4"});
    RunResult mismatch = Drive(small, {"ecx:0x2000"});
    EXPECT_EQ(mismatch.out, "ecx=0xa3\na3 - Error: Invalid EC ROM file.\n");
    EXPECT_EQ(mismatch.status, 0xA3);
    EXPECT_EQ(Requests(small, "0x54"), std::vector<std::string>{"sub=0x08 len=0x00000000 status=0x0001 rs=0x0001"});
}

TEST_P(EcMeRequests, MeRecordFormsFollowTheVersion) {
    Machine m = Make({"me_runtime_length=0x10000", "me_bios_base=0x10000", "me_bios_length=0x30000"});
    // The version query goes out with the version the handshake agreed, as
    // the ME-region module sends it after the configuration module's handshake.
    RunResult r = Drive(m, {"ver", "meversion", "meinfo", "mestart", "mewrite:0x20000,0x1800", "meread:0x21000,0x800",
                            "meend"});
    unsigned sum = 0;
    for (char c : Pattern(0x1800).substr(0x1000)) sum += static_cast<unsigned char>(c);
    char read[64];
    snprintf(read, sizeof(read), "meread=0x800 sum=0x%x\n", sum);
    EXPECT_EQ(r.out, "ver=0x0210 errout=0 dis=0 text=\"\"\nmeversion=1 error=0x0\nmeinfo runtime=0x0,0x10000 bios=0x10000,0x30000\nmestart=1\nmewrite=0x0\n" +
                         std::string(read) + "meend=1\n");
    EXPECT_EQ(ReadFile(m.File("state/me_update")), "") << "the update ended";
    EXPECT_EQ(ReadFile(m.File("flash.bin")).substr(0x20000, 0x1800), Pattern(0x1800));

    Machine old = Make({"zokt_version=0x020f"});
    RunResult o = Drive(old, {"meinfo", "mestart", "mewrite:0x20000,0x1000"});
    EXPECT_EQ(o.out, "meinfo runtime=0x0,0x0 bios=0x0,0x40000\nmestart=1\nmewrite=0xa1\na1 - Error: BIOS does not support ME Entire Firmware update.\n");
    // The driver ends through the program's shutdown path: its run-end list
    // ends the update that the failed write left open.
    std::vector<std::string> me = TraceOfKind(old, "smi");
    ASSERT_FALSE(me.empty());
    EXPECT_NE(me.back().find("zokt=0x55 ver=0x020f sub=0x05 size=0x0012 done=1"), std::string::npos) << me.back();
    EXPECT_EQ(ReadFile(old.File("state/me_update")), "");
    EXPECT_EQ(ReadFile(old.File("flash.bin")).substr(0x20000, 0x1000), std::string(0x1000, '\xff'));
}

}  // namespace

YOZ_E2E_BOTH_WIDTHS(EcMeRequests);
