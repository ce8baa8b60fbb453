// yozemu: makes and inspects emulated machines for the test build.
//   yozemu init DIR --flash FILE --blocks SPEC [--set KEY=VALUE]...
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>
#include "EmuBlocks.h"
#include "EmuInitSteps.h"
#include "EmuMachine.h"

static int Usage() {
    fprintf(stderr, "usage: yozemu init DIR --flash FILE --blocks SPEC [--set KEY=VALUE]...\n");
    return 2;
}

static int Fail(const std::string& message) {
    fprintf(stderr, "yozemu: %s\n", message.c_str());
    return 1;
}

static bool MakeDirs(const std::string& path) {
    std::string partial;
    for (size_t i = 0; i <= path.size(); ++i) {
        if (i == path.size() || (path[i] == '/' && i != 0)) {
            partial = path.substr(0, i);
            if (mkdir(partial.c_str(), 0755) != 0 && errno != EEXIST) return false;
        }
    }
    return true;
}

static bool ReadWholeFile(const std::string& path, std::string& data) {
    FILE* f = fopen(path.c_str(), "rb");
    if (f == nullptr) return false;
    char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof(buf), f)) > 0) data.append(buf, n);
    bool ok = ferror(f) == 0;
    fclose(f);
    return ok;
}

static bool WriteWholeFile(const std::string& path, const std::string& data) {
    FILE* f = fopen(path.c_str(), "wb");
    if (f == nullptr) return false;
    bool ok = fwrite(data.data(), 1, data.size(), f) == data.size();
    return fclose(f) == 0 && ok;
}

static int Init(int argc, char** argv) {
    if (argc < 3) return Usage();
    std::string dir = argv[2];
    std::string flashFile, blocks;
    std::vector<std::string> sets;
    for (int i = 3; i < argc; ++i) {
        std::string a = argv[i];
        if (i + 1 >= argc) return Usage();
        if (a == "--flash") flashFile = argv[++i];
        else if (a == "--blocks") blocks = argv[++i];
        else if (a == "--set") {
            std::string kv = argv[++i];
            if (kv.find('=') == std::string::npos || kv.find('\n') != std::string::npos) return Usage();
            sets.push_back(kv);
        } else return Usage();
    }
    if (flashFile.empty() || blocks.empty()) return Usage();

    std::vector<EmuBlock> table;
    std::string error;
    if (!EmuBlocks_Parse(blocks, table, error)) return Fail(error);
    std::string flash;
    if (!ReadWholeFile(flashFile, flash)) return Fail("cannot read " + flashFile);
    UINT64 total = static_cast<UINT64>(table.back().Start) + table.back().Size;
    if (total != flash.size()) {
        return Fail("blocks cover " + std::to_string(total) + " bytes but " + flashFile + " has " +
                    std::to_string(flash.size()));
    }

    const char* dirs[] = {"", "/root/dev", "/root/proc/sys/kernel", "/root/sys/firmware/acpi/tables",
                          "/root/sys/firmware/efi", "/root/boot/efi", "/root/lib/modules", "/state"};
    for (const char* d : dirs) {
        if (!MakeDirs(dir + d)) return Fail("cannot create " + dir + d);
    }
    if (!WriteWholeFile(dir + "/flash.bin", flash)) return Fail("cannot write flash.bin");
    std::string ini = "blocks=" + blocks + "\n";
    for (const std::string& kv : sets) ini += kv + "\n";
    if (!WriteWholeFile(dir + "/machine.ini", ini)) return Fail("cannot write machine.ini");
    if (!WriteWholeFile(dir + "/trace.log", "")) return Fail("cannot write trace.log");
    int fd = open((dir + "/root/dev/mem").c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
    if (fd < 0 || ftruncate(fd, static_cast<off_t>(0x100000000ULL)) != 0) return Fail("cannot create root/dev/mem");
    close(fd);

    setenv("YOZ_EMU_MACHINE", dir.c_str(), 1);
    EmuMachine_Reload();
    for (UINT32 i = 0; EmuInitSteps[i] != nullptr; ++i) {
        if (!EmuInitSteps[i](error)) return Fail(error);
    }
    return 0;
}

int main(int argc, char** argv) {
    if (argc >= 2 && strcmp(argv[1], "init") == 0) return Init(argc, argv);
    return Usage();
}
