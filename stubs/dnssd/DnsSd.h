#pragma once
// The stand-in DNS-SD library's one function.

#ifdef __cplusplus
extern "C" {
#endif

// Returns 1: the library is present.
__attribute__((visibility("default"))) int dante_dnssd_available(void);

#ifdef __cplusplus
}
#endif
