#include <gtest/gtest.h>

// No application object: what is tested here must work without one, and without a
// display.
int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
