// Every in-process test ends with the model lists released: the system ROM
// model's regions and both models' DMI records. The lists free their nodes,
// not the records they hold, so a test that ends with records listed would
// leave them behind.
#include <gtest/gtest.h>
#include "YozRomFile.h"
#include "YozSysRom.h"

namespace {

class ModelListRelease : public ::testing::EmptyTestEventListener {
    void OnTestEnd(const ::testing::TestInfo&) override {
        YOZ_SysRom_Var_Release();
        YOZ_RomFile_Var_Release();
    }
};

[[maybe_unused]] const bool registered =
    (::testing::UnitTest::GetInstance()->listeners().Append(new ModelListRelease), true);

}  // namespace
