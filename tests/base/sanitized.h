// WYN_SANITIZED: 1 in builds under AddressSanitizer or ThreadSanitizer,
// whose shadow memory makes address-space limits and peak resident sizes
// meaningless; the tests that measure those skip there.
#pragma once

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define WYN_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define WYN_SANITIZED 1
#endif
#endif
#ifndef WYN_SANITIZED
#define WYN_SANITIZED 0
#endif
