// The ZOKT requests end to end: the test driver runs the program's start-up,
// the BIOS-information and secure-flash modules and the ZOKT calls in an
// emulated machine, both widths; exact output, exit status and trace.
#include "E2eHarness.h"
#include "RomImageBuilder.h"

#ifndef YOZ_ZOKTDRV64
#define YOZ_ZOKTDRV64 ""
#define YOZ_ZOKTDRV32 ""
#endif

using namespace e2e;

namespace {

const char kBlocks[] = "1x64K:boot,2x64K:main,1x64K:nvram";
const long long kBuffer = 0x7e000000;  // the machine's memory hole: the interface buffer
const std::string kZokt = "smi cmd=0x26 port=0xb2 ebx=0x7e000000 ";
const std::string kLoading = " Loading capsule to secure memory buffer ... ";

class Zokt : public E2eWidth {
protected:
    RunResult Drive(const Machine& m, const std::vector<std::string>& calls) {
        return RunTestBuild(Width(), YOZ_ZOKTDRV64, YOZ_ZOKTDRV32, m, calls);
    }
    static Machine Make(const std::vector<std::string>& sets = {}) {
        return MakeMachine(Filled(0x40000, 0xFF), kBlocks, sets);
    }
    // The ZOKT requests of the trace, without the common head.
    static std::vector<std::string> Requests(const Machine& m) {
        std::vector<std::string> out;
        for (const auto& l : TraceOfKind(m, "smi")) {
            if (l.compare(0, kZokt.size(), kZokt) == 0) out.push_back(l.substr(kZokt.size()));
        }
        return out;
    }
    static std::string Memory(const Machine& m, long long address, size_t size) {
        std::string mem;
        FILE* f = fopen(m.Root("/dev/mem").c_str(), "rb");
        if (f == nullptr) return mem;
        mem.resize(size);
        if (fseeko(f, static_cast<off_t>(address), SEEK_SET) != 0 || fread(&mem[0], 1, size, f) != size) mem.clear();
        fclose(f);
        return mem;
    }
    static std::string Pattern(unsigned size) {
        std::string s(size, '\0');
        for (unsigned i = 0; i < size; ++i) s[i] = static_cast<char>(i * 7 + (i >> 9));
        return s;
    }
};

TEST_P(Zokt, HandshakeIsByteExactAndRepeatedWithoutSupport) {
    Machine m = Make({"zokt_version=0"});
    RunResult r = Drive(m, {"ver", "ver", "ver"});
    EXPECT_EQ(r.status, 0);
    const std::string none = "ver=0x0000 errout=0 dis=0 text=\"\"\n";
    EXPECT_EQ(r.out, none + none + none);
    EXPECT_EQ(Requests(m), std::vector<std::string>(3, "zokt=0x00 ver=0x0000 answer=none"));
    const unsigned char head[0x1A] = {0x5A, 0x4F, 0x4B, 0x54, 0x00, 0x00, 0x1A, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                                      0x00, 0x12, 0x00, 0x04, 0x00, 0x00, 0x01, 0x00, 0x00, 0xAA, 0x55, 0xFF, 0xFF};
    EXPECT_EQ(Memory(m, kBuffer, 0x400),
              std::string(reinterpret_cast<const char*>(head), 0x1A) + std::string(0x400 - 0x1A, '\0'));
}

TEST_P(Zokt, GreetingIsKeptWithTheVersion) {
    Machine m = Make({"zokt_greeting=Hello firmware"});
    RunResult r = Drive(m, {"ver", "ver"});
    EXPECT_EQ(r.status, 0);
    const std::string line = "ver=0x0210 errout=0 dis=1 text=\"Hello firmware\"\n";
    EXPECT_EQ(r.out, line + line);
    EXPECT_EQ(Requests(m), std::vector<std::string>{"zokt=0x00 ver=0x0000 rs=0x0011"});
}

TEST_P(Zokt, ErrorOutLeavesTheVersionUnknown) {
    Machine m = Make({"zokt_greeting=Locked", "zokt_error_out=1"});
    RunResult r = Drive(m, {"check", "ver"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "check=0xd ver=0x0000\nver=0x0000 errout=1 dis=1 text=\"Locked\"\n");
    EXPECT_EQ(Requests(m), std::vector<std::string>(2, "zokt=0x00 ver=0x0000 rs=0x0019"));
}

TEST_P(Zokt, OemCommandStatusDecidesTheRun) {
    const struct {
        const char* setting;
        const char* out;
        int status;
        const char* answered;
    } cases[] = {
        {"oemcmd_status=1", "oembegin=0x0\noemstart=0x0\n", 0, "0x0001"},
        {"oemcmd_status=4", "oembegin=0xd\nd - Error: BIOS Report Error.\n", 0x0D, "0x0004"},
        {"oemcmd_status=2", "oembegin=0xae\nae - Error: BIOS doesn't support OEMCMD function.\n", 0xAE, "0x0002"},
    };
    for (const auto& c : cases) {
        Machine m = Make({c.setting});
        RunResult r = Drive(m, {"oembegin:0x1234", "oemstart"});
        EXPECT_EQ(r.out, c.out) << c.setting;
        EXPECT_EQ(r.status, c.status) << c.setting;
        std::vector<std::string> expected = {
            "zokt=0x00 ver=0x0000 rs=0x0001",
            std::string("zokt=0x57 ver=0x0210 code=0x0001 value=0x00001234 len=0x00000000 status=") + c.answered +
                " rs=0x0001"};
        if (c.status == 0) {
            expected.push_back("zokt=0x57 ver=0x0210 code=0x0004 value=0x00001234 len=0x00000000 status=0x0001 "
                               "rs=0x0001");
        }
        EXPECT_EQ(Requests(m), expected) << c.setting;
    }
}

TEST_P(Zokt, OemCommandWithoutZoktIsNotSent) {
    Machine m = Make({"zokt_version=0"});
    RunResult r = Drive(m, {"cmdbegin:reflash"});
    EXPECT_EQ(r.out, "cmdbegin=0xae\nae - Error: BIOS doesn't support OEMCMD function.\n");
    EXPECT_EQ(r.status, 0xAE);
    EXPECT_EQ(Requests(m), std::vector<std::string>{"zokt=0x00 ver=0x0000 answer=none"});
}

TEST_P(Zokt, OemTextRequestsCarryTheTextAndShowTheAnswer) {
    Machine m = Make({"oemcmd_text=Done 100%s"});
    RunResult r = Drive(m, {"cmdbegin:ABCDEFGHIJKLMNOPQRST", "cmdend", "cmdafter"});
    EXPECT_EQ(r.out, " - Done 100%s\ncmdbegin=0x0\n - Done 100%s\ncmdend=0x0\ncmdafter=0xd\n"
                     "d - Error: BIOS Report Error.\n");
    EXPECT_EQ(r.status, 0x0D);
    const std::string text = " value=0x00000400 len=0x00000014 text=\"ABCDEFGHIJKLMNOPQRST\" status=0x0001 rs=0x0011";
    EXPECT_EQ(Requests(m), (std::vector<std::string>{"zokt=0x00 ver=0x0000 rs=0x0001",
                                                     "zokt=0x57 ver=0x0210 code=0x0005" + text,
                                                     "zokt=0x57 ver=0x0210 code=0x0008" + text}));
}

TEST_P(Zokt, SecureFlashUploadsOnceAndOpensTheSessionOnce) {
    Machine m = Make({"secure_flash=1", "sf_policy0=0x04", "sf_policy1=0x06"});
    // The handshake first, as the configuration module's registration sends it.
    RunResult r = Drive(m, {"ver", "exec", "policy", "config:4,1,0x11000", "config:2,0,0x11000", "upload:0x11000,1",
                            "session", "upload:0x11000,1", "session", "policy"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "ver=0x0210 errout=0 dis=0 text=\"\"\nexec=0x0 secure=1\npolicy=0x04,0x06\nconfig op=0x04\nconfig op=0x02\n" + kLoading +
                         "0x00000000 (0%) \r" + kLoading + "0x00008800 (50%) \r" + kLoading +
                         "done                \nupload=0x0\nsession=0x0\nupload=0x0\nsession=0x0\npolicy=0x04,0x06\n");
    EXPECT_EQ(Requests(m),
              (std::vector<std::string>{
                  "zokt=0x00 ver=0x0000 rs=0x0001",
                  "zokt=0x70 ver=0x0210 sub=0x04 policy=0x04,0x06 status=0x00 rs=0x0001",
                  "zokt=0x70 ver=0x0210 sub=0x02 addr=0x7e00002d off=0x00000000 len=0x00008800 status=0x00 rs=0x0001",
                  "zokt=0x70 ver=0x0210 sub=0x02 addr=0x7e00002d off=0x00008800 len=0x00008800 status=0x00 rs=0x0001",
                  "zokt=0x70 ver=0x0210 sub=0x08 op=0x02 areas=0x00000003 name=\"\" size=0x00011000 status=0x00 "
                  "rs=0x0001"}))
        << "one policy request per run; the requests carry the version the handshake agreed";
    std::string signedImage = Pattern(0x11000);
    signedImage.replace(0, 16, reinterpret_cast<const char*>(romimg::kCapsuleHeader.b), 16);
    EXPECT_EQ(ReadFile(m.File("state/sf_image.bin")), signedImage);
    const unsigned char session[34] = {0x02, 0x03, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                       0,    0,    0, 0, 0, 0x10, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(ReadFile(m.File("state/sf_session.bin")), std::string(reinterpret_cast<const char*>(session), 34));
}

TEST_P(Zokt, RefusedPieceEndsBeforeTheSession) {
    Machine m = Make({"secure_flash=1", "sf_refuse_offset=0x8800"});
    RunResult r = Drive(m, {"ver", "exec", "name:1,1,RECOVERY.CAP", "upload:0x11001", "session"});
    EXPECT_EQ(r.out, "ver=0x0210 errout=0 dis=0 text=\"\"\nexec=0x0 secure=1\nname op=0x01\n" + kLoading +
                         "0x00000000 (0%) \rupload=0x1d\n1d - Error: Failed to load image into memory.\n");
    EXPECT_EQ(r.status, 0x1D);
    std::vector<std::string> t = Requests(m);
    ASSERT_EQ(t.size(), 4u);
    EXPECT_NE(t[3].find("off=0x00008800 len=0x00008800 status=0x01"), std::string::npos) << t[3];
}

TEST_P(Zokt, RefusedSessionEndsTheRun) {
    Machine m = Make({"secure_flash=1", "sf_session_status=1", "sf_text=Key mismatch"});
    RunResult r = Drive(m, {"ver", "exec", "name:1,0,RECOVERY.CAP", "session"});
    EXPECT_EQ(r.out, "ver=0x0210 errout=0 dis=0 text=\"\"\n - Key mismatch \nexec=0x0 secure=1\nname op=0x01\n - Key mismatch \nsession=0x18\n"
                     "18 - Error: Secure Flash Rom Verify fail.\n");
    EXPECT_EQ(r.status, 0x18);
    std::vector<std::string> t = Requests(m);
    ASSERT_EQ(t.size(), 3u);
    EXPECT_EQ(t[2], "zokt=0x70 ver=0x0210 sub=0x08 op=0x01 areas=0x00000001 name=\"RECOVERY.CAP\" size=0x00000000 "
                    "status=0x01 rs=0x0011");
}

TEST_P(Zokt, RecoverySessionOverAnUnsignedFileIsRefused) {
    const std::string signedFile = std::string(reinterpret_cast<const char*>(romimg::kCapsuleHeader.b), 16) + "image";
    // On the partition, else in the run's directory; a name found nowhere is taken.
    const struct {
        const char* name;
        const char* where;
        std::string data;
        const char* verdict;
    } rows[] = {{"RECOVERY.CAP", "/boot/efi/", "plain image", "status=0x01 refused=unsigned-file"},
                {"plain.rom", "", "plain image", "status=0x01 refused=unsigned-file"},
                {"RECOVERY.CAP", "/boot/efi/", signedFile, "status=0x00"},
                {"elsewhere.cap", nullptr, "", "status=0x00"}};
    for (const auto& row : rows) {
        Machine m = Make({"secure_flash=1"});
        if (row.where != nullptr) WriteFile((row.where[0] ? m.Root(row.where) : m.dir + "/") + row.name, row.data);
        RunResult r = Drive(m, {"ver", "exec", std::string("name:1,0,") + row.name, "session"});
        std::vector<std::string> t = Requests(m);
        ASSERT_EQ(t.size(), 3u) << row.name;
        EXPECT_EQ(t[2], std::string("zokt=0x70 ver=0x0210 sub=0x08 op=0x01 areas=0x00000001 name=\"") + row.name +
                            "\" size=0x00000000 " + row.verdict + " rs=0x0001")
            << row.where;
        EXPECT_EQ(r.status, std::string(row.verdict) == "status=0x00" ? 0 : 0x18) << row.name;
    }
}

TEST_P(Zokt, WithoutSecureFlashThePolicyIsMissing) {
    Machine m = Make();
    RunResult r = Drive(m, {"ver", "exec", "policy"});
    EXPECT_EQ(r.out, "ver=0x0210 errout=0 dis=0 text=\"\"\nexec=0x0 secure=0\npolicy=0x16\n16 - Error: Unable to get Secure Flash policy from BIOS.\n");
    EXPECT_EQ(r.status, 0x16);
    // Asked three times: a lost answer looks the same.
    EXPECT_EQ(Requests(m), (std::vector<std::string>{"zokt=0x00 ver=0x0000 rs=0x0001", "zokt=0x70 ver=0x0210 answer=none",
                                                     "zokt=0x70 ver=0x0210 answer=none",
                                                     "zokt=0x70 ver=0x0210 answer=none"}));
}

YOZ_E2E_BOTH_WIDTHS(Zokt);

}  // namespace
