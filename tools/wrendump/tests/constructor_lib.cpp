// A shared object whose constructor leaves a mark: reading it as a resource library must
// not run it.
#include <cstdio>
#include <cstdlib>

__attribute__((constructor)) static void LeaveMark() {
  if (const char* mark = std::getenv("WRENDUMP_TEST_MARK")) {
    if (std::FILE* f = std::fopen(mark, "w")) std::fclose(f);
  }
  std::puts("constructor ran");
}

extern "C" __attribute__((visibility("default"))) const unsigned char TesseraResourceTable[4] = {1, 2, 3, 4};
