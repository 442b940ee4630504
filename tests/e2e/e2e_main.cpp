// Entry point of the scenario programs: they need a display, and report
// themselves skipped (exit 77) rather than failed when there is none.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  const char* display = std::getenv("DISPLAY");
  if (!display || !*display) {
    std::fprintf(stderr, "no display: run the scenarios under xvfb-run -a\n");
    return 77;
  }
  return RUN_ALL_TESTS();
}
