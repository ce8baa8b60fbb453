// The command line through every option module's parse pass, as a run
// registers them (the BIOS-information module aside: it takes the interface
// buffer from the platform). The input is the words after the program name,
// separated by blanks or line ends (at most 24 words).
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>
#include "FuzzKit.h"
#include "HuxCore.h"
#include "HuxCoreHooks.h"
#include "RomInfo.h"

static void FreeArguments() {
    for (unsigned long i = 0; i < ArgvItemList.size(); ++i) {
        if (ArgvItemList[i]->fromTrailer) delete[] ArgvItemList[i]->text;
        delete ArgvItemList[i];
    }
    ArgvItemList.clear();
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    InitializeLibs();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 4096) return 0;
    std::vector<std::string> words = {"yozmfglnx_64"};
    std::string word;
    for (size_t i = 0; i <= size; ++i) {
        char c = i < size ? static_cast<char>(data[i]) : ' ';
        if (c == ' ' || c == '\n' || c == '\0') {
            if (!word.empty()) words.push_back(word);
            word.clear();
            if (words.size() > 24) return 0;
        } else {
            word += c;
        }
    }

    HuxGlobalVariableInit();
    fuzzkit::QuietOutput();
    g_LastErrorCode = 0;
    for (const std::string& w : words) ArgvItemList.push_back(new TKX_ARGV_ITEM{const_cast<char*>(w.c_str()), 0, 0});
    for (UINT32 i = 0; i < 110 && PtrHuxModuleList[i] != nullptr; ++i) {
        if (PtrHuxModuleList[i] == RegisterInitBiosInfoQueueItem) continue;
        PtrHuxModuleList[i](QueueItemList);
    }
    ParseUserInput();
    FreeArguments();
    QueueItemList.clear();
    return 0;
}
