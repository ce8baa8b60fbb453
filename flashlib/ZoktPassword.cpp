// Firmware password: presence query, key entry and compare.
#include "ZoktPassword.h"
#include <cstdio>
#include "HuxCore.h"
#include "KeyDialogue.h"
#include "SmiTransport.h"
#include "TKXPhysMem.h"
#include "TKXPortIo.h"
#include "ZoktOneRecord.h"
#include "ZoktOutcome.h"

static UINT16 gExpectedPasswordLength = 0;
static UINT16 gPasswordReturnStatus = 0;
static char gPasswordText[256];
static UINT8 gPasswordHaveText = 0;

const char* CheckBIOSPWDReString() { return gPasswordHaveText ? gPasswordText : nullptr; }

UINT32 SWSMI_PWD(UINT8 function, const UINT8* password) {
    if (gpIntrBuf == nullptr) return 0;
    MemSet(gpIntrBuf, 0, INTERFACE_BUFFER_SIZE);
    ZOKT_PWD_STRUCT* record =
        reinterpret_cast<ZOKT_PWD_STRUCT*>(Zokt_BuildOneRecord(gpIntrBuf, ZOKT_FS_PWD, ZOKT_EXT_TC_PWD));
    record->Length = 0;
    record->Function = function;
    record->Status = 0;
    if (function == OEM_PC_PWD_CMP) {
        // The password takes the terminator's place.
        UINT16 at = static_cast<UINT16>(Zokt_RunningSizeOf(gpIntrBuf) - 4);
        Zokt_SetRunningSize(gpIntrBuf, at);
        MemSet(gpIntrBuf + at, 0, 4);
        record->Length = gExpectedPasswordLength;
        UINT32 n = 0;
        while (password != nullptr && n < gExpectedPasswordLength && password[n] != 0) ++n;
        if (n != 0) MemCpy(gpIntrBuf + at, password, n);
    }
    Zokt_SMI_26();
    return ZOKT_RECORD_OFFSET;
}

static UINT8 AskPresence(void* at) {
    *static_cast<UINT32*>(at) = SWSMI_PWD(OEM_PC_CK, nullptr);
    return 0;
}

UINT8 CheckPasswdPresent(UINT16& length, UINT8& status, char* text) {
    gExpectedPasswordLength = 0;
    length = 0;
    status = 0;
    if (text != nullptr) text[0] = '\0';
    // A query whose answer was lost says nothing about a password: it goes
    // out again while unanswered.
    UINT32 at = 0;
    Zokt_SendWhileUnanswered(AskPresence, &at);
    if (at == 0) return 0;
    gPasswordReturnStatus = Zokt_ReturnStatusOf(gpIntrBuf);
    if ((gPasswordReturnStatus & ZOKT_RS_SUPPORT) == 0) return 0;
    if (text != nullptr && (gPasswordReturnStatus & ZOKT_RS_DIS_OEMSTR) != 0) {
        char answerText[256];
        Zokt_GetAnswerText(gpIntrBuf, answerText);
        TKX_BoundedCopy(text, answerText, 255);
    }
    const ZOKT_PWD_STRUCT* answer = reinterpret_cast<const ZOKT_PWD_STRUCT*>(gpIntrBuf + at);
    status = answer->Status;
    if ((status & OEM_RS_PC_REQ) == 0) return 0;
    length = answer->Length;
    gExpectedPasswordLength = length;
    return 1;
}

char* GetUserInputPWD(UINT16 length) {
    if (length == 0) return nullptr;
    char* text = reinterpret_cast<char*>(AllocMem(static_cast<UINT32>(length) + 1));
    if (text == nullptr) return nullptr;
    fflush(stdout);
    YOZ_BeginKeyDialogue();
    UINT32 count = 0;
    bool entered = false;
    for (;;) {
        int key = getch();
        if (key == EOF) break;
        if (key == 0x0D || key == 0x0A) {
            entered = true;
            break;
        }
        if (key == 0x08 || key == 0x7F) {
            if (count != 0) {
                text[--count] = '\0';
                WriteOut("\b \b");
            }
        } else if (key > 0x1F && count < length) {
            text[count++] = static_cast<char>(key);
            WriteOut("*");
        }
        fflush(stdout);
    }
    YOZ_EndKeyDialogue();
    text[count] = '\0';
    WriteOut("\n");
    if (!entered) {
        // Input ended before Enter: nothing was confirmed.
        MemSet(text, 0, static_cast<UINT32>(length) + 1);
        FreeMem(text);
        return nullptr;
    }
    return text;
}

UINT8 CheckBIOSPWD(const UINT8* password, UINT8& status) {
    status = 0;
    gPasswordText[0] = '\0';
    gPasswordHaveText = 0;
    UINT32 at = SWSMI_PWD(OEM_PC_PWD_CMP, password);
    if (at == 0) return 0;
    gPasswordReturnStatus = Zokt_ReturnStatusOf(gpIntrBuf);
    if ((gPasswordReturnStatus & ZOKT_RS_SUPPORT) == 0) return 0;
    if ((gPasswordReturnStatus & ZOKT_RS_DIS_OEMSTR) != 0) {
        char answerText[256];
        if (Zokt_GetAnswerText(gpIntrBuf, answerText) != 0) {
            Zokt_FrameText(gPasswordText, " - ", answerText, " \n");
            gPasswordHaveText = 1;
        }
    }
    status = reinterpret_cast<const ZOKT_PWD_STRUCT*>(gpIntrBuf + at)->Status;
    return status == OEM_RS_PC_CK_OK ? 1 : 0;
}
