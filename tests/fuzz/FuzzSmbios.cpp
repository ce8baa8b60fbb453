// SMBIOS preservation over "BSA_" areas of any contents: the area search in
// the flash copy and in the image, the whole area and the chosen types
// (4- and 9-byte structure headers) saved from the flash copy and put into
// the image. The input:
//   u8 n, n structure types to keep, u16 m, the system's DMI file body of
//   m bytes, then the image's DMI file body.
// Each body becomes the DMI file of a main volume between two other files.
// Checks: an area found lies inside its file's data, a saved copy is the
// area's size, and a restore changes only the image's DMI file, whose data
// checksum still holds, or nothing when it reports 0.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include "FuzzKit.h"
#include "HuxCore.h"
#include "RomModelKit.h"
#include "TKXPhysMem.h"
#include "YozRomFile.h"
#include "YozSmbProc.h"
#include "YozSysRom.h"

namespace {

const uint32_t kFfsHeader = 24;
const size_t kMaxBody = 0x2000;

romimg::Rom WithDmiFile(const uint8_t* body, size_t size) {
    romimg::FileSpec dmi;
    dmi.name = romimg::kDmiFile;
    dmi.body.assign(body, body + size);
    romimg::VolumeSpec main;
    main.length = fuzzkit::kMainLength;
    main.files = {romimg::PlainFile(1, 0x40), dmi, romimg::PlainFile(2, 0x40)};
    romimg::Rom rom(fuzzkit::kFlashSize);
    rom.AddVolume(fuzzkit::kMainAt, main);
    return rom;
}

// The found area lies inside the data of the DMI file.
void CheckArea(const romimg::FileAt& file, uint32_t at, uint32_t length) {
    if (at < file.offset + kFfsHeader || static_cast<uint64_t>(at) + SMB_AREA_HEADER + length > file.offset + file.size) {
        abort();
    }
}

// After a restore: outside the DMI file nothing changed, its data checksum
// holds; a restore that reports 0 changed nothing.
void CheckRestore(UINT8 done, const romimg::Bytes& before, const romimg::Bytes& after, const romimg::FileAt& file) {
    if (!done) {
        if (after != before) abort();
        return;
    }
    if (memcmp(after.data(), before.data(), file.offset) != 0 ||
        memcmp(after.data() + file.offset + file.size, before.data() + file.offset + file.size,
               after.size() - file.offset - file.size) != 0) {
        abort();
    }
    unsigned sum = after[file.offset + 17];
    for (uint32_t i = kFfsHeader; i < file.size; ++i) sum += after[file.offset + i];
    if ((sum & 0xFF) != 0) abort();
}

// Saves from the flash copy with `store`, restores into a copy of the image
// with `restore`.
template <typename Store, typename Restore>
void SaveAndRestore(const romimg::Rom& image, Store store, Restore restore, UINT8 found, uint32_t length) {
    _DMIDATA dmi{nullptr, SMB_DMI_EMPTY, 0, 0};
    UINT8 stored = store(&dmi);
    if (stored != found || (stored && dmi.Size != length + SMB_AREA_HEADER)) abort();
    romimg::Bytes target = image.bytes;
    romkit::UseImage(target);
    UINT8 done = restore(target.data(), &dmi);
    if (done && !stored) abort();
    CheckRestore(done, image.bytes, target, image.File(romimg::kDmiFile));
    SMB_Proc_FreeDmiData(&dmi);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzkit::QuietOutput();
    romkit::SetBlocks(fuzzkit::FlashBlocks());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size < 1u + data[0] + 2) return 0;
    size_t at = 1 + data[0];
    size_t systemSize = data[at] | data[at + 1] << 8;
    at += 2;
    if (systemSize > size - at || systemSize > kMaxBody || size - at - systemSize > kMaxBody) return 0;
    TKXList<UINT8> types;
    for (size_t i = 0; i < data[0]; ++i) types.push_back(data[1 + i]);
    romimg::Rom system = WithDmiFile(data + at, systemSize);
    romimg::Rom image = WithDmiFile(data + at + systemSize, size - at - systemSize);

    romkit::ResetModels();
    romkit::UseFlashCopy(system.bytes);
    UINT8* copy = YOZ_SysRom_GetBuffer();
    YOZ_SysRom_SearchNCB(copy);
    UINT32 systemAt = 0, systemLength = 0, imageAt = 0, imageLength = 0;
    UINT8 found = SMB_Proc_FindArea(copy, 0, &systemAt, &systemLength) == SMB_AREA_FOUND;
    if (found) CheckArea(system.File(romimg::kDmiFile), systemAt, systemLength);
    romimg::Bytes imageBytes = image.bytes;
    romkit::UseImage(imageBytes);
    if (SMB_Proc_FindArea(imageBytes.data(), 1, &imageAt, &imageLength) == SMB_AREA_FOUND) {
        CheckArea(image.File(romimg::kDmiFile), imageAt, imageLength);
    }

    SaveAndRestore(
        image, [&](_DMIDATA* dmi) { return SMB_Proc_StoreDmiData(copy, dmi); }, SMB_Proc_ReStoreDmiData, found,
        systemLength);
    SaveAndRestore(
        image, [&](_DMIDATA* dmi) { return SMBN_Proc_StoreDmiNData(copy, types, dmi); }, SMBN_Proc_ReStoreDmiData,
        found, systemLength);
    types.clear();
    YOZ_RomFile_Var_Release();
    YOZ_SysRom_Var_Release();
    romkit::ResetModels();
    return 0;
}
