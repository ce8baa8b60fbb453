// Validation and dispatch of ZOKT requests by record type.
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include "EmuMachine.h"
#include "EmuZokt.h"
#include "EmuZoktFaults.h"

namespace {

// What firmware expects of each record type: its function-select bit and
// record size. The ME record grows above version 0x20F (the firmware's own
// version decides); the manufacturing record ends in a pointer, so the
// firmware of a 64-bit program expects 13 bytes and that of a 32-bit one 9
// (the emulator is linked into the program of one width).
struct FormatRow {
    UINT8 Type;
    UINT32 FunctionSelect;
    UINT16 Size;
};

const UINT16 kMfgRecordSize = sizeof(void*) == 8 ? 13 : 9;

const FormatRow kFormats[] = {
    {0x00, 0x00000000, 0},   // version handshake
    {0x50, 0x00000020, 20},  {0x51, 0x40000000, 8},  {0x52, 0x20000000, 4},
    {0x53, 0x10000000, 14},  {0x54, 0x08000000, 11}, {0x55, 0x04000000, 18},
    {0x56, 0x02000000, 2},   {0x57, 0x01000000, 12}, {0x58, 0x00800000, 4},
    {0x5A, 0x00000080, 20},  {0x5B, 0x00010000, 2},  {0x5C, 0x00020000, 68},
    {0x70, 0x00000040, 2},   {0x71, 0x00000100, kMfgRecordSize}, {0x72, 0x00400000, 2},
    {0x80, 0x80000000, 0},
};

// A status field that the program presets in the request: where it lies
// from the record, its width and its value.
struct Preset {
    UINT16 At;
    UINT8 Width;
    UINT32 Value;
};

// The presets of a request by record type (and sub-function where the
// layout differs); the firmware answers in these fields.
std::vector<Preset> Presets(UINT8 type, const UINT8* record) {
    const UINT16 payload = 6;  // secure flash: the payload follows the terminator at 0x1C
    switch (type) {
    case 0x52: return {{3, 1, 0}};
    case 0x54: return {{1, 2, 0}};
    case 0x55:
        if (record[1] == 0x0B) return {{0, 1, 0xFF}};
        if (record[1] == 0x0A) return {{0, 1, 0}, {0x0C, 2, 0}};
        return {{0, 1, 0}};
    case 0x56: return {{1, 1, 0}};
    case 0x57: return {{2, 2, 0}};
    case 0x58: return {{2, 2, 0}};
    case 0x5B: return {{1, 1, 0}};
    case 0x70:
        if (record[0] == 2) return {{payload + 16, 1, 1}};
        if (record[0] == 4) return {{payload + 0x102, 1, 1}};
        if (record[0] == 8) return {{payload + 0x1D, 1, 1}};
        return {};
    case 0x71: return {{0, 1, 0}};
    default: return {};
    }
}

const FormatRow* FindFormat(UINT8 type) {
    for (const FormatRow& row : kFormats) {
        if (row.Type == type) return &row;
    }
    return nullptr;
}

const EmuZoktHandlerEntry* FindHandler(UINT8 type) {
    for (UINT32 i = 0; EmuZoktHandlers[i].Handler != nullptr; ++i) {
        if (EmuZoktHandlers[i].Type == type) return &EmuZoktHandlers[i];
    }
    return nullptr;
}

// The ME record: 30 bytes above version 0x20F, else 18; the version query,
// the region table and the region requests name their own sizes.
UINT16 MeRecordSize(UINT8 subFunction, UINT16 version) {
    if (subFunction == 0x0B) return 0x18;
    if (subFunction == 0x09) return 0x532;
    if (subFunction == 0x0A) return 30;
    return version > 0x20F ? 30 : 18;
}

UINT32 Get(const std::vector<UINT8>& buf, UINT32 offset, UINT32 width) {
    UINT64 v = 0;
    if (static_cast<UINT64>(offset) + width <= buf.size()) memcpy(&v, buf.data() + offset, width);
    return static_cast<UINT32>(v);
}

// Checks the request's format; empty when valid, else the reason.
std::string Validate(const std::vector<UINT8>& buf, const FormatRow*& format) {
    format = nullptr;
    if (memcmp(buf.data(), "ZOKT", 4) != 0) return "signature";
    if (Get(buf, 0x0E, 2) != 0x12) return "header-offset";
    if (Get(buf, 0x10, 2) != 4) return "os-type";
    if (buf[0x13] != 1) return "sub-count";
    format = FindFormat(buf[0x12]);
    if (format == nullptr) return "type";
    if (Get(buf, 0x08, 4) != format->FunctionSelect) return "function-select";
    UINT16 expected = format->Size;
    if (format->Type == 0x55) expected = MeRecordSize(buf[EMU_ZOKT_RECORD + 1], EmuZokt_FirmwareVersion());
    UINT32 size = Get(buf, 0x14, 2);
    if (size != expected) return "record-size";
    UINT32 running = Get(buf, 0x06, 2);
    if (running < EMU_ZOKT_RECORD + size) return "running-size";
    return "";
}

// The fields the program must preset: the descriptor's version (0 in the
// handshake, else the version the handshake answered, the firmware's own),
// its return status (0) and the record's status fields.
std::string ValidatePresets(const std::vector<UINT8>& buf) {
    UINT8 type = buf[0x12];
    UINT16 version = static_cast<UINT16>(Get(buf, 0x04, 2));
    if (version != (type == 0 ? 0 : EmuZokt_FirmwareVersion())) return "version";
    if (Get(buf, 0x0C, 2) != 0) return "return-status";
    for (const Preset& p : Presets(type, buf.data() + EMU_ZOKT_RECORD)) {
        if (Get(buf, EMU_ZOKT_RECORD + p.At, p.Width) != p.Value) return "record-status";
    }
    return "";
}

// The sub-function byte a fault rule names: byte 1 of the ME record, byte
// 0 of the others.
UINT8 SubFunction(const std::vector<UINT8>& buf) {
    return buf[EMU_ZOKT_RECORD + (buf[0x12] == 0x55 ? 1 : 0)];
}

// A refusal of the fault script: return status "supported" and the rule's
// status in the record's status field (the first field the program
// presets), or as the return status for a type without one.
void AnswerStatus(EmuZoktRequest& request, UINT16 status) {
    std::vector<Preset> presets = Presets(request.Type, request.Record());
    if (presets.empty()) {
        EmuZokt_Answer(request, status);
        return;
    }
    const Preset& field = presets.front();
    UINT32 at = EMU_ZOKT_RECORD + field.At;
    if (field.Width == 1) request.Put8(at, static_cast<UINT8>(status));
    else request.Put16(at, status);
    EmuZokt_Answer(request, EMU_ZOKT_RS_SUPPORT);
}

std::string ValidateTerminator(const std::vector<UINT8>& buf, UINT16 recordSize) {
    UINT32 end = EMU_ZOKT_RECORD + recordSize;
    if (Get(buf, 0x06, 2) != end + 4) return "running-size";
    if (Get(buf, end, 4) != EMU_ZOKT_TERMINATOR) return "terminator";
    return "";
}

}  // namespace

UINT8 EmuZoktRequest::U8(UINT32 offset) const { return static_cast<UINT8>(Get(Buf, offset, 1)); }
UINT16 EmuZoktRequest::U16(UINT32 offset) const { return static_cast<UINT16>(Get(Buf, offset, 2)); }
UINT32 EmuZoktRequest::U32(UINT32 offset) const { return Get(Buf, offset, 4); }
UINT64 EmuZoktRequest::U64(UINT32 offset) const {
    return static_cast<UINT64>(Get(Buf, offset, 4)) | (static_cast<UINT64>(Get(Buf, offset + 4, 4)) << 32);
}
void EmuZoktRequest::Put8(UINT32 offset, UINT8 value) {
    if (offset < Buf.size()) Buf[offset] = value;
}
void EmuZoktRequest::Put16(UINT32 offset, UINT16 value) {
    if (static_cast<UINT64>(offset) + 2 <= Buf.size()) memcpy(Buf.data() + offset, &value, 2);
}
void EmuZoktRequest::Put32(UINT32 offset, UINT32 value) {
    if (static_cast<UINT64>(offset) + 4 <= Buf.size()) memcpy(Buf.data() + offset, &value, 4);
}

UINT16 EmuZokt_FirmwareVersion() { return static_cast<UINT16>(EmuMachine_GetNum("zokt_version", 0x0210)); }

void EmuZokt_Answer(EmuZoktRequest& request, UINT16 returnStatus) { request.Put16(0x0C, returnStatus); }

void EmuZokt_AnswerText(EmuZoktRequest& request, const std::string& text) {
    if (text.empty()) return;
    UINT32 at = request.U16(0x06);
    if (static_cast<UINT64>(at) + text.size() + 1 > request.Buf.size()) return;
    memcpy(request.Buf.data() + at, text.c_str(), text.size() + 1);
    request.Put16(0x0C, static_cast<UINT16>(request.U16(0x0C) | EMU_ZOKT_RS_DIS_OEMSTR));
}

std::string EmuZokt_Quote(const UINT8* bytes, size_t length) {
    std::string out = "\"";
    for (size_t i = 0; i < length; ++i) {
        UINT8 c = bytes[i];
        if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') {
            out += static_cast<char>(c);
        } else {
            char hex[8];
            snprintf(hex, sizeof(hex), "\\x%02x", c);
            out += hex;
        }
    }
    return out + "\"";
}

void EmuZokt_TraceAdd(EmuZoktRequest& request, const char* format, ...) {
    char text[1024];
    va_list ap;
    va_start(ap, format);
    vsnprintf(text, sizeof(text), format, ap);
    va_end(ap);
    request.Trace += text;
}

void EmuZokt_Smi26(EmuSmiRequest& smi) {
    std::vector<UINT8> buf(EMU_ZOKT_BUFFER_SIZE);
    UINT32 address = smi.Regs.Ebx;
    if (!EmuPhys_Read(address, buf.data(), EMU_ZOKT_BUFFER_SIZE)) {
        smi.TraceExtra += " zokt=none refused=\"buffer\"";
        return;
    }
    const FormatRow* format = nullptr;
    std::string reason = Validate(buf, format);
    if (!reason.empty()) {
        smi.TraceExtra += " zokt=none refused=\"" + reason + "\"";
        return;
    }
    EmuZoktRequest request{buf,           address,
                           buf[0x12],     static_cast<UINT16>(Get(buf, 0x04, 2)),
                           static_cast<UINT16>(Get(buf, 0x06, 2)), static_cast<UINT16>(Get(buf, 0x14, 2)),
                           smi.TraceExtra};
    EmuZokt_TraceAdd(request, " zokt=0x%02x ver=0x%04x", request.Type, request.Version);

    const EmuZoktHandlerEntry* entry = FindHandler(request.Type);
    reason = ValidatePresets(buf);
    if (reason.empty() && entry != nullptr && entry->CheckTerminator != 0) {
        reason = ValidateTerminator(buf, request.RecordSize);
    }
    if (!reason.empty()) {
        smi.TraceExtra += " refused=\"" + reason + "\"";
        return;
    }
    if (EmuZokt_FirmwareVersion() == 0 || entry == nullptr) {
        smi.TraceExtra += " answer=none";
        return;
    }
    EmuZoktFault fault = EmuZoktFaults_Check(request.Type, SubFunction(buf));
    if (fault.Action == kEmuZoktFaultSilent) {
        EmuZokt_TraceAdd(request, " sub=0x%02x", SubFunction(buf));
        smi.TraceExtra += " answer=none" + fault.Text;
        return;
    }
    request.Corrupt = fault.Action == kEmuZoktFaultCorrupt;
    if (fault.Action == kEmuZoktFaultStatus) {
        EmuZokt_TraceAdd(request, " sub=0x%02x", SubFunction(buf));
        AnswerStatus(request, fault.Status);
    } else if (fault.Action == kEmuZoktFaultRegionStatus) {
        // Done, and the region request's own status (u16 at +0x0C) set.
        EmuZokt_TraceAdd(request, " sub=0x%02x", SubFunction(buf));
        request.Put8(EMU_ZOKT_RECORD, 1);
        request.Put16(EMU_ZOKT_RECORD + 0x0C, fault.Status);
        EmuZokt_Answer(request, EMU_ZOKT_RS_SUPPORT);
    } else if (!entry->Handler(request)) {
        smi.TraceExtra += " answer=none" + fault.Text;
        return;
    }
    EmuZokt_TraceAdd(request, " rs=0x%04x", request.U16(0x0C));
    smi.TraceExtra += fault.Text;
    // A lost answer: carried out, but the buffer stays as the program wrote it.
    if (fault.Action != kEmuZoktFaultLost) EmuPhys_Write(address, buf.data(), EMU_ZOKT_BUFFER_SIZE);
}
