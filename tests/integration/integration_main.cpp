#include "platform/process.h"
#include "virtual_display.h"

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    // As in the worker: X connections cut off at a stop fail their writes.
    native_worker::platform::prepareProcess();
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new native_worker::integration::VirtualDisplay);
    return RUN_ALL_TESTS();
}
