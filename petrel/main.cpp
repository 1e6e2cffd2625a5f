// Petrel: registers the main program with the push router as the handler of MMS pushes, so
// that the router starts it with "/notify" when a push arrives while it is not running, and
// writes the outcome as one line of "MMS_reglog.txt" beside the main program (in its data
// folder of the device when the program is installed outside the device).

#include <cstdio>
#include <string>
#include <vector>

#include "platform/module.h"
#include "platform/paths.h"
#include "platform/push.h"
#include "platform/registry.h"
#include "platform/sync.h"
#include "toolargs/toolargs.h"

namespace {

constexpr const WCHAR* kContentType = u"application/vnd.wap.mms-message";
constexpr const WCHAR* kKey = u"\\SoftWare\\Corvane\\Corvane MMS UA";
constexpr const WCHAR* kPathValue = u"Corvanemms";
constexpr const WCHAR* kParameters = u"/notify";
constexpr const WCHAR* kLogName = u"MMS_reglog.txt";

constexpr DWORD kDeviceManagerApis = 22;
constexpr DWORD kTelephonyApis = 23;

using IsApiReadyFn = BOOL (*)(DWORD apiSet);

// Waits until the system's services are up. Where the readiness query does not exist (as on
// Linux) there is nothing to wait for.
void WaitForSystem() {
  HMODULE core = LoadLibraryW(u"coredll.dll");
  if (!core) return;
  auto isReady = reinterpret_cast<IsApiReadyFn>(GetProcAddressW(core, u"IsAPIReady"));
  if (isReady) {
    while (!isReady(kDeviceManagerApis)) {
      if (isReady(kTelephonyApis)) break;
      Sleep(1000);
    }
  }
  FreeLibrary(core);
}

// The main program's path; empty when the value is missing or not a string.
std::u16string ReadProgramPath() {
  HKEY key = nullptr;
  DWORD disposition = 0;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, &disposition) !=
      ERROR_SUCCESS)
    return {};
  std::u16string path;
  DWORD type = 0;
  DWORD size = 0;
  // The size is asked first: a Linux path may be longer than the phone's 260 characters.
  if (RegQueryValueExW(key, kPathValue, nullptr, &type, nullptr, &size) == ERROR_SUCCESS && type == REG_SZ &&
      size >= sizeof(WCHAR)) {
    std::vector<WCHAR> buffer(size / sizeof(WCHAR) + 1, 0);
    DWORD got = static_cast<DWORD>(buffer.size() * sizeof(WCHAR));
    if (RegQueryValueExW(key, kPathValue, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &got) ==
        ERROR_SUCCESS)
      path.assign(buffer.data());
  }
  RegCloseKey(key);
  return path;
}

// "MMS_reglog.txt" beside the main program: in its directory when that lies on the device, at
// the root of the device for a path without a directory part (where a bare name lands on the
// phone), else in the device's program-data folder, so each device root keeps its own log.
void WriteLog(const std::u16string& programPath, bool registered) {
  std::u16string logPath = platform::JoinPath(platform::ProgramDataDirectoryOf(programPath), kLogName);
  FILE* f = std::fopen(platform::NativePath(logPath).c_str(), "w");
  if (!f) return;
  const char* line = registered ? "Register OK in App initialize.\n" : "Register Failed in App initialize.\n";
  std::fwrite(line, 1, std::char_traits<char>::length(line), f);
  std::fclose(f);
}

void PrintUsage(std::FILE* to) {
  std::fputs(
      "usage: petrel\n"
      "  registers the main program (its path from the registry) with the push router as the\n"
      "  handler of MMS pushes, and writes the outcome to MMS_reglog.txt beside it\n",
      to);
}

}  // namespace

int main(int argc, char** argv) {
  // The system runs it without arguments; anything else is a person asking.
  if (argc > 1) {
    int rc = toolargs::HandleCommon(argc, argv, "petrel", &PrintUsage);
    if (rc >= 0) return rc;
    std::fprintf(stderr, "petrel: takes no arguments\n");
    PrintUsage(stderr);
    return 2;
  }
  WaitForSystem();
  std::u16string path = ReadProgramPath();
  PushRouter_UnRegisterClient(kContentType, nullptr);
  bool registered = PushRouter_RegisterClient(kContentType, nullptr, path.c_str(), kParameters) >= 0;
  WriteLog(path, registered);
  return 0;
}
