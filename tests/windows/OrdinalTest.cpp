// The DLL's exports by ordinal: 1 to 14, alphabetical, each the same function as its name.
#include <gtest/gtest.h>

#include "platform/DynamicLibrary.h"

namespace {

TEST(DllExports, OrdinalsMatchNames) {
    const char* const names[] = {
        "PassThruClose",
        "PassThruConnect",
        "PassThruDisconnect",
        "PassThruGetLastError",
        "PassThruIoctl",
        "PassThruOpen",
        "PassThruReadMsgs",
        "PassThruReadVersion",
        "PassThruSetProgrammingVoltage",
        "PassThruStartMsgFilter",
        "PassThruStartPeriodicMsg",
        "PassThruStopMsgFilter",
        "PassThruStopPeriodicMsg",
        "PassThruWriteMsgs",
    };
    vtx::platform::DynamicLibrary dll;
    ASSERT_TRUE(dll.open(VTX_LIBRARY_PATH)) << dll.error();
    for (uint16_t ordinal = 1; ordinal <= 14; ++ordinal) {
        const char* name = names[ordinal - 1];
        void* byName = dll.symbol(name);
        ASSERT_NE(byName, nullptr) << name;
        EXPECT_EQ(dll.symbolByOrdinal(ordinal), byName) << name << " at ordinal " << ordinal;
    }
    EXPECT_EQ(dll.symbolByOrdinal(15), nullptr);
}

}  // namespace
