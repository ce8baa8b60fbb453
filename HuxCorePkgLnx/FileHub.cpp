// The file hub: every file the program reads is read whole into one buffer
// on its first query and shared by every later query of the same path.
#include <cstring>
#include "HuxCoreHooks.h"
#include "TKXFile.h"
#include "TKXPhysMem.h"

TKXFileHubList FileHubList;

void InitializeFileHub() {
    FileHubList.init();
    CleanUpFileHubHook = CleanUpFileHub;
}

static FILE_HUB_ITEM* FindFileHubItem(const char* path) {
    for (unsigned long i = 0; i < FileHubList.size(); ++i) {
        FILE_HUB_ITEM* item = FileHubList[i];
        if (strcmp(item->name, path) == 0) return item;
    }
    return nullptr;
}

// Reads the whole file into a new buffer with one zero byte after it.
static ENUM_ERR_ID ReadWholeFile(const char* path, UINT8** data, UINT32& size) {
    FILE* stream = TKX_OpenRegularFile(path);
    if (stream == nullptr) return eEID_OPEN_IN_FILE;
    UINT64 length = TKX_GetFileSize(stream);
    // The buffer holds the file and a zero byte, counted in 32 bits.
    if (length >= 0xFFFFFFFFULL) {
        fclose(stream);
        return eEID_READ_FILE;
    }
    UINT32 n = static_cast<UINT32>(length);
    UINT8* buffer = AllocMem(n + 1);
    if (buffer == nullptr) {
        fclose(stream);
        return eEID_MEM_ALLOC;
    }
    if (TKX_ReadFile(stream, 0, n, buffer) != n) {
        fclose(stream);
        FreeMem(buffer);
        return eEID_READ_FILE;
    }
    fclose(stream);
    *data = buffer;
    size = n;
    return eEID_NO_ERROR;
}

ENUM_ERR_ID QueryFileHub(const char* path, UINT8** data, UINT32& size) {
    if (path == nullptr) return eEID_OPEN_IN_FILE;
    FILE_HUB_ITEM* found = FindFileHubItem(path);
    if (found != nullptr) {
        *data = found->data;
        size = found->size;
        return eEID_NO_ERROR;
    }
    UINT8* buffer = nullptr;
    UINT32 length = 0;
    ENUM_ERR_ID status = ReadWholeFile(path, &buffer, length);
    if (status != eEID_NO_ERROR) return status;

    size_t nameLength = strlen(path);
    char* name = reinterpret_cast<char*>(AllocMem(static_cast<UINT32>(nameLength + 1)));
    if (name == nullptr) {
        FreeMem(buffer);
        return eEID_MEM_ALLOC;
    }
    memcpy(name, path, nameLength + 1);
    FileHubList.push_back(new FILE_HUB_ITEM{name, buffer, length});
    *data = buffer;
    size = length;
    return eEID_NO_ERROR;
}

void CleanUpFileHub() {
    for (unsigned long i = 0; i < FileHubList.size(); ++i) {
        FILE_HUB_ITEM* item = FileHubList[i];
        FreeMem(item->name);
        FreeMem(item->data);
        delete item;
    }
    FileHubList.clear();
}
