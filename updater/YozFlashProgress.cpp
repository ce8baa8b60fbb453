// Progress lines of the flash engine. One line per region: the region's
// message text, "0x" with the address in eight upper-case hex digits and the
// percentage, rewritten in place with "\r"; the region ends with "done", 16
// blanks and a new line.
#include <cstdarg>
#include <cstdio>
#include "TKXString.h"
#include "YozFlash.h"
#include "YozOptionStore.h"

// Each text padded to 80 bytes by the array size.
const YOZ_FLASH_MSG_SET YOZ_FlashMsgBox[YOZ_FLASH_MSG_SETS] = {
    {" Erasing Boot Block .......... ", " Updating Boot Block ......... ", " Verifying Boot Block ........ "},
    {" Erasing Main Block .......... ", " Updating Main Block ......... ", " Verifying Main Block ........ "},
    {" Erasing NVRAM Block ......... ", " Updating NVRAM Block ........ ", " Verifying NVRAM Block ....... "},
    {" Erasing EC Block ............ ", " Updating EC Block ........... ", " Verifying EC Block .......... "},
    {" Erasing NCB Block ........... ", " Updating NCB Block .......... ", " Verifying NCB Block ......... "},
    {" Erasing RomHole Block ....... ", " Updating RomHole Block ...... ", " Verifying RomHole Block ..... "},
    {" Erasing ME Block ............ ", " Updating ME Block ........... ", " Verifying ME Block .......... "},
    {" Erasing ECX Block ........... ", " Updating ECX Block .......... ", " Verifying ECX Block ......... "},
    {" Erasing OA Block ............ ", " Updating OA Block ........... ", " Verifying OA Block .......... "},
    {" Erasing All Block ........... ", " Updating All Block .......... ", " Verifying All Block ......... "},
    {" Erasing AplFt Block ......... ", " Updating AplFt Block ........ ", " Verifying AplFt Block ....... "},
};
const char YOZ_FlashReadMsg[YOZ_FLASH_MSG_TEXT] = " Reading flash ............... ";
const char YOZ_FlashSaveMsg[YOZ_FLASH_MSG_TEXT] = " Saveing RomHole Block ....... ";

static const char kDoneTail[] = "done                \n";

UINT32 doneRegion = 0;

enum YozMsgKind { kMsgErase, kMsgUpdate, kMsgVerify };

// The current set's text; a set outside the table (the whole-flash read's
// 0xFF, or none chosen yet) has an empty text.
static const char* CurrentSetText(YozMsgKind kind) {
    if (YOZ_FlashFvType >= YOZ_FLASH_MSG_SETS) return "";
    const YOZ_FLASH_MSG_SET& set = YOZ_FlashMsgBox[YOZ_FlashFvType];
    return kind == kMsgErase ? set.Erase : kind == kMsgUpdate ? set.Update : set.Verify;
}

// Starts the line with a message text.
static void StartLine(const char* text) { TKX_BoundedCopy(YOZ_MsgShowBuff, text, sizeof(YOZ_MsgShowBuff) - 1); }

// Appends to the line; the line is formatted into a temporary first, never
// into itself.
static void AppendLine(const char* format, ...) __attribute__((format(printf, 1, 2)));
static void AppendLine(const char* format, ...) {
    char tail[YOZ_MSG_SHOW_BUFF_SIZE];
    va_list ap;
    va_start(ap, format);
    vsnprintf(tail, sizeof(tail), format, ap);
    va_end(ap);
    UINT32 used = StringLength(YOZ_MsgShowBuff);
    TKX_BoundedCopy(YOZ_MsgShowBuff + used, tail, sizeof(YOZ_MsgShowBuff) - 1 - used);
}

static void PrintLine() { WriteOut("%s", YOZ_MsgShowBuff); }

// Sizes above 999 are shown in thousands.
UINT32 YOZ_ProgressUnits(UINT32 value) { return value > 999 ? value / 1000 : value; }

// done × 100 / total in display units; 0 when there is no total.
static int Percent(UINT32 doneUnits, UINT32 totalUnits) {
    if (totalUnits == 0) return 0;
    return static_cast<int>(static_cast<UINT64>(doneUnits) * 100 / totalUnits);
}

static void AppendAddressAndPercent(UINT32 address, int percent) {
    AppendLine("0x%08lX (%d%%) \r", static_cast<unsigned long>(address), percent);
}

void YOZ_PrintProgress(UINT32 a, UINT32 b, UINT32 c) {
    if (a != YOZ_PROGRESS_CLOSE) {
        if (YOZ_FlashBlockAllSize == 0) return;
        doneRegion += YOZ_ProgressUnits(c);
        AppendAddressAndPercent(a, Percent(doneRegion, YOZ_ProgressUnits(YOZ_FlashBlockAllSize)));
    } else if (b == 0 && c == YOZ_PROGRESS_CLOSE) {
        // A new attempt: the line restarts and stays open.
        doneRegion = 0;
        AppendLine("\r");
    } else if (b == YOZ_PROGRESS_CLOSE && c == YOZ_PROGRESS_CLOSE) {
        AppendLine("\n");
    } else {
        doneRegion = 0;
        AppendLine("%s", kDoneTail);
    }
}

// Under compare-and-flash a region with nothing to write stays silent.
static bool CafSilent() { return YOZ_bCAFFlag != 0 && YOZ_FlashBlockAllSize == 0; }

static void BlockMapCallBack(YozMsgKind kind, UINT32 a, UINT32 b, UINT32 c) {
    StartLine(CurrentSetText(kind));
    YOZ_PrintProgress(a, b, c);
    if (!CafSilent()) PrintLine();
}

void YOZ_CallBack_Erase(UINT32 a, UINT32 b, UINT32 c) { BlockMapCallBack(kMsgErase, a, b, c); }
void YOZ_CallBack_Update(UINT32 a, UINT32 b, UINT32 c) { BlockMapCallBack(kMsgUpdate, a, b, c); }
void YOZ_CallBack_Verify(UINT32 a, UINT32 b, UINT32 c) { BlockMapCallBack(kMsgVerify, a, b, c); }

void YOZ_CallBack_Save(UINT32 a, UINT32 b, UINT32 c) {
    StartLine(YOZ_FlashSaveMsg);
    YOZ_PrintProgress(a, b, c);
    if (YOZ_FlashBlockAllSize != 0) PrintLine();
}

// Extends the line by the running count against YOZ_FlashTotalSize and
// prints it. A failed piece request is repeated (up to the retry count,
// until it succeeds); the repeats do not change the loop's result.
static void FlashLibProgress(UINT32 a, UINT32 b, UINT32 c, bool print) {
    if (YOZ_FlashTotalSize != a) {
        AppendAddressAndPercent(b, Percent(YOZ_ProgressUnits(a), YOZ_ProgressUnits(YOZ_FlashTotalSize)));
    } else {
        AppendLine("%s", kDoneTail);
    }
    if (print) PrintLine();
    if (c != 0) {
        for (UINT32 i = 0; i < YOZ_FlashReTryCnt; ++i) {
            if (FLASH_RetryLastAction(nullptr) == eEID_NO_ERROR) break;
        }
    }
}

void YOZ_FlashLib_PrintProgress(UINT32 a, UINT32 b, UINT32 c) { FlashLibProgress(a, b, c, true); }

static void FlashLibCallBack(YozMsgKind kind, UINT32 a, UINT32 b, UINT32 c) {
    StartLine(CurrentSetText(kind));
    FlashLibProgress(a, b, c, !CafSilent());
}

void YOZ_CallBack_FlashLib_Erase(UINT32 a, UINT32 b, UINT32 c) { FlashLibCallBack(kMsgErase, a, b, c); }
void YOZ_CallBack_FlashLib_Update(UINT32 a, UINT32 b, UINT32 c) { FlashLibCallBack(kMsgUpdate, a, b, c); }
void YOZ_CallBack_FlashLib_Verify(UINT32 a, UINT32 b, UINT32 c) { FlashLibCallBack(kMsgVerify, a, b, c); }

void YOZ_CallBack_FlashLib_Read(UINT32 a, UINT32 b, UINT32 c) {
    StartLine(YOZ_FlashReadMsg);
    YOZ_FlashLib_PrintProgress(a, b, c);
}

void YOZ_SetFlashMsg(UINT8 set, UINT32 total) {
    YOZ_FlashFvType = set;
    YOZ_FlashBlockAllSize = total;
    MemSet(YOZ_MsgShowBuff, 0, sizeof(YOZ_MsgShowBuff));
}
