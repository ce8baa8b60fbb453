// The command status table: modules enter their command words at
// registration, the trailer's "@DIS" enable table sets their status, and the
// status removes commands or hides their help before the parse pass.
#include "TKXPhysMem.h"
#include "TKXString.h"
#include "YozZozRecords.h"

ZOZ_CMD_STATUS ZozCmdStatusList[ZOZ_CMD_STATUS_COUNT];
static bool s_TableInitialised = false;

// The numbered forms follow the plain ones: "/K" (73) and "/Kn" (75), "/R" (62) and "/Rn" (64).
static const UINT32 kFollowers[][2] = {{73, 75}, {62, 64}};

void YOZ_ZOZ_RegisterModule(ENUM_MODULE_ID id, const char* text) {
    if (text == nullptr) return;
    if (!s_TableInitialised) {
        MemSet(ZozCmdStatusList, 0, sizeof(ZozCmdStatusList));
        s_TableInitialised = true;
    }
    if (id >= ZOZ_CMD_STATUS_COUNT) return;
    ZOZ_CMD_STATUS& entry = ZozCmdStatusList[id];
    MemSet(&entry, 0, sizeof(entry));
    entry.ModuleId = id;
    TKX_BoundedCopy(entry.Name, text, sizeof(entry.Name) - 1);
    StrToLow(entry.Name);
    entry.Status = ZOZ_CMD_SHOWN;
}

UINT8 YOZ_ZOZ_CmdStatus(const ZOZ_DIS_CMD_DATA& entry) {
    if (entry.Shown == 0) return ZOZ_CMD_REMOVED;
    if (entry.Attributes == 0) return ZOZ_CMD_HELP_HIDDEN;
    if (entry.Attributes & 0x02) return ZOZ_CMD_SHOWN_ATTR;
    return ZOZ_CMD_SHOWN;
}

// An entry that a module registered: its text has a character after the "/".
static bool IsRegistered(const ZOZ_CMD_STATUS& entry) { return entry.Name[0] != '\0' && entry.Name[1] != '\0'; }

void YOZ_ZOZ_LoadCmdStatus() {
    UINT8* data = nullptr;
    UINT32 size = 0;
    if (!YOZ_ZOZ_GetData("@DIS", data, size)) return;
    if (size < ZOZ_DIS_ENTRIES_OFFSET) {
        FreeMem(data);
        return;
    }
    UINT32 count = static_cast<UINT32>(data[ZOZ_DIS_COUNT_OFFSET]) | (static_cast<UINT32>(data[ZOZ_DIS_COUNT_OFFSET + 1]) << 8);
    // Only the entries that lie inside the payload.
    UINT32 fits = (size - ZOZ_DIS_ENTRIES_OFFSET) / sizeof(ZOZ_DIS_CMD_DATA);
    if (count > fits) count = fits;
    if (count == 0) {
        FreeMem(data);
        return;
    }
    const ZOZ_DIS_CMD_DATA* entries = reinterpret_cast<const ZOZ_DIS_CMD_DATA*>(data + ZOZ_DIS_ENTRIES_OFFSET);

    for (UINT32 id = 0; id < ZOZ_CMD_STATUS_COUNT; ++id) ZozCmdStatusList[id].Status = ZOZ_CMD_SHOWN;
    for (UINT32 id = 0; id < ZOZ_CMD_STATUS_COUNT; ++id) {
        ZOZ_CMD_STATUS& status = ZozCmdStatusList[id];
        if (!IsRegistered(status)) continue;
        const char* word = status.Name + 1;
        for (UINT32 e = 0; e < count; ++e) {
            char name[sizeof(entries[e].Name) + 1];
            MemCpy(name, entries[e].Name, sizeof(entries[e].Name));
            name[sizeof(entries[e].Name)] = '\0';
            StrToLow(name);
            if (CompareString(name, "programall") == 0) continue;
            if (CompareString(name, word) != 0) continue;
            status.Status = YOZ_ZOZ_CmdStatus(entries[e]);
            for (const auto& follow : kFollowers) {
                if (id == follow[0] && status.Status != ZOZ_CMD_SHOWN) ZozCmdStatusList[follow[1]].Status = status.Status;
            }
            break;
        }
    }
    FreeMem(data);
}

void YOZ_ZOZ_CheckCommand(TKXQueueItemList& items) {
    YOZ_ZOZ_LoadCmdStatus();
    for (UINT32 id = 0; id < ZOZ_CMD_STATUS_COUNT; ++id) {
        const ZOZ_CMD_STATUS& status = ZozCmdStatusList[id];
        if (!IsRegistered(status)) continue;
        if (status.Status != ZOZ_CMD_REMOVED && status.Status != ZOZ_CMD_HELP_HIDDEN) continue;
        for (unsigned long i = 0; i < items.size(); ++i) {
            TKX_QUEUE_ITEM* item = items[i];
            if (item->ModuleId != status.ModuleId) continue;
            if (status.Status == ZOZ_CMD_REMOVED) {
                item->ParsingCommandFunction = nullptr;
                item->ExecutionActionFunction = nullptr;
            }
            item->CommandHelp = nullptr;
            break;
        }
    }
}
