#pragma once
// Values of the mm1 registry key that the transport reads.

#include <cstdint>
#include <vector>

#include "config/keys.h"
#include "platform/types.h"

namespace transport::detail {

inline constexpr const char16_t* kMm1Key = config::kMm1Key;
inline constexpr const char16_t* kWspHeaderKey = config::kWspHeaderKey;

// Reads one value of the mm1 key; false when the key or the value is absent.
bool ReadMm1Value(const char16_t* name, DWORD* type, std::vector<BYTE>* data);

}  // namespace transport::detail
