// The suite's own entry point. The server's library also holds the server's
// main(); defining one here keeps the linker from taking that one.

#include <gtest/gtest.h>

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
