// Preloaded into the real program by the host tests: takes the place of the
// platform's MessageBox, writes each box into the file named by HOST_BOX_LOG
// (text, caption and style, one record per box) and answers OK without
// showing anything.

#include <cstdio>
#include <cstdlib>
#include <string>

#include "framework/String.h"

namespace platform {

class Window;

__attribute__((visibility("default"))) int MessageBox(Window*, const std::wstring& text,
                                                      const std::wstring& caption, unsigned style) {
    if (const char* path = std::getenv("HOST_BOX_LOG")) {
        if (FILE* file = std::fopen(path, "a")) {
            std::fprintf(file, "text=%s|caption=%s|style=0x%x\n", String(text.c_str()).ToUtf8().c_str(),
                         String(caption.c_str()).ToUtf8().c_str(), style);
            std::fclose(file);
        }
    }
    return 1;
}

}  // namespace platform
