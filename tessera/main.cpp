#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("Tessera %s\n", TESSERA_VERSION);
      return 0;
    }
  }
  std::printf("Tessera %s: multimedia messaging user agent\n", TESSERA_VERSION);
  return 0;
}
