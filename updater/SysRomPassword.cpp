// The firmware password dialogue before flashing.
#include <cstring>
#include "RomInfo.h"
#include "TKXOutput.h"
#include "TKXPhysMem.h"
#include "YozOptionStore.h"
#include "YozSysRom.h"
#include "ZoktPassword.h"
#include "ZoktFormat.h"

#define PW_STATUS_LOCKED 0x04
#define ZOKT_RS_DIS_OEMSTR 0x10
#define ZOKT_RETURN_STATUS_AT 0x0C
// A password file is sent once: resending the same refused text only uses up
// the firmware's attempts. Typed passwords get three tries.
#define PW_FILE_ATTEMPTS 1
#define PW_KEYBOARD_ATTEMPTS 3
#define PW_TEXT_SIZE 256

void YOZ_SysRom_PassWord(UINT8* data, UINT32 size) {
    gYOZ_SysRom_PassWord = data;
    gYOZ_SysRom_PWFileSize = data ? size : 0;
}

// The return status the firmware left in the interface buffer.
static UINT16 ReturnStatus() {
    if (gpIntrBuf == nullptr) return 0;
    return static_cast<UINT16>(gpIntrBuf[ZOKT_RETURN_STATUS_AT] | gpIntrBuf[ZOKT_RETURN_STATUS_AT + 1] << 8);
}

static void PrintAnswerText() {
    const char* text = CheckBIOSPWDReString();
    if (text != nullptr) WriteOut("%s", text);
}

// The file's password when its printable bytes are exactly `length`, else
// `length` zero bytes. Heap, caller frees.
static UINT8* FilePassword(UINT16 length) {
    UINT8* pw = AllocMem(static_cast<UINT32>(length) + 1);
    if (pw == nullptr) return nullptr;
    UINT32 printable = 0;
    for (UINT32 i = 0; i < gYOZ_SysRom_PWFileSize; ++i) {
        if (gYOZ_SysRom_PassWord[i] >= 0x20 && gYOZ_SysRom_PassWord[i] <= 0x7E) ++printable;
    }
    if (printable == length) memcpy(pw, gYOZ_SysRom_PassWord, length);
    return pw;
}

ENUM_ERR_ID YOZ_SysRom_CheckPW() {
    // Asked once a run: a module that checks ahead of the pipeline has asked already.
    if (gYOZ_SysRom_PWPassed || Zokt_GetVer() == 0) return eEID_NO_ERROR;
    WriteOutT saved = WriteOut;
    if (YOZ_GetQuietCmdIsEnable() || YOZ_GetDefAnsCmdIsEnable()) WriteOut = TKXPrintf;

    UINT16 length = 0;
    UINT8 status = 0;
    char text[PW_TEXT_SIZE];
    memset(text, 0, sizeof(text));
    if (!CheckPasswdPresent(length, status, text)) {
        WriteOut = saved;
        gYOZ_SysRom_PWPassed = 1;
        return eEID_NO_ERROR;
    }
    text[PW_TEXT_SIZE - 1] = 0;
    bool accepted = false;
    if (status & PW_STATUS_LOCKED) {
        if (ReturnStatus() & ZOKT_RS_DIS_OEMSTR) WriteOut(" - %s\n", text);
    } else {
        WriteOut(" - Please enter password and then press enter.\n");
        bool fromFile = gYOZ_SysRom_PassWord != nullptr;
        UINT8* filePw = fromFile ? FilePassword(length) : nullptr;
        if (fromFile && filePw == nullptr) return eEID_MEM_ALLOC;
        for (UINT32 attempt = 0; !accepted; ++attempt) {
            if (attempt >= (fromFile ? PW_FILE_ATTEMPTS : PW_KEYBOARD_ATTEMPTS)) break;
            const char* prompt = (ReturnStatus() & ZOKT_RS_DIS_OEMSTR) ? text : "Password";
            WriteOut(" - %s: ", prompt);
            status = 0;
            if (fromFile) {
                accepted = CheckBIOSPWD(filePw, status) != 0;
                PrintAnswerText();
                WriteOut("Input File Mode.\n");
            } else {
                char* typed = GetUserInputPWD(length);
                if (typed == nullptr) return eEID_PASSWORD_ERROR;
                accepted = CheckBIOSPWD(reinterpret_cast<UINT8*>(typed), status) != 0;
                FreeMem(typed);
                PrintAnswerText();
            }
            if (status & PW_STATUS_LOCKED) break;
        }
        FreeMem(filePw);
    }
    if (!accepted) {
        if (ReturnStatus() & ZOKT_RS_DIS_OEMSTR) ErrorOut = YOZ_OEM_ErrorPrintf;
        return eEID_PASSWORD_ERROR;
    }
    WriteOut = saved;
    gYOZ_SysRom_PWPassed = 1;
    return eEID_NO_ERROR;
}
