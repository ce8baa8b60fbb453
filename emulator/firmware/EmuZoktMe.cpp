// ME flash requests (type 0x55). The ME region shares flash.bin with the
// BIOS: erase, write and read back work on flash addresses. The region
// table comes from me_regions; region and update-library requests keep the
// pushed data in state/me_push.bin (no more pages than the push was opened
// for) and answer call-again as configured; the final answer to a region
// update, and an update-library update, write the pushed data into
// flash.bin, as the firmware would. A capsule push is only recorded
// (state/me_capsule): the firmware applies it after the program.
//
// An ME update is open from an accepted start (full 4, ignition 1) to an
// accepted end (5, 2), kept in state/me_update ("full", "ignition") across
// runs as the firmware keeps it; erase, write, read back and the region and
// update-library requests are refused outside one. The strict firmware
// settings: me_one_start refuses a second start, me_write_verify a write
// that does not read back as given, me_in_session (under secure flash)
// erase and write outside a runtime session.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>
#include "EmuFlashPart.h"
#include "EmuMachine.h"
#include "EmuZokt.h"

namespace {

const UINT32 kRec = EMU_ZOKT_RECORD;

struct Region {
    std::string Cmd, Help;
    UINT32 Start = 0, Size = 0;
    UINT8 Id = 0, Lock = 0;
};

std::vector<std::string> Split(const std::string& text, char sep) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= text.size()) {
        size_t at = text.find(sep, start);
        if (at == std::string::npos) at = text.size();
        parts.push_back(text.substr(start, at - start));
        start = at + 1;
    }
    return parts;
}

UINT32 Num(const std::string& text) {
    UINT64 v = 0;
    EmuParseNum(text, v);
    return static_cast<UINT32>(v);
}

// me_regions: "CMD:HELP:START:SIZE:ID:LOCK" joined by ';'.
std::vector<Region> Regions() {
    std::vector<Region> regions;
    std::string all = EmuMachine_Get("me_regions", "");
    if (all.empty()) return regions;
    for (const std::string& item : Split(all, ';')) {
        std::vector<std::string> f = Split(item, ':');
        if (f.size() != 6) continue;
        Region r;
        r.Cmd = f[0];
        r.Help = f[1];
        r.Start = Num(f[2]);
        r.Size = Num(f[3]);
        r.Id = static_cast<UINT8>(Num(f[4]));
        r.Lock = static_cast<UINT8>(Num(f[5]));
        regions.push_back(r);
    }
    return regions;
}

// me_protect: "START:SIZE" ranges joined by ',' that erase and write refuse.
bool Protected(UINT32 address, UINT32 size) {
    std::string all = EmuMachine_Get("me_protect", "");
    if (all.empty()) return false;
    for (const std::string& item : Split(all, ',')) {
        std::vector<std::string> f = Split(item, ':');
        if (f.size() != 2) continue;
        UINT64 start = Num(f[0]), end = start + Num(f[1]);
        if (address < end && static_cast<UINT64>(address) + size > start) return true;
    }
    return false;
}

bool InFlash(UINT32 address, UINT32 size) {
    return size != 0 && static_cast<UINT64>(address) + size <= EmuFlash_Size();
}

// me_fail_sub: sub-functions (joined by ',') answered with return status 0.
bool FailedSub(UINT8 sub) {
    for (const std::string& item : Split(EmuMachine_Get("me_fail_sub", ""), ',')) {
        UINT64 v = 0;
        if (!item.empty() && EmuParseNum(item, v) && v == sub) return true;
    }
    return false;
}

const char kUpdateState[] = "me_update";

bool UpdateOpen(EmuZoktRequest& request) {
    if (!EmuState_Get(kUpdateState, "").empty()) return true;
    EmuZokt_TraceAdd(request, " update=none");
    return false;
}

bool IsStart(UINT8 sub) { return sub == 1 || sub == 4; }

// Starts and ends of an update, once accepted; the starts are counted.
void TrackUpdate(UINT8 sub) {
    if (IsStart(sub)) {
        EmuState_Set(kUpdateState, sub == 1 ? "ignition" : "full");
        EmuState_SetNum("me_starts", EmuState_GetNum("me_starts", 0) + 1);
    }
    if (sub == 2 || sub == 5) EmuState_Set(kUpdateState, "");
}

// me_one_start: the firmware takes one full or ignition start in its boot
// (the emulated machine's life).
bool StartRefused(EmuZoktRequest& request, UINT8 sub) {
    if (!IsStart(sub) || EmuMachine_GetNum("me_one_start", 0) == 0 || EmuState_GetNum("me_starts", 0) == 0)
        return false;
    EmuZokt_TraceAdd(request, " started=again");
    return true;
}

// me_in_session: under secure flash, erase and write only inside a runtime session.
bool OutsideSession(EmuZoktRequest& request) {
    if (EmuMachine_GetNum("me_in_session", 0) == 0 || EmuSecureFlash_CheckErase().empty()) return false;
    EmuZokt_TraceAdd(request, " session=none");
    return true;
}

// me_write_verify: a written page must read back as the bytes given.
bool ReadsBack(UINT32 address, const UINT8* data, UINT32 size) {
    if (EmuMachine_GetNum("me_write_verify", 0) == 0) return true;
    std::vector<UINT8> stored(size);
    return EmuFlash_Read(address, stored.data(), size) && std::memcmp(stored.data(), data, size) == 0;
}

// A corrupting fault rule flips the first byte of the data.
void CorruptFirst(const EmuZoktRequest& request, UINT8* data, UINT32 size) {
    if (request.Corrupt && size != 0) data[0] ^= 0xFF;
}

// Sub-functions 0-8: the information, start/end, erase, write, read back.
UINT8 Info(EmuZoktRequest& request, UINT8 sub) {
    bool ignition = sub <= 2;
    if (ignition && EmuMachine_GetNum("me_ignition", 0) == 0) return 0;
    if (!ignition && EmuMachine_GetNum("me_full", 1) == 0) return 0;
    if (sub == 0 || sub == 3) {
        request.Put32(kRec + 2, static_cast<UINT32>(EmuMachine_GetNum("me_runtime_base", 0)));
        request.Put32(kRec + 6, static_cast<UINT32>(EmuMachine_GetNum("me_runtime_length", 0)));
        request.Put32(kRec + 0x0A, static_cast<UINT32>(EmuMachine_GetNum("me_bios_base", 0)));
        request.Put32(kRec + 0x0E, static_cast<UINT32>(EmuMachine_GetNum("me_bios_length", EmuFlash_Size())));
    }
    if (sub <= 5) {
        if (StartRefused(request, sub)) return 0;
        TrackUpdate(sub);
        return 1;
    }
    if (request.RecordSize != 30) return 0;  // the short form has no address fields
    UINT32 offset = request.U32(kRec + 0x12), address = request.U32(kRec + 0x16), size = request.U32(kRec + 0x1A);
    EmuZokt_TraceAdd(request, " addr=0x%08x size=0x%08x", address, size);
    if (!UpdateOpen(request) || !InFlash(address, size)) return 0;
    if ((sub == 6 || sub == 7) && OutsideSession(request)) return 0;
    if (sub == 6) {
        if (size > 0x10000 || Protected(address, size)) return 0;
        if (EmuZokt_Refused("me_refuse", "me_refused_", address)) return 0;
        std::vector<UINT8> blank(size, 0xFF);
        return EmuFlash_Write(address, blank.data(), size) ? 1 : 0;
    }
    if (static_cast<UINT64>(offset) + size > request.Buf.size() || offset < 0x400) return 0;
    UINT8* data = request.Buf.data() + offset;
    if (sub == 7) {
        if (size > 0x1000 || Protected(address, size)) return 0;
        if (EmuZokt_Refused("me_refuse", "me_refused_", address)) return 0;
        std::vector<UINT8> corrupted;
        if (request.Corrupt) {
            corrupted.assign(data, data + size);
            CorruptFirst(request, corrupted.data(), size);
        }
        if (!EmuFlash_Program(address, request.Corrupt ? corrupted.data() : data, size)) return 0;
        return ReadsBack(address, data, size) ? 1 : 0;
    }
    if (sub == 8) {
        if (!EmuFlash_Read(address, data, size)) return 0;
        CorruptFirst(request, data, size);
        return 1;
    }
    return 0;
}

UINT8 Version(EmuZoktRequest& request) {
    const UINT8* r = request.Record();
    bool wellFormed = r[0] == 0xFF && r[5] == 5 && r[6] == 9 && r[7] == 3;
    EmuZokt_TraceAdd(request, " query=%s", wellFormed ? "ok" : "bad");
    if (!wellFormed) return 0;
    return static_cast<UINT8>(EmuMachine_GetNum("me_new_interface", 1) != 0 ? 1 : 0);
}

UINT8 Table(EmuZoktRequest& request) {
    if (!EmuMachine_Has("me_regions")) return 0;
    std::vector<Region> regions = Regions();
    UINT32 count = regions.size() < 17 ? static_cast<UINT32>(regions.size()) : 17;
    for (UINT32 i = 0; i < count; ++i) {
        UINT32 at = kRec + 4 + i * 78;
        std::memcpy(request.Buf.data() + at, regions[i].Cmd.c_str(), std::min<size_t>(regions[i].Cmd.size(), 4));
        std::memcpy(request.Buf.data() + at + 4, regions[i].Help.c_str(), std::min<size_t>(regions[i].Help.size(), 64));
        request.Put32(at + 68, regions[i].Start);
        request.Put32(at + 72, regions[i].Size);
        request.Put8(at + 76, regions[i].Id);
        request.Put8(at + 77, regions[i].Lock);
    }
    request.Put16(kRec + 2, static_cast<UINT16>(EmuMachine_GetNum("me_region_count", count)));
    EmuZokt_TraceAdd(request, " count=0x%04x", request.U16(kRec + 2));
    return 1;
}

// Status 0x2 while the call-again count of the running step lasts.
UINT16 CallAgainStep() {
    UINT64 left = EmuState_GetNum("me_call_again_left", 0);
    if (left == 0) return 0;
    EmuState_SetNum("me_call_again_left", left - 1);
    return 0x2;
}

// Where an entry's bytes lie in the pushed data: at its start address (the
// push is the flash from offset 0), or with me_push_layout=packed the
// non-BIOS entries one after another in table order (the BIOS entry is not
// pushed there).
bool PushOffset(const std::vector<Region>& regions, size_t index, UINT64& offset) {
    if (EmuMachine_Get("me_push_layout", "") != "packed") {
        offset = regions[index].Start;
        return true;
    }
    if (regions[index].Id == 5) return false;
    offset = 0;
    for (size_t i = 0; i < index; ++i) {
        if (regions[i].Id != 5) offset += regions[i].Size;
    }
    return true;
}

// Carries out a region update: the bytes of the entry with that id are taken
// from the pushed data and written to flash.bin at the entry's start. Status
// 0x1 (nothing written) when no answered entry has that id or the push is
// too short for it.
UINT16 WriteRegion(EmuZoktRequest& request, UINT8 id) {
    std::vector<Region> regions = Regions();
    if (regions.size() > 17) regions.resize(17);
    for (size_t i = 0; i < regions.size(); ++i) {
        const Region& r = regions[i];
        if (r.Id != id) continue;
        std::string push = EmuState_Get("me_push.bin", "");
        UINT64 offset = 0;
        if (!PushOffset(regions, i, offset) || offset + r.Size > push.size() ||
            static_cast<UINT64>(r.Start) + r.Size > EmuFlash_Size())
            return 0x1;
        if (r.Size != 0 && !EmuFlash_Write(r.Start, push.data() + offset, r.Size)) return 0x1;
        EmuZokt_TraceAdd(request, " write=0x%08x,0x%08x", r.Start, r.Size);
        return 0;
    }
    return 0x1;
}

// Carries out an update-library update: the pushed data are written into
// flash.bin at me_meul_addr. Status 0x1 (nothing written) without pushed
// data, before every page the session was opened for came, for a capsule
// push, or when the data would pass the BIOS region's base (lying above
// the address) or the flash's end.
UINT16 WriteMeul(EmuZoktRequest& request) {
    std::string push = EmuState_Get("me_push.bin", "");
    if (!EmuState_Get("me_capsule", "").empty()) return 0x1;
    if (EmuState_GetNum("me_push_taken", 0) < EmuState_GetNum("me_push_pages", 0)) return 0x1;
    UINT64 address = EmuMachine_GetNum("me_meul_addr", EmuMachine_GetNum("me_runtime_base", 0));
    UINT64 biosBase = EmuMachine_GetNum("me_bios_base", 0);
    UINT64 end = address + push.size();
    if (push.empty() || end > EmuFlash_Size() || (biosBase > address && end > biosBase)) return 0x1;
    if (!EmuFlash_Write(static_cast<UINT32>(address), push.data(), static_cast<UINT32>(push.size()))) return 0x1;
    EmuZokt_TraceAdd(request, " write=0x%08x,0x%08x", static_cast<UINT32>(address), static_cast<UINT32>(push.size()));
    return 0;
}

// A new push of at most `pages` pages; any capsule push recorded before is gone.
void NewPush(UINT64 pages, const std::string& capsule) {
    EmuState_Set("me_push.bin", "");
    EmuState_SetNum("me_push_pages", pages);
    EmuState_SetNum("me_push_taken", 0);
    EmuState_Set("me_push_pending", "0");
    EmuState_SetNum("me_call_again_left", 0);
    EmuState_SetNum("me_update_region", 0);
    EmuState_Set("me_capsule", capsule);
}

// Sub-function 0x0A: region and update-library requests.
UINT8 RegionRequest(EmuZoktRequest& request) {
    UINT8 code = request.U8(kRec + 0x0A), id = request.U8(kRec + 0x0B);
    UINT32 first = request.U32(kRec + 2), size = request.U32(kRec + 0x12);
    EmuZokt_TraceAdd(request, " req=0x%02x region=0x%02x first=0x%08x size=0x%08x", code, id, first, size);
    std::string failing = EmuMachine_Get("me_region_fail", "");
    bool refused = !failing.empty() && Num(failing) == code;
    UINT16 status = 0;
    if (!UpdateOpen(request)) {
        status = 0x1;  // no update started: nothing is taken
    } else if (code == 0x01) {
        // ALLOC_SMM: `first` pages.
        if (!refused) NewPush(first, "");
    } else if (code == 0x03 || code == 0x05) {
        // TRAN_ONLY_ME, TRAN_BIOS_ME: a capsule push of `first` bytes; an
        // empty capsule is refused.
        char capsule[40];
        snprintf(capsule, sizeof(capsule), "%s 0x%x", code == 0x03 ? "only-me" : "bios-me", first);
        if (first == 0) status = 0x1;
        else if (!refused) NewPush((static_cast<UINT64>(first) + 0xFFF) / 0x1000, capsule);
    } else if (code == 0x10) {
        // FREE_SMM: the session and whatever it held are gone.
        if (!refused) NewPush(0, "");
    } else if (code == 0x20) {
        // MEUL_UPDATE: carried out at once.
        status = refused ? 0x1 : WriteMeul(request);
    } else if (code == 0x02) {
        UINT64 address = request.U32(kRec + 0x0E);
        std::vector<UINT8> data(size);
        UINT16 sum = 0;
        bool ok = size != 0 && size <= 0x1000 && request.U32(kRec + 0x1A) == address + size &&
                  EmuPhys_Read(address, data.data(), size);
        for (UINT32 i = 0; ok && i < size; i += 2) sum = static_cast<UINT16>(sum + data[i] + (i + 1 < size ? data[i + 1] << 8 : 0));
        EmuZokt_TraceAdd(request, " sum=0x%04x", sum);
        bool room = EmuState_GetNum("me_push_taken", 0) < EmuState_GetNum("me_push_pages", 0);
        if (!ok || sum != request.U32(kRec + 0x16) || !room || refused) {
            status = 0x1;
        } else {
            // A page answered "call again" is taken only when it comes back.
            if (EmuState_GetNum("me_call_again_left", 0) == 0 && EmuState_Get("me_push_pending", "0") == "0") {
                EmuState_SetNum("me_call_again_left", EmuMachine_GetNum("me_push_call_again", 0));
                EmuState_Set("me_push_pending", "1");
            }
            status = CallAgainStep();
            if (status == 0) {
                EmuState_Set("me_push_pending", "0");
                EmuState_SetNum("me_push_taken", EmuState_GetNum("me_push_taken", 0) + 1);
                EmuState_Set("me_push.bin", EmuState_Get("me_push.bin", "") +
                                                std::string(reinterpret_cast<char*>(data.data()), size));
            }
        }
    } else if (code == 0x04) {
        bool locked = false;
        for (const Region& r : Regions()) locked = locked || (r.Id == id && r.Lock != 0);
        // The region of an update start is written with its final answer
        // (kept as id + 1 while the firmware asks to be called again).
        EmuState_SetNum("me_update_region", 0);
        if (locked) {
            status = 0x1;
        } else {
            EmuState_SetNum("me_call_again_left", EmuMachine_GetNum("me_call_again", 0));
            status = CallAgainStep();
            EmuState_SetNum("me_update_region", static_cast<UINT64>(id) + 1);
        }
    } else if (code == 0x08) {
        status = CallAgainStep();
    }
    if (refused) status = 0x1;
    UINT64 updating = EmuState_GetNum("me_update_region", 0);
    if ((code == 0x04 || code == 0x08) && updating != 0 && status != 0x2) {
        EmuState_SetNum("me_update_region", 0);
        if (status == 0) status = WriteRegion(request, static_cast<UINT8>(updating - 1));
    }
    std::string text = EmuMachine_Get("me_region_text", "");
    if (!text.empty() && static_cast<UINT64>(0x400) + size + text.size() + 1 <= request.Buf.size()) {
        std::memcpy(request.Buf.data() + 0x400 + size, text.c_str(), text.size() + 1);
        status |= 0x4;
    }
    request.Put16(kRec + 0x0C, status);
    EmuZokt_TraceAdd(request, " status=0x%04x", status);
    return 1;
}

}  // namespace

bool EmuZokt_Me(EmuZoktRequest& request) {
    if (EmuMachine_GetNum("me_support", 1) == 0) return false;
    UINT8 sub = request.U8(kRec + 1);
    EmuZokt_TraceAdd(request, " sub=0x%02x size=0x%04x", sub, request.RecordSize);
    UINT8 result = 0;
    if (request.U8(kRec) != 0 && sub != 0x0B) {
        result = 0;  // a request carries return status 0
    } else if (FailedSub(sub)) {
        result = 0;
    } else if (sub <= 8) {
        result = Info(request, sub);
    } else if (sub == 0x09) {
        result = Table(request);
    } else if (sub == 0x0A) {
        result = RegionRequest(request);
    } else if (sub == 0x0B) {
        result = Version(request);
    }
    request.Put8(kRec, result);
    EmuZokt_TraceAdd(request, " done=%u", result);
    EmuZokt_Answer(request, EMU_ZOKT_RS_SUPPORT);
    EmuZokt_AnswerText(request, EmuMachine_Get("me_text", ""));
    return true;
}
