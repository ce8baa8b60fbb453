// Platform start-up end to end: I/O privilege, the firmware memory hole, the
// WSMT mailbox, the memory manager, SMI port discovery and the NMI watchdog.
#include "E2eHarness.h"
#include <cstdio>
#include <unistd.h>

#ifndef YOZ_FLASHDRV64
#define YOZ_FLASHDRV64 ""
#define YOZ_FLASHDRV32 ""
#endif

using namespace e2e;

namespace {

class PlatformStartup : public E2eWidth {};

const char kHoleSmi[] = "smi cmd=0x7f port=0xb2 ebx=0x00000000 hole=0x7e000000";
const char kMailBoxTry1[] = "smi cmd=0xd9 port=0xb2 ebx=0x00000000 ecx=0xc0000001 edi=0x0 esi=0x11000";
const char kMailBoxTry2[] = "smi cmd=0xd9 port=0xb2 ebx=0x00000000 ecx=0xc0000001 edi=0x1 esi=0x11000";
const char kDriverLoadError[] = "10 - Error: Unable to load driver.\n";
// Without a hole the kernel driver is built first; these machines have no kernel tree.
const char kNoKernelTree[] = "Error: Cannot locate kernel source.\n";

Machine Make(const std::vector<std::string>& sets = {}) {
    return MakeMachine(Filled(0x40000, 0xFF), "4x64K:main", sets);
}

// Runs the program's start-up and the BIOS-information module's execute
// function (the open, ROM information and close requests) in the machine.
RunResult RunWithFlashRequests(int width, const Machine& m) {
    return RunTestBuild(width, YOZ_FLASHDRV64, YOZ_FLASHDRV32, m, {"exec"});
}

bool StartsWith(const std::string& s, const std::string& prefix) { return s.compare(0, prefix.size(), prefix) == 0; }

std::string PhysBytes(const Machine& m, long address, size_t size) {
    std::string mem;
    FILE* f = fopen(m.Root("/dev/mem").c_str(), "rb");
    if (f == nullptr) return mem;
    mem.resize(size);
    if (fseek(f, address, SEEK_SET) != 0 || fread(&mem[0], 1, size, f) != size) mem.clear();
    fclose(f);
    return mem;
}

void PutPhys(const Machine& m, long address, const std::string& bytes) {
    FILE* f = fopen(m.Root("/dev/mem").c_str(), "r+b");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(fseek(f, address, SEEK_SET), 0);
    ASSERT_EQ(fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
    fclose(f);
}

// Nothing of the kernel driver is touched: no node, no request, no shell.
void ExpectNoDriver(const Machine& m) {
    EXPECT_TRUE(TraceOfKind(m, "mknod").empty());
    EXPECT_TRUE(TraceOfKind(m, "ioctl").empty());
    for (const auto& l : TraceOfKind(m, "shell")) {
        EXPECT_EQ(l.find("insmod"), std::string::npos) << l;
        EXPECT_EQ(l.find("make"), std::string::npos) << l;
    }
}

TEST_P(PlatformStartup, MemoryHoleGrantedServesThePoolWithoutDriver) {
    Machine m = Make();
    RunResult r = RunProgram(Width(), m, {});
    EXPECT_EQ(r.status, 0) << r.out;
    std::vector<std::string> smi = TraceOfKind(m, "smi");
    ASSERT_GE(smi.size(), 3u);
    EXPECT_EQ(smi[0], kHoleSmi);
    // No mailbox on this machine: both tries go unanswered.
    EXPECT_EQ(smi[1], kMailBoxTry1);
    EXPECT_EQ(smi[2], kMailBoxTry2);
    for (size_t i = 3; i < smi.size(); ++i) {
        EXPECT_NE(smi[i].find(" ebx=0x7e000000"), std::string::npos) << smi[i];
    }
    EXPECT_EQ(TraceLines(m)[0], kHoleSmi) << "the hole is the first request of the run";
    ExpectNoDriver(m);
}

TEST_P(PlatformStartup, EveryLaterSmiCarriesTheHoleAsInterfaceBuffer) {
    Machine m = Make();
    RunResult r = RunWithFlashRequests(Width(), m);
    EXPECT_EQ(r.status, 0) << r.out;
    std::vector<std::string> smi = TraceOfKind(m, "smi");
    ASSERT_GE(smi.size(), 6u) << "open, ROM information and close follow the start-up requests";
    EXPECT_EQ(smi[0], kHoleSmi);
    EXPECT_EQ(smi[1], kMailBoxTry1);
    EXPECT_EQ(smi[2], kMailBoxTry2);
    for (size_t i = 3; i < smi.size(); ++i) {
        EXPECT_TRUE(StartsWith(smi[i], "smi cmd=0x2")) << smi[i];
        EXPECT_NE(smi[i].find(" port=0xb2 ebx=0x7e000000"), std::string::npos) << smi[i];
    }
    ExpectNoDriver(m);
}

TEST_P(PlatformStartup, UnalignedHoleAddressStillGivesThePool) {
    Machine m = Make({"mem_hole_addr=0x7e000830"});
    RunResult r = RunProgram(Width(), m, {});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out.find("Error"), std::string::npos) << r.out;
}

TEST_P(PlatformStartup, NoHoleAndNoDriverEndsWithDriverLoadError) {
    Machine m = Make({"mem_hole=0", "nmi_watchdog=1"});
    RunResult r = RunProgram(Width(), m, {"/x"});
    EXPECT_EQ(r.status, 0x10);
    EXPECT_EQ(r.out, std::string(kNoKernelTree) + kDriverLoadError);
    EXPECT_EQ(ReadFile(m.Root("/proc/sys/kernel/nmi_watchdog")), "1\n");
    for (const std::string& line : TraceOfKind(m, "shell")) {
        EXPECT_EQ(line.find("nmi_watchdog"), std::string::npos) << "the watchdog is left alone: " << line;
    }
    EXPECT_EQ(TraceOfKind(m, "smi")[0], "smi cmd=0x7f port=0xb2 ebx=0x00000000 hole=none");
}

TEST_P(PlatformStartup, HoleWithoutDevMemEndsWithMemoryManagerError) {
    Machine m = Make({"nmi_watchdog=1"});
    ASSERT_EQ(unlink(m.Root("/dev/mem").c_str()), 0);
    RunResult r = RunProgram(Width(), m, {"/x"});
    EXPECT_EQ(r.status, 0x20);
    EXPECT_EQ(r.out, "20 - Error: Unable to initialize memory manager.\n");
    EXPECT_EQ(TraceOfKind(m, "smi")[0], kHoleSmi);
    EXPECT_TRUE(TraceOfKind(m, "shell").empty());
    EXPECT_EQ(ReadFile(m.Root("/proc/sys/kernel/nmi_watchdog")), "1\n");
}

TEST_P(PlatformStartup, FailedIoPrivilegeEndsBeforeAnyPortInstruction) {
    Machine m = Make({"iopl_fails=1", "nmi_watchdog=1"});
    RunResult r = RunProgram(Width(), m, {"/x"});
    EXPECT_EQ(r.status, 0x10);
    EXPECT_EQ(r.out, kDriverLoadError);
    std::vector<std::string> trace = TraceLines(m);
    ASSERT_FALSE(trace.empty());
    EXPECT_EQ(trace[0], "iopl level=0x3 result=fail");
    EXPECT_TRUE(TraceOfKind(m, "smi").empty());
    EXPECT_TRUE(TraceOfKind(m, "port").empty());
    EXPECT_TRUE(TraceOfKind(m, "shell").empty());
}

TEST_P(PlatformStartup, MailBoxGrantedOnTryTwoServesThePool) {
    Machine m = Make({"mailbox=try2"});
    RunResult r = RunWithFlashRequests(Width(), m);
    EXPECT_EQ(r.status, 0) << r.out;
    std::vector<std::string> smi = TraceOfKind(m, "smi");
    ASSERT_GE(smi.size(), 6u);
    EXPECT_EQ(smi[0], kHoleSmi);
    EXPECT_EQ(smi[1], std::string(kMailBoxTry1) + " mailbox=refused");
    EXPECT_EQ(smi[2], std::string(kMailBoxTry2) + " mailbox=granted");
    // Every later SMI on the mailbox's port finds the guarded word restored
    // and carries the mailbox buffer as the interface buffer.
    for (size_t i = 3; i < smi.size(); ++i) {
        EXPECT_TRUE(StartsWith(smi[i], "smi cmd=0x2")) << smi[i];
        EXPECT_NE(smi[i].find(" port=0xb2 ebx=0x7e101000 mbox20=0x5a5a0001"), std::string::npos) << smi[i];
    }
    // The live mailbox was zeroed when taken; only the guarded word may have
    // been written since (by the program's restore and the firmware's change).
    std::string box = PhysBytes(m, 0x7e100000, 24);
    ASSERT_EQ(box.size(), 24u);
    EXPECT_EQ(box.substr(0, 20), std::string(20, '\0'));
    EXPECT_EQ(box.substr(20, 4), std::string("\xfe\xff\xa5\xa5", 4)) << "the firmware changed it after the last SMI";
    ExpectNoDriver(m);
}

TEST_P(PlatformStartup, MailBoxWhoseBufferCannotServeIsGivenBackAndTheHoleServes) {
    // A buffer at 0 (the real-mode vector table), or not wholly below 4 GiB,
    // counts as a refusal.
    const std::string vectors = "\x11\x22\x33\x44\x55\x66\x77\x88";
    for (const char* address : {"0", "0x100000000", "0xffff8000"}) {
        SCOPED_TRACE(address);
        Machine m = Make({"mailbox=try1", std::string("mailbox_buffer_addr=") + address});
        PutPhys(m, 0, vectors);
        RunResult r = RunWithFlashRequests(Width(), m);
        EXPECT_EQ(r.status, 0) << r.out;
        std::vector<std::string> smi = TraceOfKind(m, "smi");
        ASSERT_GE(smi.size(), 6u);
        EXPECT_EQ(smi[1], std::string(kMailBoxTry1) + " mailbox=granted");
        EXPECT_NE(smi[2].find("cmd=0xd9 "), std::string::npos) << smi[2];
        EXPECT_NE(smi[2].find(" ecx=0xc0000002 "), std::string::npos) << smi[2];
        EXPECT_NE(smi[2].find(" mailbox=released"), std::string::npos) << smi[2];
        for (size_t i = 3; i < smi.size(); ++i) {
            EXPECT_NE(smi[i].find(" port=0xb2 ebx=0x7e000000"), std::string::npos) << smi[i];
        }
        EXPECT_EQ(PhysBytes(m, 0, vectors.size()), vectors);
    }
}

TEST_P(PlatformStartup, FirstAsfRecordNamesThePortOfEveryRequest) {
    // No port in the FADT; "$ASF" at 0xF8000 names 0xB0 and a second record
    // further up another port: both searches take the first.
    Machine m = Make({"fadt_smi_cmd=0", "asf_port=0xb0"});
    std::string second = "$ASF" + std::string("\x10", 1) + std::string(7, '\0') + std::string("\xb4\x00", 2);
    PutPhys(m, 0xf9000, second);
    RunResult r = RunWithFlashRequests(Width(), m);
    EXPECT_EQ(r.status, 0) << r.out;
    std::vector<std::string> smi = TraceOfKind(m, "smi");
    ASSERT_GE(smi.size(), 4u);
    EXPECT_EQ(smi[0], "smi cmd=0x7f port=0xb0 ebx=0x00000000 hole=0x7e000000");
    for (const auto& l : smi) EXPECT_NE(l.find(" port=0xb0 "), std::string::npos) << l;
    for (const auto& l : TraceOfKind(m, "port")) EXPECT_EQ(l.find("out=0xb4"), std::string::npos) << l;
}

TEST_P(PlatformStartup, SmiPortComesFromFadtAsfOrLegacy) {
    {
        Machine m = Make({"smi_port=0x52"});
        EXPECT_EQ(RunWithFlashRequests(Width(), m).status, 0);
        std::vector<std::string> smi = TraceOfKind(m, "smi");
        ASSERT_GE(smi.size(), 6u);
        for (const auto& l : smi) EXPECT_NE(l.find(" port=0x52 "), std::string::npos) << l;
    }
    {
        // A FADT without port; "$ASF" names 0xB0.
        Machine m = Make({"fadt_smi_cmd=0", "asf_port=0xb0"});
        EXPECT_EQ(RunWithFlashRequests(Width(), m).status, 0);
        std::vector<std::string> smi = TraceOfKind(m, "smi");
        ASSERT_GE(smi.size(), 4u);
        EXPECT_EQ(smi[0], "smi cmd=0x7f port=0xb0 ebx=0x00000000 hole=0x7e000000")
            << "no ACPI port: no mailbox request";
        for (const auto& l : smi) EXPECT_NE(l.find(" port=0xb0 "), std::string::npos) << l;
    }
    {
        // No ACPI and no "$ASF": the legacy port 0xB2.
        Machine m = Make({"acpi=0"});
        EXPECT_EQ(RunProgram(Width(), m, {}).status, 0);
        std::vector<std::string> smi = TraceOfKind(m, "smi");
        // (A pager pause of the usage adds the key dialogue's requests after these.)
        ASSERT_GE(smi.size(), 3u);
        EXPECT_EQ(smi[0], kHoleSmi);
        EXPECT_NE(smi[1].find("cmd=0x26 port=0xb2 ebx=0x7e000000 zokt=0x00 "), std::string::npos)
            << "the configuration module's version handshake at registration: " << smi[1];
        EXPECT_NE(smi[2].find("cmd=0x26 port=0xb2 ebx=0x7e000000 zokt=0x71 "), std::string::npos)
            << "the manufacturing switch asks for its words at registration: " << smi[2];
    }
}

TEST_P(PlatformStartup, FadtFoundThroughSystabAndInPhysicalMemory) {
    {
        // RSDP outside the BIOS area, named only by systab; no kernel copies;
        // an ACPI 6 FADT of 276 bytes.
        Machine m = Make({"smi_port=0x52", "acpi_rsdp_in_bios=0", "efi_systab=1", "acpi_sysfs=0", "fadt_length=276"});
        EXPECT_EQ(RunProgram(Width(), m, {}).status, 0);
        std::vector<std::string> smi = TraceOfKind(m, "smi");
        ASSERT_GE(smi.size(), 4u);
        EXPECT_EQ(smi[0], "smi cmd=0x7f port=0x52 ebx=0x00000000 hole=0x7e000000");
        EXPECT_NE(smi[1].find("cmd=0xd9 port=0x52 "), std::string::npos) << smi[1];
        EXPECT_NE(smi[3].find("cmd=0x26 port=0x52 "), std::string::npos) << smi[3];
    }
    {
        // The same machine without systab: no FADT, so the hole request goes
        // to 0xB2, which raises no SMI here.
        Machine m = Make({"smi_port=0x52", "acpi_rsdp_in_bios=0", "acpi_sysfs=0"});
        RunResult r = RunProgram(Width(), m, {"/x"});
        EXPECT_EQ(r.status, 0x10);
        EXPECT_EQ(r.out, std::string(kNoKernelTree) + kDriverLoadError);
        EXPECT_TRUE(TraceOfKind(m, "smi").empty());
        std::vector<std::string> port = TraceOfKind(m, "port");
        ASSERT_FALSE(port.empty());
        EXPECT_EQ(port[0], "port out=0xb2 value=0x7f");
    }
    {
        // Revision-0 RSDP in the BIOS area, no kernel copies: found by the scan, RSDT only.
        Machine m = Make({"smi_port=0x52", "acpi_rsdp_revision=0", "acpi_sysfs=0"});
        EXPECT_EQ(RunProgram(Width(), m, {}).status, 0);
        std::vector<std::string> smi = TraceOfKind(m, "smi");
        ASSERT_FALSE(smi.empty());
        EXPECT_TRUE(StartsWith(smi[0], "smi cmd=0x7f port=0x52 ")) << smi[0];
    }
}

TEST_P(PlatformStartup, NmiWatchdogIsSwitchedOffForTheRun) {
    {
        Machine m = Make({"nmi_watchdog=1"});
        EXPECT_EQ(RunProgram(Width(), m, {}).status, 0);
        std::vector<std::string> shell = TraceOfKind(m, "shell");
        std::vector<std::string> expected = {"shell \"echo 0 > /proc/sys/kernel/nmi_watchdog\"", "shell \"sync\"",
                                             "shell \"echo 1 > /proc/sys/kernel/nmi_watchdog\"", "shell \"sync\""};
        EXPECT_EQ(shell, expected);
        EXPECT_EQ(ReadFile(m.Root("/proc/sys/kernel/nmi_watchdog")), "1\n");
        // Switched off after the memory manager is up: after the SMIs of start-up.
        std::vector<std::string> trace = TraceLines(m);
        ASSERT_GE(trace.size(), 4u);
        EXPECT_TRUE(StartsWith(trace[3], "shell \"echo 0")) << trace[3];
    }
    {
        Machine m = Make({"nmi_watchdog=0"});
        EXPECT_EQ(RunProgram(Width(), m, {}).status, 0);
        EXPECT_TRUE(TraceOfKind(m, "shell").empty());
        EXPECT_EQ(ReadFile(m.Root("/proc/sys/kernel/nmi_watchdog")), "0\n");
    }
    {
        Machine m = Make({"nmi_watchdog=none"});
        EXPECT_EQ(RunProgram(Width(), m, {}).status, 0);
        EXPECT_TRUE(TraceOfKind(m, "shell").empty());
    }
}

YOZ_E2E_BOTH_WIDTHS(PlatformStartup);

}  // namespace
