// A library loaded at run time that keeps a heap block in a thread-local
// variable of each thread that calls it, as the renderer libraries a desktop
// session loads do.
#include <cstdlib>

namespace {
thread_local void* held = nullptr;
}

extern "C" __attribute__((visibility("default"))) void HoldInThreadLocal() {
    std::free(held);
    held = std::malloc(100);
}
