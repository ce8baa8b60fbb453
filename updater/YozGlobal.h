// The always-on global items that frame every run (global, global check,
// secure flash, global end), the pre-flash check records the region and
// information modules publish, and the run state the check fills.
#pragma once
#include "HuxCore.h"

#pragma pack(push, 1)
// One module's pre-flash check record, filled at its registration.
struct CHECK_FUNC_ITEM {
    ENUM_ERR_ID (*CheckRomFunc)(INT16 sizeStatus);  // image-size check, or null
    ENUM_ERR_ID (*CheckBlockFunc)();                // block-layout check, or null
    UINT8 needsFile;
    UINT8 needsFileProcessing;
    UINT8 spare1;
    UINT8 needsFfsChecksum;
    UINT8 spare2;
    UINT8 needsRomIdCheck;
    UINT8* enabled;  // the module's queue-item enabled byte; active when it reads 1
};
#pragma pack(pop)
static_assert(offsetof(CHECK_FUNC_ITEM, needsFile) == 2 * sizeof(void*) &&
                  offsetof(CHECK_FUNC_ITEM, enabled) == 2 * sizeof(void*) + 6,
              "check record layout");
static_assert(sizeof(CHECK_FUNC_ITEM) == 3 * sizeof(void*) + 6, "check record size");

// The check records, each published by its module (null until it registers).
#define YOZ_CHECK_RECORDS(X) \
    X(PtrVerifyCheckFunc)          \
    X(PtrDisplayRomIDCheckFunc)    \
    X(PtrDisplaySysIDCheckFunc)    \
    X(PtrSPCheckFunc)              \
    X(PtrSMBCheckFunc)             \
    X(PtrBBCheckFunc)              \
    X(PtrBB2CheckFunc)             \
    X(PtrMBCheckFunc)              \
    X(PtrNVRAMCheckFunc)           \
    X(PtrNCBFullCheckFunc)         \
    X(PtrNCBKnCheckFunc)           \
    X(PtrRHFullCheckFunc)          \
    X(PtrRHLnCheckFunc)            \
    X(PtrRomHoleCheckFunc)         \
    X(PtrECUFCheckFunc)            \
    X(PtrSECCheckFunc)             \
    X(PtrNSECCheckFunc)            \
    X(PtrNESECXCheckFunc)          \
    X(PtrMEFCheckFunc)             \
    X(PtrMERFCheckFunc)            \
    X(PtrMEUFCheckFunc)            \
    X(PtrRHOCheckFunc)             \
    X(PtrOAKCheckFunc)             \
    X(PtrDeleteOAKCheckFunc)       \
    X(PtrOEMSMICheckFunc)          \
    X(PtrSMBNCheckFunc)
#define YOZ_DECLARE_CHECK_RECORD(Name) extern CHECK_FUNC_ITEM* Name;
YOZ_CHECK_RECORDS(YOZ_DECLARE_CHECK_RECORD)
#undef YOZ_DECLARE_CHECK_RECORD
// The chosen-SMBIOS-types record comes last: as with "/R", whether its
// structures fit the image is checked before anything is stored or written.
#define YOZ_CHECK_RECORD_SLOTS 26
// The record in walk slot i (0 to 25), null when its module has not published one.
CHECK_FUNC_ITEM* YOZ_GlobalCheck_Record(UINT32 slot);

// Run state of the check.
extern INT16 YOZ_RomFileSizeStatus;  // 0 equal, -1 smaller, 1 larger than the flash, -2 no image
extern UINT8* YOZ_pOriginalRomBuff;  // the image as loaded
extern UINT32 YOZ_OriginalRomSize;
extern UINT8* YOZ_pSecureFileBuff;   // the image handed to secure flash
extern UINT32 YOZ_SecureFileSize;
extern UINT8 YOZ_bCapHead;           // the image carries a capsule header
extern UINT8 YOZ_bNewCapFile;        // the image carries the embedded capsule file
extern UINT8 YOZ_bHaveME;            // the firmware answers ME requests
extern UINT8* YOZ_pMEBuff;           // the ME part of the image
extern UINT32 YOZ_MESize;
extern UINT8 YOZ_bMESupport;         // the run may update the ME
extern UINT8 YOZ_SecureFlashEnable;
extern UINT8* YOZ_pFlashBuff;        // working buffer of the region processors (gRomSize bytes)

// End hooks: run by the global end item, in append order, after the flash
// interface is closed.
typedef ENUM_ERR_ID (*YOZ_GlobalEndHookFunc)();
typedef TKXList<YOZ_GlobalEndHookFunc> YOZ_GLOBAL_END_HOOK_LIST;
extern YOZ_GLOBAL_END_HOOK_LIST YOZ_GlobalEndHookFuncList;

// Pipeline steps of their own.
ENUM_ERR_ID GlobalCheck_ZOKTVersion();
ENUM_ERR_ID GlobalCheck_ZOKT_EC_Battery_Status();
// The firmware's gates before anything is written, once a run: its greeting
// and error-out, the "$ECB" status and battery (unless "/jbc" or "/dpc"),
// and the password dialogue. For modules that reach the firmware before or
// without the pre-flash pipeline, which then finds them passed.
ENUM_ERR_ID YOZ_GlobalCheck_Gates();
// Forgets the gates passed (a new run; the global item's parse).
void YOZ_GlobalCheck_ResetGates();
// Splits the ME part off the image (YOZ_pMEBuff; the image shrinks by an ME
// volume); ME data without a volume is looked for only when `systemHasMe`.
// *fileHasMe (when given) tells whether such data was found.
ENUM_ERR_ID YOZ_GlobalCheck_SplitMePart(UINT8 systemHasMe, UINT8* fileHasMe);
// Capsule header, embedded capsule file and the secure-flash image
// (YOZ_bCapHead, YOZ_bNewCapFile, YOZ_pSecureFileBuff; the header is
// stripped from the working image).
void YOZ_GlobalCheck_TakeCapsuleForms();
// The whole pre-flash pipeline (the global check item's execute action).
ENUM_ERR_ID YOZ_GlobalCheck_Pipeline();

// Registrars.
ENUM_ERR_ID RegisterYozGlobalQueueItem(TKXQueueItemList& items);
ENUM_ERR_ID RegisterYozGlobalCheckQueueItem(TKXQueueItemList& items);
ENUM_ERR_ID RegisterYozGlobalSecureFlashQueueItem(TKXQueueItemList& items);
ENUM_ERR_ID RegisterYozGlobalEndQueueItem(TKXQueueItemList& items);
