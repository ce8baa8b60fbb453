// ROM information (0x25) of the emulated firmware, from the machine's block
// table, in the answer form chosen by flash_info_form:
//   short   status, form, count at 4..7, 9-byte entries from 8;
//   head16  status, form, count, EC version offset and mask at 8 and 0x0C,
//           entries from 0x10;
//   large   a first answer "not done" with form 0x0E; the retry (byte 5 =
//           0x0E) gets the regions (runs of one block type) from 0x1A with
//           the total size at 0x10 and the block size at 0x14.
// "$FPS" and "$BPT" follow the entries. A request with byte 4 = 2 (and byte
// 5 not 0x0E) is a layout change: its data is kept in the state file
// "layout" and it is answered done.
// Like the block requests, 0x25 needs the flash interface open (else byte 4
// = 1). The information request and the large form's retry must carry the
// interface buffer's size (0x11000) at 0, and the information request the
// sub-function 1 at byte 4; a request that does not is refused unanswered.
#include <cstdio>
#include <cstring>
#include <vector>
#include "EmuBlocks.h"
#include "EmuFlashPart.h"
#include "EmuMachine.h"
#include "EmuSmi.h"

static const UINT8 kFormLarge = 0x0E;
static const UINT32 kLayoutDataOffset = 0x19;
static const UINT8 kGetInformation = 1;
static const UINT8 kLayoutChange = 2;

typedef std::vector<UINT8> Buffer;

static void Put(Buffer& buf, UINT64 offset, const void* bytes, size_t n) {
    for (size_t i = 0; i < n && offset + i < buf.size(); ++i) buf[offset + i] = static_cast<const UINT8*>(bytes)[i];
}
static void Put16(Buffer& buf, UINT64 offset, UINT16 v) { Put(buf, offset, &v, 2); }
static void Put32(Buffer& buf, UINT64 offset, UINT32 v) { Put(buf, offset, &v, 4); }

static UINT64 PutEntries(Buffer& buf, UINT64 offset, const std::vector<EmuBlock>& entries) {
    for (const EmuBlock& e : entries) {
        Put32(buf, offset, e.Start);
        Put32(buf, offset + 4, e.Size);
        Put(buf, offset + 8, &e.Type, 1);
        offset += 9;
    }
    return offset;
}

// "$FPS" (text 8 bytes after the signature) and "$BPT" (project-ID length
// and 'V' at 4 and 5), after the entries or where flash_info_tags_at says.
static void PutTags(Buffer& buf, UINT64 endOfEntries) {
    UINT64 at = EmuMachine_GetNum("flash_info_tags_at", ((endOfEntries + 15) & ~15ull) + 0x10);
    std::string text = EmuMachine_Get("fps_text", "EMULATED SPI FLASH");
    if (text != "none") {
        char name[48] = {0};
        memcpy(name, text.data(), text.size() < sizeof(name) ? text.size() : sizeof(name));
        Put(buf, at, "$FPS", 4);
        Put(buf, at + 8, name, sizeof(name));
        at += 0x40;
    }
    if (EmuMachine_GetNum("bpt", 1) != 0) {
        UINT8 record[6] = {'$', 'B', 'P', 'T', static_cast<UINT8>(EmuMachine_GetNum("bpt_idlen", 5)),
                           static_cast<UINT8>(EmuMachine_GetNum("bpt_v", 1) != 0 ? 'V' : 0)};
        Put(buf, at, record, sizeof(record));
    }
}

static void ApplyPatches(Buffer& buf) {
    std::vector<EmuInfoPatch> patches;
    std::string error;
    if (!EmuInfoPatch_Parse(EmuMachine_Get("flash_info_patch", ""), patches, error)) return;
    for (const EmuInfoPatch& p : patches) Put(buf, p.Offset, p.Bytes.data(), p.Bytes.size());
}

// Runs of one block type become the large form's regions.
static std::vector<EmuBlock> Regions(const std::vector<EmuBlock>& blocks) {
    std::vector<EmuBlock> regions;
    for (const EmuBlock& b : blocks) {
        if (!regions.empty() && regions.back().Type == b.Type &&
            static_cast<UINT64>(regions.back().Start) + regions.back().Size == b.Start) {
            regions.back().Size += b.Size;
        } else {
            regions.push_back(b);
        }
    }
    return regions;
}

static void ClearAnswer(Buffer& buf) { std::fill(buf.begin() + 6, buf.end(), 0); }

static void PutHead(Buffer& buf, UINT8 status, UINT8 form, UINT16 count) {
    buf[4] = status;
    buf[5] = form;
    Put16(buf, 6, count);
    if (form > 10) {
        Put32(buf, 8, static_cast<UINT32>(EmuMachine_GetNum("ec_version_offset", 0)));
        Put32(buf, 0x0C, static_cast<UINT32>(EmuMachine_GetNum("ec_version_mask", 0)));
    }
}

static std::string AnswerInformation(Buffer& buf) {
    const std::vector<EmuBlock>& blocks = EmuBlocks_Machine();
    std::string form = EmuMachine_Get("flash_info_form", "head16");
    char text[96];
    if (form == "large") {
        UINT8 status = static_cast<UINT8>(EmuMachine_GetNum("flash_info_status", 1));
        buf[4] = status;
        buf[5] = kFormLarge;
        snprintf(text, sizeof(text), " info=large status=0x%02x", status);
        return text;
    }
    bool shortForm = form == "short";
    UINT8 status = static_cast<UINT8>(EmuMachine_GetNum("flash_info_status", 0));
    UINT8 version = static_cast<UINT8>(EmuMachine_GetNum("flash_info_version", shortForm ? 0x01 : 0x0C));
    ClearAnswer(buf);
    PutHead(buf, status, version, static_cast<UINT16>(blocks.size()));
    // The short form puts its entries at 8 even when its form byte says otherwise.
    UINT64 end = PutEntries(buf, shortForm ? 8 : 0x10, blocks);
    PutTags(buf, end);
    ApplyPatches(buf);
    snprintf(text, sizeof(text), " info=%s status=0x%02x", form.c_str(), buf[4]);
    return text;
}

static std::string AnswerLargeRetry(Buffer& buf) {
    const std::vector<EmuBlock>& blocks = EmuBlocks_Machine();
    std::vector<EmuBlock> regions = Regions(blocks);
    UINT8 asked = buf[4];
    UINT32 blockSize = static_cast<UINT32>(
        EmuMachine_GetNum("flash_info_block_size", blocks.empty() ? 0 : blocks.front().Size));
    UINT64 total = blocks.empty() ? 0 : static_cast<UINT64>(blocks.back().Start) + blocks.back().Size;
    ClearAnswer(buf);
    PutHead(buf, static_cast<UINT8>(EmuMachine_GetNum("flash_info_retry_status", 0)), kFormLarge,
            static_cast<UINT16>(regions.size()));
    Put32(buf, 0x10, static_cast<UINT32>(total));
    Put32(buf, 0x14, blockSize);
    UINT64 end = PutEntries(buf, 0x1A, regions);
    PutTags(buf, end);
    ApplyPatches(buf);
    char text[96];
    snprintf(text, sizeof(text), " info=large-retry b4=0x%02x status=0x%02x", asked, buf[4]);
    return text;
}

static std::string AnswerLayoutChange(Buffer& buf) {
    UINT32 length = 0;
    memcpy(&length, buf.data(), 4);
    bool fits = length <= buf.size() - kLayoutDataOffset;
    if (fits) EmuState_Set("layout", std::string(buf.begin() + kLayoutDataOffset, buf.begin() + kLayoutDataOffset + length));
    buf[4] = fits ? 0 : 1;
    char text[96];
    snprintf(text, sizeof(text), " layout size=0x%08x status=0x%02x", length, buf[4]);
    return text;
}

// Empty when the request is laid out as the program must send it, else the
// reason it is refused.
static std::string Malformed(const Buffer& buf) {
    UINT32 length = 0;
    memcpy(&length, buf.data(), 4);
    bool retry = buf[5] == kFormLarge;
    if (!retry && buf[4] == kLayoutChange) return "";
    if (!retry && buf[4] != kGetInformation) return "sub-function";
    if (length != EMU_INTERFACE_BUFFER_SIZE) return "length";
    return "";
}

void EmuSmi_FlashInfo(EmuSmiRequest& request) {
    UINT32 ebx = request.Regs.Ebx;
    std::string asf = EmuFlashPart_AsfCheck(ebx);
    Buffer buf(EMU_INTERFACE_BUFFER_SIZE);
    if (ebx == 0 || !EmuPhys_Read(ebx, buf.data(), EMU_INTERFACE_BUFFER_SIZE)) {
        request.TraceExtra += " bad-buffer" + asf;
        return;
    }
    if (!EmuFlashPart_IsOpen()) {
        UINT8 failed = 1;
        EmuPhys_Write(ebx + 4, &failed, 1);
        request.TraceExtra += " refused=\"closed\"" + asf;
        return;
    }
    std::string reason = Malformed(buf);
    if (!reason.empty()) {
        request.TraceExtra += " refused=\"" + reason + "\"" + asf;
        return;
    }
    EmuFault fault = EmuFlashFaults_Check("info", 0, 0);
    if (fault.Action == kEmuFaultKeep) {
        request.TraceExtra += fault.Text + asf;
        return;
    }
    std::string answer;
    if (buf[5] == kFormLarge) answer = AnswerLargeRetry(buf);
    else if (buf[4] == kLayoutChange) answer = AnswerLayoutChange(buf);
    else answer = AnswerInformation(buf);
    if (fault.Action == kEmuFaultStatus) buf[4] = fault.Status;
    EmuPhys_Write(ebx, buf.data(), EMU_INTERFACE_BUFFER_SIZE);
    request.TraceExtra += answer + fault.Text + asf;
}
