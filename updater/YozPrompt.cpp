// Operator prompts and the help pager. Keys come from standard input one at
// a time (getch); when input ends, the prompts take the answer that cancels
// and the pager goes on.
#include <cstdio>
#include <sys/stat.h>
#include "HuxCore.h"
#include "TKXPortIo.h"
#include "YozOptionStore.h"

UINT8 YOZ_LineCount = 0;

// Lines of help output per page before the pager waits for a key.
static const UINT8 kPagerLines = 18;

// Set when the last prompt met the end of input instead of an answer.
static UINT8 s_InputEnded = 0;

UINT8 YOZ_PromptInputEnded() { return s_InputEnded; }

// Prints the text and reads keys until one of `accepted` comes; every key
// is echoed on its own line. Returns the key, or EOF when input ends.
static int AskUntilAccepted(const char* text, const char* accepted) {
    for (;;) {
        WriteOut("%s", text);
        fflush(stdout);
        int key = getch();
        if (key == EOF) {
            WriteOut("\n");
            s_InputEnded = 1;
            return EOF;
        }
        WriteOut("%c\n", key);
        for (const char* a = accepted; *a != '\0'; ++a) {
            if (*a == key) return key;
        }
    }
}

UINT8 YOZ_PromptYesOrNo(const char* text) {
    s_InputEnded = 0;
    if (YOZ_GetQuietCmdIsEnable()) return 0;
    if (YOZ_GetDefAnsCmdIsEnable()) {
        WriteOut("%s Yes\n", text);
        return 0;
    }
    YOZ_BeginKeyDialogue();
    int key = AskUntilAccepted(text, "YyNn");
    YOZ_EndKeyDialogue();
    return (key == 'Y' || key == 'y') ? 0 : 1;
}

UINT8 YOZ_PromptReplaceFile(const char* name) {
    // The name itself, not what a link points to.
    struct stat st;
    if (lstat(name, &st) != 0) return YOZ_FILE_NEW;
    if (!S_ISREG(st.st_mode)) {
        WriteOut(" %s is not a regular file: nothing is saved into it.\n", name);
        return YOZ_FILE_REFUSED;
    }
    char question[512];
    snprintf(question, sizeof(question),
             " %s already exists.\n Would you like to repalce the exist file(Y) or exit(N)?...", name);
    if (YOZ_PromptYesOrNo(question) == 0) return YOZ_FILE_REPLACE;
    return YOZ_PromptInputEnded() ? YOZ_FILE_NO_ANSWER : YOZ_FILE_KEEP;
}

UINT8 YOZ_PromptForceUpdate() {
    WriteOut("  Press \"Y\" to force update BIOS.\n");
    WriteOut("  Press \"N\" to quit flash.\n");
    return YOZ_PromptYesOrNo("- Please select one of the options:");
}

UINT8 YOZ_PromptFOrEOrA(const char* text) {
    s_InputEnded = 0;
    if (YOZ_GetQuietCmdIsEnable()) return 2;
    if (YOZ_GetDefAnsCmdIsEnable()) {
        WriteOut("%s All Flash\n", text);
        return 2;
    }
    YOZ_BeginKeyDialogue();
    int key = AskUntilAccepted(text, "FfEeAa");
    YOZ_EndKeyDialogue();
    if (key == 'A' || key == 'a') return 2;
    if (key == 'F' || key == 'f') return 0;
    return 1;
}

void YOZ_InitGlobalLineCont() { YOZ_LineCount = 0; }

void YOZ_CheckGlobalLineCont(UINT32 lines) {
    YOZ_LineCount = static_cast<UINT8>(YOZ_LineCount + lines);
    if (YOZ_LineCount < kPagerLines) return;
    YOZ_BeginKeyDialogue();
    WriteOut("<Press any key to continue>\r");
    fflush(stdout);
    getch();
    YOZ_LineCount = 0;
    YOZ_EndKeyDialogue();
}
