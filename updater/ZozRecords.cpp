// Reads the trailer's version text, embedded ROM image and default command
// line, and merges that command line into the argument list.
#include "TKXDecompress.h"
#include "TKXPhysMem.h"
#include "TKXString.h"
#include "TKXUaf.h"
#include "YozRomFile.h"
#include "YozZozRecords.h"

char* YOZ_pUCPOEMVerString = nullptr;

static const char kEmbeddedImageName[] = "UCPIMG";

static char ZozOEMVerString[64];
static char ZozCmdLineString[256];
// The unpacked embedded image, owned for the run.
static UINT8* pZozRomFileBuff = nullptr;

typedef void (*ZozImageLoaderT)(UINT8*& image, UINT32& size);
typedef void (*ZozCmdLoaderT)(TKXArgvList& args);
static ZozImageLoaderT s_ImageLoader = nullptr;
static ZozCmdLoaderT s_CmdLoader = nullptr;

// The largest payload a record of this kind is taken with: the image up to
// what the decoder accepts (plain: what leaves room for the terminator), the
// other records as far as they can be used.
static UINT32 PayloadLimit(const char* signature, bool plain) {
    if (CompareString(signature, "@ROM") == 0) return plain ? 0xFFFFFFFEu : ROM_UNCOMPRESS_MAX_SIZE;
    if (CompareString(signature, "@DIS") == 0) return ZOZ_DIS_MAX_SIZE;
    return ZOZ_TEXT_MAX_SIZE;
}

UINT8 YOZ_ZOZ_GetData(const char* signature, UINT8*& data, UINT32& size) {
    _TKX_UAF_DATA* record = nullptr;
    UINT8* payload = GetUafDataBySign(signature, &record);
    if (payload == nullptr || record == nullptr) return 0;
    UINT32 unpacked = record->UnpackedSize;
    UINT32 stored = record->StoredSize;
    bool plain = stored == unpacked;
    // The record list guarantees the stored bytes lie inside the file; an
    // unpacked size is only a claim until the decoder produces it, and a
    // text claiming megabytes would only be unpacked to be cut.
    if (unpacked > PayloadLimit(signature, plain)) return 0;
    // One byte more than the payload: texts are used as C strings.
    UINT8* buffer = AllocMem(unpacked + 1);
    if (buffer == nullptr) return 0;
    if (plain) {
        MemCpy(buffer, payload, unpacked);
    } else {
        const UINT8* stream = reinterpret_cast<const UINT8*>(record) + UAF_STREAM_OFFSET;
        if (DecompressUafData(buffer, unpacked, stream, stored) != unpacked) {
            FreeMem(buffer);
            return 0;
        }
    }
    buffer[unpacked] = 0;
    data = buffer;
    size = unpacked;
    return 1;
}

void YOZ_ZOZ_LoadVerString() {
    MemSet(ZozOEMVerString, 0, sizeof(ZozOEMVerString));
    UINT8* data = nullptr;
    UINT32 size = 0;
    if (!YOZ_ZOZ_GetData("@VER", data, size)) return;
    TKX_BoundedCopy(ZozOEMVerString, reinterpret_cast<char*>(data), size < 63 ? size : 63);
    FreeMem(data);
}

void YOZ_ZOZ_LoadROMFileImage(UINT8*& image, UINT32& size) {
    UINT8* data = nullptr;
    UINT32 length = 0;
    if (!YOZ_ZOZ_GetData("@ROM", data, length)) return;
    if (length == 0) {
        FreeMem(data);
        return;
    }
    FreeMem(pZozRomFileBuff);
    pZozRomFileBuff = data;
    image = data;
    size = length;
    YOZ_bZOZLoadFileOK = 1;
}

// A new argument that owns a copy of `length` characters of `text`.
static TKX_ARGV_ITEM* NewTrailerArgument(const char* text, UINT32 length) {
    char* copy = new char[length + 1];
    MemCpy(copy, text, length);
    copy[length] = '\0';
    return new TKX_ARGV_ITEM{copy, 0, 1};
}

static bool ArgumentPresent(TKXArgvList& args, const char* text) {
    for (unsigned long i = 0; i < args.size(); ++i) {
        if (args[i]->text != nullptr && CompareString(args[i]->text, text) == 0) return true;
    }
    return false;
}

void YOZ_ZOZ_LoadRunCmdString(TKXArgvList& args) {
    MemSet(ZozCmdLineString, 0, sizeof(ZozCmdLineString));
    UINT8* data = nullptr;
    UINT32 size = 0;
    if (YOZ_ZOZ_GetData("@CMD", data, size)) {
        UINT32 length = TKX_BoundedCopy(ZozCmdLineString, reinterpret_cast<char*>(data), size < 254 ? size : 254);
        FreeMem(data);
        // Every word ends in a blank.
        ZozCmdLineString[length] = ' ';
        bool optionsFirst = args.size() >= 2 && args[1]->text != nullptr && args[1]->text[0] == '/';
        char* word = ZozCmdLineString;
        for (char* p = ZozCmdLineString; *p != '\0'; ++p) {
            if (*p != ' ') continue;
            *p = '\0';
            // Two blanks in a row leave an empty word: it is not an argument.
            if (*word != '\0') {
                if (word[0] != '/' && optionsFirst) {
                    // An embedded file name goes before the user's options.
                    args.insert(NewTrailerArgument(word, StringLength(word)), 1);
                } else if (!ArgumentPresent(args, word)) {
                    args.push_back(NewTrailerArgument(word, StringLength(word)));
                }
            }
            word = p + 1;
        }
    }
    // Options alone run on the embedded image.
    if (YOZ_bZOZLoadFileOK && args.size() >= 2 && args[1]->text != nullptr && args[1]->text[0] == '/') {
        args.insert(NewTrailerArgument(kEmbeddedImageName, StringLength(kEmbeddedImageName)), 1);
    }
}

UINT8 YOZ_ZOZ_ImageNameBeforeOptions(TKXArgvList& args) {
    return args.size() >= 2 && args[1]->fromTrailer && CompareString(args[1]->text, kEmbeddedImageName) == 0 ? 1 : 0;
}

UINT32 YOZ_ZOZ_GivenWordCount(TKXArgvList& args) {
    return static_cast<UINT32>(args.size()) - YOZ_ZOZ_ImageNameBeforeOptions(args);
}

void YOZ_ZOZ_Init() {
    s_ImageLoader = YOZ_ZOZ_LoadROMFileImage;
    s_CmdLoader = YOZ_ZOZ_LoadRunCmdString;
}

void YOZ_ZOZ_Load(TKXArgvList& args, char*& version, UINT8*& image, UINT32& size) {
    YOZ_ZOZ_LoadVerString();
    version = ZozOEMVerString;
    if (s_ImageLoader != nullptr) s_ImageLoader(image, size);
    if (s_CmdLoader != nullptr) s_CmdLoader(args);
}
