// The recovery-image copy to the EFI system partition.
#include <cstdio>
#include "EspCopyLnx.h"
#include "HuxCore.h"
#include "TKXFile.h"
#include "TKXRunEnd.h"
#include "TKXString.h"

static char CopyFilePath[256];
static char EspDrvpath[8];
static char EspDirectory[256];
static UINT8 bCpyFiletoESP = 0;
static UINT8* ESP_SrcBuffer = nullptr;
static UINT32 ESP_SrcBuffSize = 0;
// The copy written whole beside its name, until it takes the name or goes.
static FILE* s_NewCopy = nullptr;
// The copy under its name, with the file it replaced kept aside.
static TKX_REPLACED_FILE s_Replaced;

void InitCopyRecoveryFile() {
    MemSet(CopyFilePath, 0, sizeof(CopyFilePath));
    MemSet(EspDrvpath, 0, sizeof(EspDrvpath));
    MemSet(EspDirectory, 0, sizeof(EspDirectory));
    bCpyFiletoESP = 0;
    ESP_SrcBuffer = nullptr;
    ESP_SrcBuffSize = 0;
}

UINT8 InitESPDriver() {
    if (TKX_GetEspDirectory(EspDirectory, sizeof(EspDirectory))) bCpyFiletoESP = 1;
    return bCpyFiletoESP;
}

void SetCopyToESPStatus(UINT8 flag) { bCpyFiletoESP = flag; }

UINT8 GetCopyToESPStatus() { return bCpyFiletoESP; }

char* GetESPDriverName() { return EspDrvpath; }

void SetESPCopy(const char* name, UINT8* data, UINT32 size) {
    int length = snprintf(CopyFilePath, sizeof(CopyFilePath), "%s/%s", EspDirectory, name);
    // A cut path would name another file: no destination then.
    if (EspDirectory[0] == '\0' || length < 0 || static_cast<UINT32>(length) >= sizeof(CopyFilePath))
        CopyFilePath[0] = '\0';
    ESP_SrcBuffer = data;
    ESP_SrcBuffSize = size;
}

UINT8 GetESPCopyPending() { return ESP_SrcBuffer != nullptr ? 1 : 0; }

UINT8 RunESPCopy() {
    if (CopyFilePath[0] == '\0' || ESP_SrcBuffer == nullptr || s_NewCopy != nullptr) return 0;
    FILE* out = TKX_CreateNewFile(CopyFilePath);
    if (out == nullptr) return 0;
    // A full partition often shows only when the last bytes are flushed.
    // A part of an image never stands as the recovery file: a copy not
    // written whole stays new, and the run's end discards it.
    if (TKX_WriteFile(out, 0, ESP_SrcBuffSize, ESP_SrcBuffer) != ESP_SrcBuffSize ||
        TKX_FlushFile(out) != eEID_NO_ERROR)
        return 0;
    s_NewCopy = out;
    ESP_SrcBuffer = nullptr;
    ESP_SrcBuffSize = 0;
    return 1;
}

// The run ends before the session was asked for: the firmware never named
// this copy, so the partition gets back what it held.
static ENUM_ERR_ID UndoESPCopyAtRunEnd() {
    TKX_RestoreReplaced(&s_Replaced);
    return eEID_NO_ERROR;
}

UINT8 CommitESPCopy() {
    FILE* out = s_NewCopy;
    s_NewCopy = nullptr;
    if (out == nullptr) return 1;
    if (TKX_CommitNewFileKeepingOld(out, &s_Replaced) != eEID_NO_ERROR) return 0;
    TKX_RunEndPush(UndoESPCopyAtRunEnd);
    return 1;
}

void KeepESPCopy() {
    TKX_RunEndPop(UndoESPCopyAtRunEnd);
    TKX_ForgetReplaced(&s_Replaced);
}

void UndoESPCopy() {
    TKX_RunEndPop(UndoESPCopyAtRunEnd);
    TKX_RestoreReplaced(&s_Replaced);
}

static void NameKeptAside(const char* path, UINT64 size) {
    WriteOut(" - Kept aside by an earlier run: %s holds the " ESP_RECOVERY_FILE_NAME
             " that run replaced (%llu bytes); it is neither restored nor removed.\n",
             path, static_cast<unsigned long long>(size));
}

void SweepESPLeftovers() {
    char dir[sizeof(EspDirectory)];
    if (TKX_GetEspDirectory(dir, sizeof(dir))) TKX_SweepDirectory(dir, ESP_RECOVERY_FILE_NAME, NameKeptAside);
}

void ReleaseESPDriver() {}
