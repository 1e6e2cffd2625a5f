#pragma once
/// What every command-line tool of the project does the same way: `--help` prints the
/// usage on standard output and succeeds, `--version` prints the version, a call without
/// arguments prints the usage and fails with 2; numbers are checked whole and a bad one is
/// named; an output file's missing folders are made.

#include <cstdint>
#include <cstdio>
#include <string>

namespace toolargs {

/// Prints a tool's usage text on `out`.
using UsagePrinter = void (*)(std::FILE* out);

/// Handles `--help`/`-h` and `--version` as the first argument, and a call without any
/// argument. Returns the exit status when one of them was handled, -1 to go on.
int HandleCommon(int argc, char** argv, const char* name, UsagePrinter usage);

/// The project's version ("0.1.0").
const char* Version();

/// A whole decimal (or 0x-prefixed hexadecimal) number in [min, max]; no sign, no
/// trailing text.
bool ParseUnsigned(const char* text, std::uint64_t min, std::uint64_t max, std::uint64_t* out);
/// The same for decimal fractions ("1.5"), in [min, max].
bool ParseDecimal(const char* text, double min, double max, double* out);

/// Prints "NAME: ARGUMENT wants WHAT, not 'TEXT'" and returns 2.
int BadNumber(const char* name, const char* argument, const char* text, const char* what);

/// Makes the missing folders above the file `path`. False, with a message naming the
/// folder that could not be made, when that fails.
bool MakeOutputFolder(const std::string& path, std::string* error);

}  // namespace toolargs
