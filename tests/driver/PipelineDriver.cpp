// Test driver of the pre-flash check: the whole program road of the test
// build, with two probe modules in the module table's extension slot. Each
// probe publishes a check record, one in the first walk slot and one in the
// last, so the pipeline can be driven before the region modules exist.
//   /first:SPEC  /last:SPEC    enable that probe; SPEC letters:
//     f  needs a file            p  needs file processing
//     c  needs checksums         r  needs the ROM-ID check
//     w  claims word 1 as the ROM file name (as the region open modules do)
//     R  its size check switches on checksums and the ROM-ID check
//     m  2+2 mode
//     sHEX, / bHEX,  result of its size / block check (each prints a line)
//     eHEX,  appends an end hook that returns HEX (prints a line, then
//           raises OEM SMI 0x90 + its number so the trace shows its place)
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include "HuxCore.h"
#include "HuxCoreHooks.h"
#include "HuxPlatform.h"
#include "OsSeam.h"
#include "SmiTransport.h"
#include "TKXString.h"
#include "YozGlobal.h"
#include "YozOptionStore.h"
#include "YozRomFile.h"

namespace {

struct Probe {
    const char* word;  // option prefix
    const char* tag;
    TKX_QUEUE_ITEM item;
    CHECK_FUNC_ITEM record;
    ENUM_ERR_ID sizeResult;
    ENUM_ERR_ID blockResult;
    UINT8 rewrite;
};

Probe s_First = {"/first:", "first", {}, {}, eEID_NO_ERROR, eEID_NO_ERROR, 0};
Probe s_Last = {"/last:", "last", {}, {}, eEID_NO_ERROR, eEID_NO_ERROR, 0};

const int kMaxHooks = 4;
ENUM_ERR_ID s_HookResults[kMaxHooks];
int s_HookCount = 0;

ENUM_ERR_ID Hook(int n) {
    printf("end hook %d\n", n + 1);
    fflush(stdout);
    CallOemSmi(static_cast<UINT8>(0x91 + n));
    return s_HookResults[n];
}
ENUM_ERR_ID Hook1() { return Hook(0); }
ENUM_ERR_ID Hook2() { return Hook(1); }
ENUM_ERR_ID Hook3() { return Hook(2); }
ENUM_ERR_ID Hook4() { return Hook(3); }
const YOZ_GlobalEndHookFunc kHooks[kMaxHooks] = {Hook1, Hook2, Hook3, Hook4};

ENUM_ERR_ID SizeCheck(Probe& p, INT16 status) {
    printf("%s size check %d\n", p.tag, status);
    if (p.rewrite) {
        p.record.needsFfsChecksum = 1;
        p.record.needsRomIdCheck = 1;
    }
    return p.sizeResult;
}
ENUM_ERR_ID FirstSize(INT16 status) { return SizeCheck(s_First, status); }
ENUM_ERR_ID LastSize(INT16 status) { return SizeCheck(s_Last, status); }
ENUM_ERR_ID FirstBlock() {
    printf("first block check\n");
    return s_First.blockResult;
}
ENUM_ERR_ID LastBlock() {
    printf("last block check\n");
    return s_Last.blockResult;
}

ENUM_ERR_ID Hex(const char*& p) {
    char* end = nullptr;
    unsigned long v = strtoul(p, &end, 16);
    p = *end == ',' ? end + 1 : end;
    return static_cast<ENUM_ERR_ID>(v);
}

void Apply(Probe& probe, const char* spec, TKXArgvList& args) {
    probe.item.Enabled = 1;
    for (const char* p = spec; *p != '\0';) {
        char c = *p++;
        switch (c) {
            case 'f': probe.record.needsFile = 1; break;
            case 'p': probe.record.needsFileProcessing = 1; break;
            case 'c': probe.record.needsFfsChecksum = 1; break;
            case 'r': probe.record.needsRomIdCheck = 1; break;
            case 'R': probe.rewrite = 1; break;
            case 'm': YOZ_SetEMMC_2x2_Mode(1); break;
            case 'w':
                if (args.size() >= 2) {
                    args[1]->claimed = 1;
                    YOZ_pFileName = args[1]->text;
                }
                break;
            case 's': probe.sizeResult = Hex(p); break;
            case 'b': probe.blockResult = Hex(p); break;
            case 'e':
                if (s_HookCount < kMaxHooks) {
                    s_HookResults[s_HookCount] = Hex(p);
                    YOZ_GlobalEndHookFuncList.push_back(kHooks[s_HookCount++]);
                }
                break;
            default: break;
        }
    }
}

ENUM_ERR_ID ProbeParse(TKXArgvList& args, TKX_QUEUE_ITEM* self) {
    Probe& probe = self == &s_First.item ? s_First : s_Last;
    UINT32 n = StringLength(probe.word);
    for (unsigned long i = 1; i < args.size(); ++i) {
        if (strncmp(args[i]->text, probe.word, n) != 0) continue;
        args[i]->claimed = 1;
        Apply(probe, args[i]->text + n, args);
    }
    return eEID_NO_ERROR;
}

ENUM_ERR_ID ProbeExecute(TKXQueueItemList&) { return eEID_NO_ERROR; }

void Publish(Probe& probe, CHECK_FUNC_ITEM*& slot, ENUM_ERR_ID (*size)(INT16), ENUM_ERR_ID (*block)(),
             TKXQueueItemList& items) {
    probe.item = TKX_QUEUE_ITEM{0x7F00, ProbeParse, ProbeExecute, nullptr, nullptr, 0, 0, 0, 0, 0};
    probe.record = CHECK_FUNC_ITEM{size, block, 0, 0, 0, 0, 0, 0, &probe.item.Enabled};
    items.push_back(&probe.item);
    slot = &probe.record;
}

ENUM_ERR_ID RegisterProbes(TKXQueueItemList& items) {
    Publish(s_First, PtrVerifyCheckFunc, FirstSize, FirstBlock, items);
    Publish(s_Last, PtrOEMSMICheckFunc, LastSize, LastBlock, items);
    return eEID_NO_ERROR;
}

}  // namespace

int main(int argc, char** argv) {
    HuxRunRoad(argc, argv, [] {
        // The extension slot after the global end item.
        PtrHuxModuleList[108] = RegisterProbes;
        // The probes stand in for the region commands: the file name given to
        // them must not also select the default main-BIOS flash.
        PtrHuxModuleList[20] = [](TKXQueueItemList&) { return eEID_NO_ERROR; };
    });
}
