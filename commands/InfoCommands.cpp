// Parse shape shared by "/U", "/S" and "/D".
#include "InfoCommands.h"
#include "TKXString.h"
#include "YozOptionStore.h"
#include "YozRomFile.h"
#include "YozRegionStages.h"

ENUM_ERR_ID YOZ_InfoCommand_Parse(TKXArgvList& args, const char* word, UINT8* enabled, UINT8 how) {
    *enabled = 0;
    for (unsigned long i = 1; i < args.size(); ++i) {
        if (IdentifyArg(args[i]->text, word, 1) != 1) continue;
        *enabled = 1;
        args[i]->claimed = 1;
        // A command that reads the ROM file reports a missing one itself;
        // the others leave a word that names no file unclaimed.
        if (how & YOZ_INFO_TAKES_FILE) {
            args[1]->claimed = 1;
            if (YOZ_pFileName == nullptr) YOZ_pFileName = args[1]->text;
        } else {
            YOZ_ClaimFileWord(args, i);
        }
        if ((how & YOZ_INFO_COUNTS) && ++YOZ_CommandNum > 1) return eEID_COMMAND_LINE;
    }
    return eEID_NO_ERROR;
}
