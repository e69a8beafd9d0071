#include "virtual_display.h"

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new native_worker::integration::VirtualDisplay);
    return RUN_ALL_TESTS();
}
