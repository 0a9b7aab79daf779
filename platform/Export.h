#pragma once
// Symbols of libKorvoPlatform.so that other deliverables call.
#define PLATFORM_API __attribute__((visibility("default")))
