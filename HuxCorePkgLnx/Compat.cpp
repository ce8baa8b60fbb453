// The modules' declared compatibility and the one check of a command line
// against it.
#include "HuxCompat.h"
#include <cstdio>

namespace {

struct COMPAT_ENTRY {
    const TKX_QUEUE_ITEM* Item;
    HUX_COMPAT Compat;
    const char* Word;
};

// One entry per declaring module; the module table has 110 slots.
const UINT32 kMaxEntries = 110;
COMPAT_ENTRY s_Entries[kMaxEntries];
UINT32 s_EntryCount = 0;

// Stands for the claimer of the words claimed before the parse pass.
const TKX_QUEUE_ITEM kBeforeParse = {};

const COMPAT_ENTRY* EntryOf(const TKX_QUEUE_ITEM* item) {
    for (UINT32 i = 0; i < s_EntryCount; ++i)
        if (s_Entries[i].Item == item) return &s_Entries[i];
    return nullptr;
}

const char* WordOf(const TKX_QUEUE_ITEM* item) {
    const COMPAT_ENTRY* entry = EntryOf(item);
    return entry != nullptr && entry->Word != nullptr ? entry->Word : "";
}

// The enabled items of one kind, in table order.
const TKX_QUEUE_ITEM* EnabledOfKind(TKXQueueItemList& items, HUX_COMPAT compat, const TKX_QUEUE_ITEM* after) {
    bool passed = after == nullptr;
    for (unsigned long i = 0; i < items.size(); ++i) {
        const TKX_QUEUE_ITEM* item = items[i];
        if (!passed) {
            passed = item == after;
            continue;
        }
        if (item->Enabled == 1 && HuxCompatOf(item) == compat) return item;
    }
    return nullptr;
}

// Word 1 is the file of a stand-alone command; every later word must be
// its own, a word taken before the parse, or one of a kind that goes with it.
const char* WordAgainst(TKXArgvList& args, const TKX_QUEUE_ITEM* alone) {
    for (unsigned long i = 2; i < args.size(); ++i) {
        const TKX_ARGV_ITEM* word = args[i];
        if (word->claimed == 0) return word->text;
        const TKX_QUEUE_ITEM* by = word->claimedBy;
        if (by == nullptr || by == alone || by == &kBeforeParse) continue;
        if (HuxCompatOf(by) == HUX_COMPAT_ANY || HuxCompatOf(by) == HUX_COMPAT_STANDS_ALONE) return word->text;
    }
    return nullptr;
}

}  // namespace

void HuxDeclareCompat(const TKX_QUEUE_ITEM* item, HUX_COMPAT compat, const char* word) {
    for (UINT32 i = 0; i < s_EntryCount; ++i) {
        if (s_Entries[i].Item != item) continue;
        s_Entries[i].Compat = compat;
        s_Entries[i].Word = word;
        return;
    }
    if (s_EntryCount < kMaxEntries) s_Entries[s_EntryCount++] = COMPAT_ENTRY{item, compat, word};
}

HUX_COMPAT HuxCompatOf(const TKX_QUEUE_ITEM* item) {
    const COMPAT_ENTRY* entry = EntryOf(item);
    return entry != nullptr ? entry->Compat : HUX_COMPAT_ANY;
}

void HuxCompat_ClaimedBeforeParse(TKXArgvList& args) {
    for (unsigned long i = 0; i < args.size(); ++i)
        if (args[i]->claimed && args[i]->claimedBy == nullptr) args[i]->claimedBy = &kBeforeParse;
}

void HuxCompat_NoteClaims(TKXArgvList& args, const TKX_QUEUE_ITEM* item) {
    for (unsigned long i = 0; i < args.size(); ++i)
        if (args[i]->claimed && args[i]->claimedBy == nullptr) args[i]->claimedBy = item;
}

UINT8 HuxCompat_GoesBesideStandAlone(const TKX_QUEUE_ITEM* item) {
    HUX_COMPAT compat = HuxCompatOf(item);
    return compat == HUX_COMPAT_RUN_CONTROL || compat == HUX_COMPAT_POWER_ACTION ? 1 : 0;
}

ENUM_ERR_ID HuxCheckCompat(TKXArgvList& args, TKXQueueItemList& items, char* why, UINT32 size) {
    const TKX_QUEUE_ITEM* alone = EnabledOfKind(items, HUX_COMPAT_STANDS_ALONE, nullptr);
    const char* against = alone != nullptr ? WordAgainst(args, alone) : nullptr;
    if (against != nullptr) {
        snprintf(why, size,
                 "\"%s\" stands alone: \"%s\" cannot be given with it (only options that set how it runs, and "
                 "one restart or power-off after it).\n",
                 WordOf(alone), against);
        return eEID_COMMAND_LINE;
    }
    const TKX_QUEUE_ITEM* power = EnabledOfKind(items, HUX_COMPAT_POWER_ACTION, nullptr);
    const TKX_QUEUE_ITEM* second = power != nullptr ? EnabledOfKind(items, HUX_COMPAT_POWER_ACTION, power) : nullptr;
    if (second != nullptr) {
        snprintf(why, size, "\"%s\" and \"%s\" cannot be given together: a run ends with one restart, power-off or reset.\n",
                 WordOf(power), WordOf(second));
        return eEID_COMMAND_LINE;
    }
    // A mode with its own power-off hands the image to the firmware and
    // leaves the ME updates alone.
    const TKX_QUEUE_ITEM* own = EnabledOfKind(items, HUX_COMPAT_OWN_POWER, nullptr);
    const TKX_QUEUE_ITEM* me = own == nullptr ? EnabledOfKind(items, HUX_COMPAT_ME_UPDATE, nullptr) : nullptr;
    const TKX_QUEUE_ITEM* otherMe = me != nullptr ? EnabledOfKind(items, HUX_COMPAT_ME_UPDATE, me) : nullptr;
    if (otherMe != nullptr) {
        snprintf(why, size, "\"%s\" and \"%s\" cannot be given together: the firmware takes one ME update a run.\n",
                 WordOf(me), WordOf(otherMe));
        return eEID_COMMAND_LINE;
    }
    if (own != nullptr && power != nullptr) {
        WriteOut(" - \"%s\" has no effect: \"%s\" ends the run with its own power-off or restart question.\n",
                 WordOf(power), WordOf(own));
        for (unsigned long i = 0; i < items.size(); ++i) {
            if (items[i]->Enabled == 1 && HuxCompatOf(items[i]) == HUX_COMPAT_POWER_ACTION) items[i]->Enabled = 0;
        }
    }
    return eEID_NO_ERROR;
}
