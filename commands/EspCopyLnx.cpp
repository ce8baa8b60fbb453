// The recovery-image copy to the EFI system partition.
#include <cstdio>
#include "EspCopyLnx.h"
#include "TKXFile.h"
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
    if (TKX_WriteFile(out, 0, ESP_SrcBuffSize, ESP_SrcBuffer) != ESP_SrcBuffSize ||
        TKX_FlushFile(out) != eEID_NO_ERROR) {
        TKX_DiscardNewFile(out);
        return 0;
    }
    s_NewCopy = out;
    ESP_SrcBuffer = nullptr;
    ESP_SrcBuffSize = 0;
    return 1;
}

UINT8 CommitESPCopy() {
    FILE* out = s_NewCopy;
    s_NewCopy = nullptr;
    return out == nullptr || TKX_CommitNewFileKeepingOld(out, &s_Replaced) == eEID_NO_ERROR ? 1 : 0;
}

void KeepESPCopy() { TKX_ForgetReplaced(&s_Replaced); }

void UndoESPCopy() { TKX_RestoreReplaced(&s_Replaced); }

void ReleaseESPDriver() {}
