// Secure flash (type 0x70), answered only when the machine has secure_flash=1:
// the policy (sub-function 4), image pieces (2) kept in state/sf_image.bin,
// and the session block (8) kept in state/sf_session.bin. The payload starts
// at 0x1C; its status byte tells the program the outcome.
//
// A session block with no operation or no area is refused, and so is a
// capsule (2) or recovery (1) session after an upload that does not start
// with the signed capsule header, a recovery session that names a file the
// firmware finds unsigned (on the EFI system partition, else in the run's
// directory), and one whose operation the policy does not allow.
//
// The firmware writes only what it verified: a session block with the
// runtime operation (4), accepted after an upload, opens a runtime session
// (state/sf_runtime); from then on every block write (0x23) must carry the
// bytes of the uploaded image, after its capsule header, at the same flash
// address, or it is refused. An upload smaller than the flash part names
// no flash addresses (a file of block data only) and is not compared. A
// policy request or a new upload (a piece at offset 0) ends the session.
// Outside such a session the firmware takes no block erase, and no write
// but one into blank flash (write-once data).
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>
#include "EmuFlashPart.h"
#include "EmuMachine.h"
#include "EmuZokt.h"

namespace {

const UINT32 kPayload = 0x1C;
const UINT32 kPolicyStatus = kPayload + 0x102;
const UINT32 kSessionSize = 34;
const UINT32 kSessionStatus = kPayload + 0x1D;
const UINT8 kRuntimeOperation = 4;
const char kRuntimeState[] = "sf_runtime";
const char kUploadedState[] = "sf_uploaded";

// The signed capsule header in front of an uploaded image: its GUID, and
// the u16 at 0x1C that gives its size.
const UINT8 kCapsuleGuid[16] = {0x8B, 0xA6, 0x3C, 0x4A, 0x23, 0x77, 0xFB, 0x48,
                                0x80, 0x3D, 0x57, 0x8C, 0xC1, 0xFE, 0xC4, 0x4D};
const UINT32 kCapsuleSizeAt = 0x1C;

// Writes data at offset of the state file; offset 0 starts a new file.
bool PutImagePiece(UINT32 offset, const std::vector<UINT8>& data) {
    std::string path = EmuState_File("sf_image.bin");
    FILE* f = fopen(path.c_str(), offset == 0 ? "wb" : "r+b");
    if (f == nullptr) f = fopen(path.c_str(), "w+b");
    if (f == nullptr) return false;
    bool ok = fseek(f, static_cast<long>(offset), SEEK_SET) == 0 &&
              fwrite(data.data(), 1, data.size(), f) == data.size();
    return fclose(f) == 0 && ok;
}

void Policy(EmuZoktRequest& request) {
    EmuState_SetNum(kRuntimeState, 0);
    EmuState_SetNum(kUploadedState, 0);
    UINT8 p0 = static_cast<UINT8>(EmuMachine_GetNum("sf_policy0", 0x07));
    UINT8 p1 = static_cast<UINT8>(EmuMachine_GetNum("sf_policy1", 0x07));
    request.Put8(kPayload, p0);
    request.Put8(kPayload + 1, p1);
    for (UINT32 i = 0; i < 256; ++i) request.Put8(kPayload + 2 + i, static_cast<UINT8>(0xA5 ^ i));
    request.Put8(kPolicyStatus, 0);
    EmuZokt_TraceAdd(request, " sub=0x04 policy=0x%02x,0x%02x status=0x00", p0, p1);
}

void Piece(EmuZoktRequest& request) {
    UINT64 address = request.U64(kPayload);
    UINT32 offset = request.U32(kPayload + 8);
    UINT32 size = request.U32(kPayload + 12);
    EmuZokt_TraceAdd(request, " sub=0x02 addr=0x%08llx off=0x%08x len=0x%08x",
                     static_cast<unsigned long long>(address), offset, size);
    UINT8 status = 1;
    std::vector<UINT8> data(size <= EMU_ZOKT_BUFFER_SIZE ? size : 0);
    bool refused = EmuMachine_Has("sf_refuse_offset") && EmuMachine_GetNum("sf_refuse_offset", 0) == offset;
    if (!refused && size != 0 && size <= EMU_ZOKT_BUFFER_SIZE && EmuPhys_Read(address, data.data(), size) &&
        PutImagePiece(offset, data)) {
        status = 0;
    }
    if (offset == 0) EmuState_SetNum(kRuntimeState, 0);
    if (status == 0) EmuState_SetNum(kUploadedState, 1);
    request.Put8(kPayload + 16, status);
    EmuZokt_TraceAdd(request, " status=0x%02x", status);
}

// The file starts with the signed capsule header.
bool FileIsSigned(const std::string& path) {
    FILE* f = fopen(path.c_str(), "rb");
    if (f == nullptr) return false;
    UINT8 head[sizeof(kCapsuleGuid)];
    bool ok = fread(head, 1, sizeof(head), f) == sizeof(head) && memcmp(head, kCapsuleGuid, sizeof(head)) == 0;
    fclose(f);
    return ok;
}

bool UploadIsSigned() { return FileIsSigned(EmuState_File("sf_image.bin")); }

// The file a recovery session names (the block's 16-byte name field): the
// firmware looks for it on the EFI system partition, then in the directory
// the run was started from, where the operator's file lies. False when the
// name is no plain file name or no such file is found: the firmware looks
// for it again when it recovers.
bool FindRecoveryFile(const UINT8* nameField, std::string& path) {
    std::string name(reinterpret_cast<const char*>(nameField), strnlen(reinterpret_cast<const char*>(nameField), 16));
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos) return false;
    for (const std::string& candidate : {EmuMachine_Root("/boot/efi") + "/" + name, name}) {
        FILE* f = fopen(candidate.c_str(), "rb");
        if (f == nullptr) continue;
        fclose(f);
        path = candidate;
        return true;
    }
    return false;
}

// The policy allows the session's operation: capsule (2) and recovery (1)
// by their bit in policy byte 1; the runtime operation (4) by its bit in
// policy byte 1 for the boot block (area 0) and in byte 0 for the main
// block, NVRAM and EC (areas 1-3).
bool PolicyAllows(UINT8 operation, UINT32 areas) {
    UINT8 p0 = static_cast<UINT8>(EmuMachine_GetNum("sf_policy0", 0x07));
    UINT8 p1 = static_cast<UINT8>(EmuMachine_GetNum("sf_policy1", 0x07));
    if (operation != kRuntimeOperation) return (p1 & operation) != 0;
    if ((areas & 0x1) != 0 && (p1 & operation) == 0) return false;
    return (areas & 0xE) == 0 || (p0 & operation) != 0;
}

// What the firmware refuses in a session block, or null: no operation or
// no area, a capsule or recovery session over an upload that is no signed
// capsule (the firmware checks the header before it takes it), a recovery
// session that names a file found unsigned, and an operation the policy
// does not allow.
const char* SessionRefusal(const UINT8* block, UINT32 areas) {
    UINT8 operation = block[0];
    if (operation != 1 && operation != 2 && operation != kRuntimeOperation) return "no-operation";
    if (areas == 0) return "no-area";
    if (operation != kRuntimeOperation && EmuState_GetNum(kUploadedState, 0) != 0 && !UploadIsSigned())
        return "unsigned";
    std::string recoveryFile;
    if (operation == 1 && FindRecoveryFile(block + 5, recoveryFile) && !FileIsSigned(recoveryFile))
        return "unsigned-file";
    if (!PolicyAllows(operation, areas)) return "policy";
    return nullptr;
}

void Session(EmuZoktRequest& request) {
    UINT8* block = request.Buf.data() + kPayload;
    UINT32 areas = request.U32(kPayload + 1);
    UINT32 size = request.U32(kPayload + 0x15);
    const char* refusal = SessionRefusal(block, areas);
    UINT8 status = static_cast<UINT8>(EmuMachine_GetNum("sf_session_status", 0));
    if (refusal != nullptr && status == 0) status = 1;
    request.Put8(kSessionStatus, status);
    UINT32 nameLength = 0;
    while (nameLength < 16 && block[5 + nameLength] != 0) ++nameLength;
    EmuZokt_TraceAdd(request, " sub=0x08 op=0x%02x areas=0x%08x name=", block[0], areas);
    request.Trace += EmuZokt_Quote(block + 5, nameLength);
    EmuZokt_TraceAdd(request, " size=0x%08x status=0x%02x", size, status);
    if (refusal != nullptr) EmuZokt_TraceAdd(request, " refused=%s", refusal);
    FILE* f = fopen(EmuState_File("sf_session.bin").c_str(), "wb");
    if (f != nullptr) {
        fwrite(block, 1, kSessionSize, f);
        fclose(f);
    }
    if (status == 0 && block[0] == kRuntimeOperation && EmuState_GetNum(kUploadedState, 0) != 0) {
        EmuState_SetNum(kRuntimeState, 1);
    }
}

// The uploaded image, counted after its capsule header: its size, and
// `size` bytes of it from `offset` (none read when `out` is null). False
// without an upload or when it does not hold those bytes.
bool ReadUploaded(UINT32 offset, UINT8* out, size_t size, UINT64& imageSize) {
    FILE* f = fopen(EmuState_File("sf_image.bin").c_str(), "rb");
    if (f == nullptr) return false;
    UINT8 head[kCapsuleSizeAt + 2];
    long header = 0;
    if (fread(head, 1, sizeof(head), f) == sizeof(head) && memcmp(head, kCapsuleGuid, 16) == 0) {
        header = head[kCapsuleSizeAt] | (head[kCapsuleSizeAt + 1] << 8);
    }
    bool ok = fseek(f, 0, SEEK_END) == 0;
    long end = ok ? ftell(f) : 0;
    imageSize = end > header ? static_cast<UINT64>(end - header) : 0;
    if (ok && out != nullptr) {
        ok = fseek(f, header + static_cast<long>(offset), SEEK_SET) == 0 && fread(out, 1, size, f) == size;
    }
    fclose(f);
    return ok;
}

}  // namespace

bool EmuZokt_SecureFlash(EmuZoktRequest& request) {
    if (EmuMachine_GetNum("secure_flash", 0) == 0) return false;
    switch (request.U8(EMU_ZOKT_RECORD)) {
    case 4: Policy(request); break;
    case 2: Piece(request); break;
    case 8: Session(request); break;
    default: return false;
    }
    EmuZokt_Answer(request, EMU_ZOKT_RS_SUPPORT);
    EmuZokt_AnswerText(request, EmuMachine_Get("sf_text", ""));
    return true;
}

std::string EmuSecureFlash_CheckErase() {
    if (EmuMachine_GetNum("secure_flash", 0) == 0 || EmuState_GetNum(kRuntimeState, 0) != 0) return "";
    return "no-session";
}

// Outside a session only write-once data goes through: bytes programmed
// into blank flash (all 0xFF), as the OEM activation key item and a ROM
// hole written into its blank area are.
static bool OntoBlank(UINT32 flashAddress, UINT32 size) {
    std::vector<UINT8> old(size);
    if (!EmuFlash_Read(flashAddress, old.data(), size)) return false;
    for (UINT8 b : old)
        if (b != 0xFF) return false;
    return true;
}

std::string EmuSecureFlash_CheckWrite(UINT32 flashAddress, const UINT8* data, UINT32 size) {
    std::string outside = EmuSecureFlash_CheckErase();
    if (!outside.empty()) return OntoBlank(flashAddress, size) ? "" : outside;
    if (EmuState_GetNum(kRuntimeState, 0) == 0 || size == 0) return "";
    UINT64 imageSize = 0;
    if (!ReadUploaded(0, nullptr, 0, imageSize)) return "not-uploaded";
    // An upload smaller than the flash part is a file of block data only
    // (the by-number non-critical-block option uploads one and writes its
    // blocks from the system copy that holds its data): it names no flash
    // addresses, so there is nothing to compare the write with.
    if (imageSize < EmuFlash_Size()) return "";
    std::vector<UINT8> uploaded(size);
    if (!ReadUploaded(flashAddress, uploaded.data(), uploaded.size(), imageSize) ||
        memcmp(uploaded.data(), data, size) != 0) {
        return "not-uploaded";
    }
    return "";
}
