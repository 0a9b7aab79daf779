// Preloaded into the real program by the host tests: takes the place of the
// platform's MessageBox, writes each box into the file named by HOST_BOX_LOG
// (text, caption and style, one record per box, and the OK button's label
// when the box relabels it) and answers with HOST_BOX_ANSWER (OK, 1, unless
// set) without showing anything.

#include <cstdio>
#include <cstdlib>
#include <string>

#include "framework/String.h"

namespace platform {

class Window;

namespace {

int Record(const std::wstring& text, const std::wstring& caption, unsigned style,
           const std::wstring* okLabel) {
    if (const char* path = std::getenv("HOST_BOX_LOG")) {
        if (FILE* file = std::fopen(path, "a")) {
            std::fprintf(file, "text=%s|caption=%s|style=0x%x",
                         String(text.c_str()).ToUtf8().c_str(),
                         String(caption.c_str()).ToUtf8().c_str(), style);
            if (okLabel) std::fprintf(file, "|ok=%s", String(okLabel->c_str()).ToUtf8().c_str());
            std::fprintf(file, "\n");
            std::fclose(file);
        }
    }
    const char* answer = std::getenv("HOST_BOX_ANSWER");
    return answer ? std::atoi(answer) : 1;
}

}  // namespace

__attribute__((visibility("default"))) int MessageBox(Window*, const std::wstring& text,
                                                      const std::wstring& caption, unsigned style) {
    return Record(text, caption, style, nullptr);
}

__attribute__((visibility("default"))) int MessageBox(Window*, const std::wstring& text,
                                                      const std::wstring& caption, unsigned style,
                                                      const std::wstring& okLabel) {
    return Record(text, caption, style, &okLabel);
}

}  // namespace platform
