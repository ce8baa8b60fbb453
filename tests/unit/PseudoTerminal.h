// Standard input becomes the slave side of a pseudo-terminal in canonical
// mode with echo on, as an operator's shell leaves it; keys typed on the
// master side reach the program's key and line readers.
#pragma once
#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>
#include <cstdlib>
#include <cstring>

namespace unit {

struct PseudoTerminal {
    int master = -1, slave = -1, saved = -1;
    PseudoTerminal() {
        master = posix_openpt(O_RDWR | O_NOCTTY);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return;
        slave = open(ptsname(master), O_RDWR | O_NOCTTY);
        saved = dup(0);
        dup2(slave, 0);
    }
    ~PseudoTerminal() {
        dup2(saved, 0);
        close(saved);
        close(slave);
        close(master);
    }
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;
    bool Ok() const { return slave >= 0; }
    void Type(const char* keys) { ASSERT_EQ(write(master, keys, strlen(keys)), static_cast<ssize_t>(strlen(keys))); }
};

}  // namespace unit
