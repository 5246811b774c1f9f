#pragma once

// DV_TEXTD_ASAN is defined when AddressSanitizer is built in (GCC says so directly, Clang
// through __has_feature): worker children then cannot take an address-space limit.
#if defined(__SANITIZE_ADDRESS__)
#define DV_TEXTD_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define DV_TEXTD_ASAN 1
#endif
#endif
