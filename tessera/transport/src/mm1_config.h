#pragma once
// Values of the mm1 registry key that the transport reads.

#include <cstdint>
#include <vector>

#include "platform/types.h"

namespace transport::detail {

inline constexpr char16_t kMm1Key[] = u"\\SOFTWARE\\Corvane\\Corvane MMS UA\\Config\\mm1";
inline constexpr char16_t kWspHeaderKey[] = u"\\SOFTWARE\\Corvane\\Corvane MMS UA\\Config\\mm1\\WspHeader";

// Reads one value of the mm1 key; false when the key or the value is absent.
bool ReadMm1Value(const char16_t* name, DWORD* type, std::vector<BYTE>* data);

}  // namespace transport::detail
