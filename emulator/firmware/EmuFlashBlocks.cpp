// The flash block requests of the emulated firmware: open (0x20), read
// (0x21), erase (0x22), write (0x23) and close (0x24), answered in the
// function block at EBX over flash.bin. Read, erase and write are refused
// (status 1) while the flash interface is closed: it opens with an accepted
// open request and closes with a close request, and the state is kept in
// state/flash_open as the firmware keeps it between runs. A request beyond
// the flash, or a read or write of more data than the interface buffer
// holds, gets status 1. Erase clears whole blocks of the machine's block
// table to 0xFF; a write ANDs its bytes into the old contents as NOR
// programming does (flash_nor=0: stores them as given). On a secure-flash
// machine erase and write need an open runtime session, in which a write
// must carry the uploaded image's bytes.
#include <algorithm>
#include <cstdio>
#include <vector>
#include "EmuBlocks.h"
#include "EmuFlashPart.h"
#include "EmuMachine.h"
#include "EmuSmi.h"

static const UINT8 kDone = 0;
static const UINT8 kFailed = 1;

static std::string Hex(const char* key, UINT32 value, int width) {
    char text[64];
    snprintf(text, sizeof(text), " %s=0x%0*x", key, width, value);
    return text;
}

static const char kOpenState[] = "flash_open";

bool EmuFlashPart_IsOpen() { return EmuState_GetNum(kOpenState, 0) != 0; }

static void SetOpen(bool open) { EmuState_SetNum(kOpenState, open ? 1 : 0); }

static std::string Refused(const std::string& reason) { return " refused=\"" + reason + "\""; }

// Block data of one request: kept between requests so that a run's requests
// reuse one buffer; sized to the request, every byte written before it is
// read.
static std::vector<UINT8>& Scratch(std::vector<UINT8>& buffer, size_t size) {
    buffer.resize(size);
    return buffer;
}
static std::vector<UINT8> s_Data;

static bool ReadFunctionBlock(UINT32 ebx, EmuFunctionBlock& block) {
    return ebx != 0 && EmuPhys_Read(ebx, &block, sizeof(block));
}

static void WriteStatus(UINT32 ebx, UINT8 status) { EmuPhys_Write(ebx + 0x10, &status, 1); }

static UINT8 ReadStatus(UINT32 ebx) {
    UINT8 status = 0;
    EmuPhys_Read(ebx + 0x10, &status, 1);
    return status;
}

static bool RangeInFlash(const EmuFunctionBlock& block) {
    return static_cast<UINT64>(block.FlashAddress) + block.Size <= EmuFlash_Size();
}

static bool DataFits(const EmuFunctionBlock& block) {
    return block.Size <= EMU_MAX_BLOCK_DATA && block.DataAddress + block.Size <= 0x100000000ull;
}

static void Corrupt(std::vector<UINT8>& data, UINT32 start, const EmuFault& fault) {
    if (fault.Action != kEmuFaultCorrupt || data.empty()) return;
    UINT32 at = fault.CorruptAddress >= start && fault.CorruptAddress - start < data.size()
                    ? fault.CorruptAddress - start : 0;
    data[at] ^= 0xFF;
}

// The part of a block request that every kind shares: the function block,
// the shadow check, the open interface, the fault rule and the trace line.
// `work` carries out the request and answers 0 or 1 (with the reason in
// `refused` when the firmware refuses it); it is not run when the firmware
// does not answer or a rule answers 1. A request on a closed interface is
// refused before any fault rule counts it.
template <typename Work>
static void BlockRequest(EmuSmiRequest& request, const char* kind, Work work) {
    UINT32 ebx = request.Regs.Ebx;
    std::string asf = EmuFlashPart_AsfCheck(ebx);
    EmuFunctionBlock block;
    if (!ReadFunctionBlock(ebx, block)) {
        request.TraceExtra += " bad-buffer" + asf;
        return;
    }
    EmuFault fault;
    std::string refused;
    if (!EmuFlashPart_IsOpen()) {
        WriteStatus(ebx, kFailed);
        refused = "closed";
    } else {
        fault = EmuFlashFaults_Check(kind, block.FlashAddress, block.Size);
        if (fault.Action == kEmuFaultKeep) {
            // No answer: the status stays as the program preset it.
        } else if (fault.Action == kEmuFaultStatus && fault.Status == kFailed) {
            WriteStatus(ebx, kFailed);
        } else {
            UINT8 status = work(block, fault, refused);
            if (status == kDone && fault.Action == kEmuFaultStatus) status = fault.Status;
            WriteStatus(ebx, status);
        }
    }
    char fields[64];
    snprintf(fields, sizeof(fields), " addr=0x%08x size=0x%08x status=0x%02x", block.FlashAddress, block.Size,
             ReadStatus(ebx));
    request.TraceExtra += fields;
    request.TraceExtra += fault.Text;
    if (!refused.empty()) request.TraceExtra += Refused(refused);
    request.TraceExtra += asf;
}

void EmuSmi_FlashRead(EmuSmiRequest& request) {
    BlockRequest(request, "read", [](const EmuFunctionBlock& block, const EmuFault& fault, std::string&) -> UINT8 {
        if (!RangeInFlash(block) || !DataFits(block)) return kFailed;
        if (fault.Action != kEmuFaultCorrupt)
            return EmuFlash_CopyToPhys(block.FlashAddress, block.DataAddress, block.Size) ? kDone : kFailed;
        std::vector<UINT8>& data = Scratch(s_Data, block.Size);
        if (!EmuFlash_Read(block.FlashAddress, data.data(), block.Size)) return kFailed;
        Corrupt(data, block.FlashAddress, fault);
        if (!EmuPhys_Write(block.DataAddress, data.data(), block.Size)) return kFailed;
        return kDone;
    });
}

void EmuSmi_FlashWrite(EmuSmiRequest& request) {
    BlockRequest(request, "write", [](const EmuFunctionBlock& block, const EmuFault& fault, std::string& refused) -> UINT8 {
        if (!RangeInFlash(block) || !DataFits(block)) return kFailed;
        // The program's bytes where they lie; a copy where they cannot be
        // mapped or a fault rule corrupts them.
        const UINT8* given = EmuPhys_Bytes(block.DataAddress, block.Size);
        if (given == nullptr || fault.Action == kEmuFaultCorrupt) {
            std::vector<UINT8>& data = Scratch(s_Data, block.Size);
            if (!EmuPhys_Read(block.DataAddress, data.data(), block.Size)) return kFailed;
            Corrupt(data, block.FlashAddress, fault);
            given = data.data();
        }
        refused = EmuSecureFlash_CheckWrite(block.FlashAddress, given, block.Size);
        if (!refused.empty()) return kFailed;
        if (!EmuFlash_Program(block.FlashAddress, given, block.Size)) return kFailed;
        return kDone;
    });
}

void EmuSmi_FlashErase(EmuSmiRequest& request) {
    BlockRequest(request, "erase", [](const EmuFunctionBlock& block, const EmuFault& fault, std::string& refused) -> UINT8 {
        if (!RangeInFlash(block)) return kFailed;
        refused = EmuSecureFlash_CheckErase();
        if (!refused.empty()) return kFailed;
        if (block.Size == 0) return kDone;
        // Whole blocks: from the start of the block that holds the first byte
        // to the end of the block that holds the last.
        UINT64 from = block.FlashAddress, to = static_cast<UINT64>(block.FlashAddress) + block.Size;
        for (const EmuBlock& b : EmuBlocks_Machine()) {
            UINT64 end = static_cast<UINT64>(b.Start) + b.Size;
            if (b.Start <= block.FlashAddress && block.FlashAddress < end) from = b.Start;
            if (b.Start < to && to <= end) to = end;
        }
        if (to > EmuFlash_Size()) to = EmuFlash_Size();
        UINT32 length = static_cast<UINT32>(to - from);
        if (fault.Action != kEmuFaultCorrupt) return EmuFlash_Erase(static_cast<UINT32>(from), length) ? kDone : kFailed;
        // A corrupted erase leaves one byte programmed.
        std::vector<UINT8>& bytes = Scratch(s_Data, length);
        std::fill(bytes.begin(), bytes.end(), 0xFF);
        bytes[fault.CorruptAddress >= from && fault.CorruptAddress < to ? fault.CorruptAddress - from : 0] = 0x00;
        if (!EmuFlash_Write(static_cast<UINT32>(from), bytes.data(), length)) return kFailed;
        return kDone;
    });
}

void EmuSmi_FlashOpen(EmuSmiRequest& request) {
    UINT32 ebx = request.Regs.Ebx;
    std::string asf = EmuFlashPart_AsfCheck(ebx);
    EmuFault fault = EmuFlashFaults_Check("open", 0, 0);
    if (ebx == 0) {
        request.TraceExtra += " bad-buffer" + asf;
        return;
    }
    if (fault.Action != kEmuFaultKeep) {
        UINT8 status = fault.Action == kEmuFaultStatus ? fault.Status
                                                       : static_cast<UINT8>(EmuMachine_GetNum("flash_open_status", 0));
        WriteStatus(ebx, status);
        // Only an open the firmware grants opens the interface; a refused
        // one leaves it as it was.
        if (status == kDone) SetOpen(true);
    }
    request.TraceExtra += Hex("status", ReadStatus(ebx), 2) + fault.Text + asf;
}

void EmuSmi_FlashClose(EmuSmiRequest& request) {
    std::string asf = EmuFlashPart_AsfCheck(request.Regs.Ebx);
    EmuFault fault = EmuFlashFaults_Check("close", 0, 0);
    if (fault.Action != kEmuFaultKeep) SetOpen(false);
    request.TraceExtra += fault.Text + asf;
}
