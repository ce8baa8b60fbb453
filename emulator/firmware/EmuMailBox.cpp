// SMI 0xD9: the firmware's WSMT mailbox. ECX 0xC0000001 asks for it (EDI
// tells the try, ESI the buffer size); ECX 0 and ESI = the mailbox's address
// grant it. ECX 0xC0000002 releases it. While a mailbox is out, every SMI
// records the guarded u32 at offset 20 of the mailbox as it finds it, and the
// firmware changes that u32 after each request, as real firmware may.
#include <cstdio>
#include "EmuMachine.h"
#include "EmuSmi.h"

namespace {

const UINT32 kRequest = 0xC0000001;
const UINT32 kRelease = 0xC0000002;
const UINT32 kRefused = 0x80000003;
const UINT32 kMailBoxSize = 24;
const UINT32 kGuardOffset = 20;

UINT64 MailBoxAddress() { return EmuMachine_GetNum("mailbox_addr", 0x7E100000); }
UINT32 Guard() { return static_cast<UINT32>(EmuMachine_GetNum("mailbox_guard", 0x5A5A0001)); }
bool MailBoxOut() { return EmuState_GetNum("mailbox_out", 0) != 0; }

void Grant(EmuSmiRequest& request) {
    UINT8 box[kMailBoxSize] = {'W', 'S', 'M', 'T', 'M', 'B', 'O', 'X'};
    UINT64 buffer = EmuMachine_GetNum("mailbox_buffer_addr", 0x7E101000);
    UINT32 size = 0x11000;
    UINT32 guard = Guard();
    for (int i = 0; i < 8; ++i) box[8 + i] = static_cast<UINT8>(buffer >> (8 * i));
    for (int i = 0; i < 4; ++i) box[16 + i] = static_cast<UINT8>(size >> (8 * i));
    for (int i = 0; i < 4; ++i) box[kGuardOffset + i] = static_cast<UINT8>(guard >> (8 * i));
    if (!EmuPhys_Write(MailBoxAddress(), box, sizeof(box))) {
        request.Regs.Ecx = kRefused;
        return;
    }
    request.Regs.Ecx = 0;
    request.Regs.Esi = static_cast<UINT32>(MailBoxAddress());
    EmuState_SetNum("mailbox_out", 1);
}

}  // namespace

void EmuSmi_MailBox(EmuSmiRequest& request) {
    TKX_GeneralPurposeRegisterBuffer& r = request.Regs;
    std::string mode = EmuMachine_Get("mailbox", "none");
    char buf[96];
    snprintf(buf, sizeof(buf), " ecx=0x%08x edi=0x%x esi=0x%x", r.Ecx, r.Edi, r.Esi);
    request.TraceExtra += buf;
    if (mode == "none") return;  // no mailbox: the request is not answered
    if (r.Ecx == kRelease) {
        EmuState_SetNum("mailbox_out", 0);
        r.Ecx = 0;
        request.TraceExtra += " mailbox=released";
        return;
    }
    if (r.Ecx != kRequest) return;
    // A new request takes back whatever mailbox was out before.
    EmuState_SetNum("mailbox_out", 0);
    bool grant = mode == "try1" || (mode == "try2" && r.Edi == 1);
    if (grant) Grant(request);
    else r.Ecx = kRefused;
    request.TraceExtra += r.Ecx == 0 ? " mailbox=granted" : " mailbox=refused";
}

void EmuMailBox_BeforeSmi(EmuSmiRequest& request) {
    if (!MailBoxOut()) return;
    UINT32 guard = 0;
    EmuPhys_Read(MailBoxAddress() + kGuardOffset, &guard, sizeof(guard));
    char buf[32];
    snprintf(buf, sizeof(buf), " mbox20=0x%08x", guard);
    request.TraceExtra += buf;
}

void EmuMailBox_AfterSmi(EmuSmiRequest& request) {
    // The mailbox request itself leaves the new mailbox as granted.
    if (request.Command == 0xD9 || !MailBoxOut()) return;
    UINT32 changed = ~Guard();
    EmuPhys_Write(MailBoxAddress() + kGuardOffset, &changed, sizeof(changed));
}
