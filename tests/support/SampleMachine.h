// A machine whose flash holds the sample update's system, with the update's
// image beside it as "new.rom".
#pragma once
#include <string>
#include <vector>
#include "E2eHarness.h"
#include "RomImageBuilder.h"
#include "SampleUpdate.h"

namespace e2e {

inline Machine MakeSampleMachine(const romimg::SampleUpdate& u, const std::vector<std::string>& sets = {}) {
    Machine m = MakeMachine(std::string(u.system.bytes.begin(), u.system.bytes.end()),
                            romimg::BlockSpec(romimg::SampleBlocks()), sets);
    romimg::WriteBytes(m.File("new.rom"), u.image.bytes);
    return m;
}

}  // namespace e2e
