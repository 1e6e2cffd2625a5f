// tessera-rc: compiles a resource script into the C++ source of a module's resource table.
//
//   tessera-rc SCRIPT -o OUT.cpp [--binary OUT.bin] [--depfile OUT.d]

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <set>
#include <string>

#include "rc/compiler.h"
#include "toolargs/toolargs.h"

namespace {

// Reads a whole regular file. Not through an input stream: reading a folder that way throws.
bool ReadAll(const std::filesystem::path& path, std::string* out) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) return false;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  out->clear();
  char chunk[4096];
  std::size_t n = 0;
  while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) out->append(chunk, n);
  const bool ok = !std::ferror(f);
  std::fclose(f);
  return ok;
}

// Writes through a temporary file and a rename, so an interrupted build leaves no
// half-written output that a later build would trust.
bool WriteAll(const std::string& path, const void* data, std::size_t size) {
  const std::string tmp = path + ".tmp";
  {
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
    if (!out) return false;
  }
  std::error_code ec;
  std::filesystem::rename(tmp, path, ec);
  return !ec;
}

void PrintUsage(std::FILE* to) {
  std::fputs("usage: tessera-rc SCRIPT -o OUT.cpp [--binary OUT.bin] [--depfile OUT.d]\n", to);
}

int Usage() {
  PrintUsage(stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (int rc = toolargs::HandleCommon(argc, argv, "tessera-rc", &PrintUsage); rc >= 0) return rc;
  std::string script;
  std::string output;
  std::string binary;
  std::string depfile;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if ((arg == "-o" || arg == "--binary" || arg == "--depfile") && i + 1 < argc) {
      (arg == "-o" ? output : arg == "--binary" ? binary : depfile) = argv[++i];
    } else if (!arg.empty() && arg[0] != '-' && script.empty()) {
      script = arg;
    } else {
      return Usage();
    }
  }
  if (script.empty() || (output.empty() && binary.empty())) return Usage();

  std::string text;
  if (!ReadAll(script, &text)) {
    std::cerr << "tessera-rc: cannot read " << script << "\n";
    return 1;
  }
  const std::filesystem::path base = std::filesystem::path(script).parent_path();
  std::set<std::string> inputs;
  const rc::CompileResult result =
      rc::Compile(text, script, [&](const std::string& name, std::vector<std::uint8_t>* out) {
        const std::filesystem::path path = base / name;
        std::string bytes;
        if (!ReadAll(path, &bytes)) return false;
        inputs.insert(path.string());
        out->assign(bytes.begin(), bytes.end());
        return true;
      });
  if (!result.ok) {
    std::cerr << result.error << "\n";
    return 1;
  }
  if (!output.empty()) {
    const std::string source = rc::EmitCpp(result.table, std::filesystem::path(script).filename().string());
    if (!WriteAll(output, source.data(), source.size())) {
      std::cerr << "tessera-rc: cannot write " << output << "\n";
      return 1;
    }
  }
  if (!binary.empty() && !WriteAll(binary, result.table.data(), result.table.size())) {
    std::cerr << "tessera-rc: cannot write " << binary << "\n";
    return 1;
  }
  if (!depfile.empty()) {
    std::string deps = (output.empty() ? binary : output) + ":";
    for (const std::string& in : inputs) deps += " " + in;
    deps += "\n";
    if (!WriteAll(depfile, deps.data(), deps.size())) {
      std::cerr << "tessera-rc: cannot write " << depfile << "\n";
      return 1;
    }
  }
  return 0;
}
