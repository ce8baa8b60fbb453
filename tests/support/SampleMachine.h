// A machine whose flash holds the sample update's system, with the update's
// image beside it as "new.rom"; and copies of the test build that carry an
// image of their own.
#pragma once
#include <string>
#include <vector>
#include "E2eHarness.h"
#include "RomImageBuilder.h"
#include "SampleUpdate.h"
#include "UafBuilder.h"

namespace e2e {

inline Machine MakeSampleMachine(const romimg::SampleUpdate& u, const std::vector<std::string>& sets = {}) {
    Machine m = MakeMachine(std::string(u.system.bytes.begin(), u.system.bytes.end()),
                            romimg::BlockSpec(romimg::SampleBlocks()), sets);
    romimg::WriteBytes(m.File("new.rom"), u.image.bytes);
    return m;
}

// A copy of the test build of `width` that carries `image` as its embedded
// ROM image ("@ROM", compressed), and `command` as the default command line
// ("@CMD") when given; the empty path when it cannot be written.
inline std::string EmbeddedImageProgram(int width, const romimg::Bytes& image, const std::string& command = "") {
    std::vector<std::string> records = {uaf::Record("@ROM", std::string(image.begin(), image.end()), true)};
    if (!command.empty()) records.push_back(uaf::Record("@CMD", command));
    std::string path = TempDir("embedded") + "/program";
    return uaf::WriteProgramCopy(ProgramPath(width), path, uaf::Container(records)) ? path : std::string();
}

}  // namespace e2e
