// The device library depends on the DNS-SD library, which the host checks for
// beside the program before it starts. No code path calls into it; this one
// reference keeps the dependency in the library's needed list whatever the
// linker's as-needed policy is.

#include "DnsSd.h"

namespace {
[[gnu::used]] int (*const dnsSdAvailable)() = &dante_dnssd_available;
}  // namespace
