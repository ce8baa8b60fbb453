// Test build of the program with a stand-in for the configuration module of
// slot 22, so that the firmware's configuration answer (and with
// it the choice of non-critical blocks behind "/K" number words) reaches the
// modules. Its parse collects the configuration words; its execute sends
// them and applies the answer.
#include "HuxCoreHooks.h"
#include "ZoktCfgCmd.h"

namespace {

TKX_QUEUE_ITEM s_Item;

ENUM_ERR_ID Parse(TKXArgvList& args, TKX_QUEUE_ITEM*) {
    ZOKT_InitCfgCmd(args);
    return eEID_NO_ERROR;
}

ENUM_ERR_ID Execute(TKXQueueItemList& items) {
    ZOKT_GetDefsetCfgCmd(items);
    return eEID_NO_ERROR;
}

ENUM_ERR_ID Register(TKXQueueItemList& items) {
    s_Item = TKX_QUEUE_ITEM{eMID_CFG, Parse, Execute, nullptr, nullptr, 1, 0, 0x4E20, 0x11, 0};
    items.push_back(&s_Item);
    return eEID_NO_ERROR;
}

}  // namespace

int main(int argc, char** argv) {
    // The configuration module's place in the module table.
    HuxRunRoad(argc, argv, [] { PtrHuxModuleList[22] = Register; });
}
