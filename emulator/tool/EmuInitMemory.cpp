// The physical memory the program and the firmware always reach (the legacy
// BIOS area below 1 MiB and the head of the firmware's memory hole, where the
// interface buffer lies) is written as zero pages rather than left as holes of
// the sparse root/dev/mem: present memory, as on a machine, and no file-system
// hole to fill on the run's first touch of each page.
#include <fcntl.h>
#include <unistd.h>
#include <vector>
#include "EmuInitSteps.h"
#include "EmuMachine.h"

bool EmuInit_PresentMemory(std::string& error) {
    const UINT64 kBiosArea = 0xE0000, kBiosAreaEnd = 0x100000;
    const UINT64 kHoleHead = 0x20000;
    UINT64 hole = EmuMachine_GetNum("mem_hole_addr", 0x7E000000);
    struct Range {
        UINT64 From, To;
    } ranges[] = {{kBiosArea, kBiosAreaEnd}, {hole, hole + kHoleHead}};
    std::string path = EmuMachine_Root("/dev/mem");
    int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
    bool ok = fd >= 0;
    std::vector<char> zeros(0x10000, 0);
    for (const Range& r : ranges) {
        if (r.To > 0x100000000ULL) continue;  // a hole setting past 4 GiB: nothing to lay out
        for (UINT64 at = r.From; ok && at < r.To; at += zeros.size()) {
            size_t n = r.To - at < zeros.size() ? static_cast<size_t>(r.To - at) : zeros.size();
            ok = pwrite(fd, zeros.data(), n, static_cast<off_t>(at)) == static_cast<ssize_t>(n);
        }
    }
    if (fd >= 0 && close(fd) != 0) ok = false;
    if (!ok) error = "cannot write " + path;
    return ok;
}
