// A region flash must not leave the flash without a firmware ID: when the
// system keeps its only "$FID" in the blocks the run writes and the image
// keeps its own in another region, the run stops before any erase with
// 0x99, unless that other region is written too.
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include "E2eHarness.h"
#include "FlashLines.h"
#include "RomImageBuilder.h"
#include "UsageListing.h"

namespace {

using romimg::Bytes;

// The sample layout with the firmware-ID file in the boot or the main volume.
romimg::Rom Side(bool fidInBoot, uint32_t codeSeed) {
    romimg::SampleSpec spec;
    romimg::FileSpec fid = romimg::FidFile(romimg::FidSpec());
    spec.mainFiles = {romimg::PlainFile(codeSeed, 0x300)};
    if (!fidInBoot) spec.mainFiles.push_back(fid);
    spec.mainFiles.push_back(romimg::PlainFile(codeSeed + 1, 0x120));
    spec.bootFiles = {romimg::PlainFile(codeSeed + 2, 0x80)};
    if (fidInBoot) spec.bootFiles.push_back(fid);
    return romimg::SampleRom(spec);
}

bool HoldsFid(const Bytes& b, uint32_t from, uint32_t size) {
    const std::string s(b.begin() + from, b.begin() + from + size);
    return s.find("$FID") != std::string::npos;
}

class FirmwareIdKept : public E2eWidth {};

TEST_P(FirmwareIdKept, ARunThatWouldRemoveTheOnlyFirmwareIdStopsBeforeAnyErase) {
    struct Row {
        const char* name;
        bool systemInBoot, imageInBoot;
        std::vector<std::string> options;
        int status;
    };
    const Row rows[] = {
        {"/B over the boot $FID, the image's in the main volume", true, false, {"/B"}, 0x99},
        {"the file alone over the main $FID, the image's in the boot block", false, true, {}, 0x99},
        {"/B /P writes the image's $FID as well", true, false, {"/B", "/P"}, 0},
        {"/P leaves the system's boot $FID", true, false, {"/P"}, 0},
        {"both in the main volume", false, false, {}, 0},
    };
    for (const Row& r : rows) {
        romimg::Rom system = Side(r.systemInBoot, 1), image = Side(r.imageInBoot, 21);
        e2e::Machine m = e2e::MakeMachine(std::string(system.bytes.begin(), system.bytes.end()),
                                          romimg::BlockSpec(romimg::SampleBlocks()));
        romimg::WriteBytes(m.File("new.rom"), image.bytes);
        std::vector<std::string> args{"new.rom"};
        args.insert(args.end(), r.options.begin(), r.options.end());
        e2e::RunResult run = e2e::RunProgram(Width(), m, args);
        EXPECT_EQ(run.status, r.status) << r.name << "\n" << run.out;
        std::string f = e2e::ReadFile(m.File("flash.bin"));
        Bytes flash(f.begin(), f.end());
        if (r.status != 0) {
            EXPECT_EQ(run.out, e2e::PlainBanner() + e2e::FlashRead() + " - FFS checksums ......... ok\n" +
                                   "99 - Error: ROM File ID don't exist.\n")
                << r.name;
            EXPECT_TRUE(e2e::TraceOfKind(m, "smi").size() > 0) << r.name;
            for (const std::string& l : e2e::TraceOfKind(m, "smi"))
                EXPECT_EQ(l.find("cmd=0x22"), std::string::npos) << r.name << ": " << l;
            EXPECT_TRUE(flash == system.bytes) << r.name;
        } else {
            EXPECT_TRUE(HoldsFid(flash, romimg::kSampleMain, romimg::kSampleMainLength) ||
                        HoldsFid(flash, romimg::kSampleBoot, romimg::kSampleBootLength))
                << r.name;
            // The flash written is a ROM file the program takes for this machine.
            romimg::WriteBytes(m.File("check.rom"), flash);
            e2e::RunResult verify = e2e::RunProgram(Width(), m, {"check.rom", "/D"});
            EXPECT_EQ(verify.status, 0) << r.name << "\n" << verify.out;
        }
    }
}

}  // namespace

YOZ_E2E_BOTH_WIDTHS(FirmwareIdKept);
