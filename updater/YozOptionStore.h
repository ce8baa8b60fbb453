// The option flag store and the helpers every module shares: command flags
// (each follows its module's enabled byte), value flags, the two operator
// prompts, the help pager, checksums, GUID and hex text, the firmware-ID file
// locator and the silent error printer. All of it is global state of the
// single thread.
#pragma once
#include "HuxErrorId.h"
#include "HuxTypes.h"
#include "KeyDialogue.h"

// Command flags: the setter keeps a pointer to the module's enabled byte (null
// allowed); the getter reads that byte at the time of the question, 0 while
// no pointer is kept. The odd name pairs are the names the modules call.
#define YOZ_COMMAND_FLAGS(X)                                   \
    X(YOZ_SetDCmdIsEnable, YOZ_GetDCmdIsEnable)                \
    X(YOZ_SetSCmdIsEnable, YOZ_GetSCmdIsEnable)                \
    X(YOZ_SetUCmdIsEnable, YOZ_GetUCmdIsEnable)                \
    X(YOZ_SetPCmdIsEnable, YOZ_GetPCmdIsEnable)                \
    X(YOZ_SetBCmdIsEnable, YOZ_GetBCmdIsEnable)                \
    X(YOZ_SetB2CmdIsEnable, YOZ_GetB2CmdIsEnable)              \
    X(YOZ_SetNCmdIsEnable, YOZ_GetNCmdIsEnable)                \
    X(YOZ_SetSECCmdIsEnable, YOZ_GetECCmdIsEnable)             \
    X(YOZ_SetSECUFCmdIsEnable, YOZ_GetECUFCmdIsEnable)         \
    X(YOZ_SetNSECCmdIsEnable, YOZ_GetNSECCmdIsEnable)          \
    X(YOZ_SetECXCmdIsEnable, YOZ_GetECXCmdIsEnable)            \
    X(YOZ_SetNCBFullCmdIsEnable, YOZ_GetNCBFullCmdIsEnable)    \
    X(YOZ_SetNCBKnCmdIsEnable, YOZ_GetNCBKnCmdIsEnable)        \
    X(YOZ_SetMECmdIsEnable, YOZ_GetMECmdIsEnable)              \
    X(YOZ_SetMERCmdIsEnable, YOZ_GetMERCmdIsEnable)            \
    X(YOZ_SetMEUFCmdIsEnable, YOZ_GetMEUFCmdIsEnable)          \
    X(YOZ_SetMEBULCmdIsEnable, YOZ_GetMEBULCmdIsEnable)        \
    X(YOZ_SetRHFullCmdIsEnable, YOZ_GetRHFullCmdIsEnable)      \
    X(YOZ_SetRHLnCmdIsEnable, YOZ_GetRHLnCmdIsEnable)          \
    X(YOZ_SetHOLECmdIsEnable, YOZ_GetHOLECmdIsEnable)          \
    X(YOZ_SetHOLEOUTCmdIsEnable, YOZ_GetHOLEOUTCmdIsEnable)    \
    X(YOZ_SetOAKeyCmdIsEnable, YOZ_GetOAKeyCmdIsEnable)        \
    X(YOZ_SetDeleteOAKeyCmdIsEnable, YOZ_GetODeleteAKeyCmdIsEnable) \
    X(YOZ_SetQuietCmdIsEnable, YOZ_GetQuietCmdIsEnable)        \
    X(YOZ_SetDefAnsCmdIsEnable, YOZ_GetDefAnsCmdIsEnable)      \
    X(YOZ_SetDelZOZCmdIsEnable, YOZ_GetDelZOZCmdIsEnable)      \
    X(YOZ_SetPWCmdIsEnable, YOZ_GetPWCmdIsEnable)              \
    X(YOZ_SetGANCmdIsEnable, YOZ_GetGANCmdIsEnable)            \
    X(YOZ_SetOCmdIsEnable, YOZ_GetOCmdIsEnable)                \
    X(YOZ_SetCapsuleMode, YOZ_GetCapsuleMode)                  \
    X(YOZ_SetRecoveryMode, YOZ_GetRecoveryMode)                \
    X(YOZ_SetRebootCmdIsEnable, YOZ_GetRebootCmdIsEnable)      \
    X(YOZ_SetShutdownCmdIsEnable, YOZ_GetShutdownCmdIsEnable)

// Value flags: a byte kept by value; (setter, getter, storage, start value).
#define YOZ_VALUE_FLAGS(X)                                                                       \
    X(YOZ_SetMERLoadEnable, YOZ_GetMERLoadEnable, YOZ_bMERLoadEnable, 0)                         \
    X(YOZ_SetMEULCAPCmdIsEnable, YOZ_GetMEULCAPCmdIsEnable, YOZ_bMEULCAPCmd, 0)                  \
    X(YOZ_SetMFGIsEnable, YOZ_GetMFGIsEnable, YOZ_bMFGIsEnable, 0)                               \
    X(YOZ_SetLayOutChang, YOZ_GetLayOutChang, YOZ_bLayOutChang, 0)                               \
    X(YOZ_Com_SetRomLayoutChange, YOZ_Com_GetRomLayoutChange, YOZ_bRomLayoutChange, 0)           \
    X(YOZ_SetNPSLPMode, YOZ_GetNPSLPMode, YOZ_bNPSLPMode, 0)                                     \
    X(YOZ_SetSLPKeyIsExist, YOZ_GetSLPKeyIsExist, YOZ_bSLPKeyIsExist, 0)                         \
    X(YOZ_SetOrvex5, YOZ_GetOrvex5, YOZ_bOrvex5, 1)                                              \
    X(YOZ_SetOrvexCheck, YOZ_GetOrvexCheck, YOZ_bOrvexCheck, 1)                                  \
    X(YOZ_SetEMMC_2x2_Mode, YOZ_GetEMMC_2x2_Mode, YOZ_bEMMC_2x2_Mode, 0)                         \
    X(YOZ_SetBIMCisExist, YOZ_GetBIMCisExist, YOZ_bBIMCisExist, 0)                               \
    X(YOZ_SetMLAP_FTF_isExist, YOZ_GetMLAP_FTF_isExist, YOZ_bMLAP_FTF_isExist, 0)                \
    X(YOZ_SetMLAP_APL_isExist, YOZ_GetMLAP_APL_isExist, YOZ_bMLAP_APL_isExist, 0)                \
    X(YOZ_SetPFATMode, YOZ_GetPFATMode, YOZ_bPFATMode, 0)                                        \
    X(YOZ_SetPFATMode_RomIsBIOSGuardRom, YOZ_GetPFATMode_RomIsBIOSGuardRom, YOZ_bPFATRomIsBG, 0) \
    X(YOZ_Set_JumpBatteryCheckStatus, YOZ_Get_JumpBatteryCheckStatus, YOZ_bJumpBatteryCheck, 0)  \
    X(YOZ_Set_AllowHideCommandStatus, YOZ_Get_AllowHideCommandStatus, YOZ_bAllowHideCommand, 0)  \
    X(YOZ_SetOAKeyForced, YOZ_GetOAKeyForced, YOZ_bOAKeyForced, 0)

#define YOZ_DECLARE_COMMAND_FLAG(Setter, Getter) \
    void Setter(UINT8* enabled);                 \
    UINT8 Getter();
#define YOZ_DECLARE_VALUE_FLAG(Setter, Getter, Storage, Start) \
    extern UINT8 Storage;                                      \
    void Setter(UINT8 value);                                  \
    UINT8 Getter();
YOZ_COMMAND_FLAGS(YOZ_DECLARE_COMMAND_FLAG)
YOZ_VALUE_FLAGS(YOZ_DECLARE_VALUE_FLAG)
#undef YOZ_DECLARE_COMMAND_FLAG
#undef YOZ_DECLARE_VALUE_FLAG

// 1 when boot block, main BIOS and NVRAM are all on; the answer is also kept
// in YOZ_bFlashPBN.
UINT8 YOZ_GetPBNCmdIsEnable();
extern UINT8 YOZ_bFlashPBN;

// Secure flash: the check stores the library's answer in YOZ_SecureFlashFlag;
// the status asks the library again on every call.
extern UINT8 YOZ_SecureFlashFlag;
void YOZ_CheckSecureFlash();
UINT8 YOZ_GetSecureFlashStatus();

// Globals shared by the modules and the region processors.
extern UINT8 YOZ_CommandNum;     // stand-alone commands given ("/U", "/O", "/D")
extern UINT8* YOZ_pInputLnList;  // 16 per-number ROM-hole choices, or null
extern UINT8 YOZ_bCAFFlag;       // compare-and-flash ("/caf")

// Operator prompts: keys are read one at a time from standard input.
// Yes/No: 0 Yes, 1 No (also when input ends). F/E/A: 0 F, 1 E (also when
// input ends), 2 A.
UINT8 YOZ_PromptYesOrNo(const char* text);
UINT8 YOZ_PromptFOrEOrA(const char* text);
// 1 when the last Yes/No or F/E/A prompt met the end of input (its answer
// was then the cancelling one).
UINT8 YOZ_PromptInputEnded();
// Output file: YOZ_FILE_NEW when nothing has its name; YOZ_FILE_REFUSED,
// after saying so, when something other than a regular file has it (a link,
// a directory, a device: nothing is written through or over it; the caller
// fails with eEID_OPEN_OUT_FILE); else the operator is asked whether to
// replace the file: YOZ_FILE_REPLACE on Yes, YOZ_FILE_KEEP on No,
// YOZ_FILE_NO_ANSWER when input ended without an answer (the caller fails
// with eEID_UPDATE_CANCEL_BY_USER).
enum : UINT8 { YOZ_FILE_NEW, YOZ_FILE_REPLACE, YOZ_FILE_KEEP, YOZ_FILE_NO_ANSWER, YOZ_FILE_REFUSED };
UINT8 YOZ_PromptReplaceFile(const char* name);
// The two force-or-quit lines and "- Please select one of the options:";
// the Yes/No answer (0 Yes: force the update).
UINT8 YOZ_PromptForceUpdate();

// Help pager: every help line is counted; after 18 counted lines the pager
// waits for a key ("<Press any key to continue>\r").
extern UINT8 YOZ_LineCount;
void YOZ_InitGlobalLineCont();
void YOZ_CheckGlobalLineCont(UINT32 lines);

// Key dialogue bracket of the prompts and the pager: KeyDialogue.h.

// Checksums and text conversions.
UINT8 YOZ_CalCheckSum8(const UINT8* data, UINT32 length);
UINT16 YOZ_CalCheckSum16(const UINT16* data, UINT32 wordCount);
UINT8 YOZ_Conv_GetNum(char c);
// GUID text: exactly 32 hex digits without dashes, nothing before or after.
// Fills *guid and returns 0; any other text gives eEID_COMMAND_LINE and
// leaves *guid alone.
ENUM_ERR_ID YOZ_Conv_StrtoGUID(const char* text, EFI_GUID* guid);
// Upper-cases the text in place; the last 8 characters give the value.
UINT32 YOZ_HexStringToValue(char* text);
bool YOZ_Isxdigit(int c);
void YOZ_PrintGuid(const UINT8* guid);

// Offset of the firmware-ID file in a buffer of the system ROM's size, 0 when
// absent.
UINT32 YOZ_SearchFIDGuid_Offset(const UINT8* rom);
// Same search over a buffer of the given size.
UINT32 YOZ_SearchFIDGuid_OffsetIn(const UINT8* rom, UINT32 size);

// Error printer that prints nothing (the firmware shows its own text).
ENUM_ERR_ID YOZ_OEM_ErrorPrintf(ENUM_ERR_ID code);
// No graphical front end in this build: always 0.
UINT8 YOZ_GUIControl();
