#pragma once
// A table of numbered calls from the page and what each must give: its
// described result and the one box it shows with the error icon, or none.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "modules/application/JavaScriptInterface.h"
#include "window/ScriptPageTest.h"

struct CallRow {
    int32_t number;
    std::string argument;
    std::wstring result;
    std::wstring box;  // the one box expected (error icon), or none
};

inline void RunRows(std::vector<platform::MessageBoxRecord>& boxes, JavaScriptInterface& module,
                    const std::vector<CallRow>& rows) {
    for (const CallRow& row : rows) {
        boxes.clear();
        SCOPED_TRACE(std::to_string(row.number) + " " + row.argument);
        EXPECT_EQ(Probe(module, row.number, row.argument), row.result);
        if (row.box.empty()) {
            EXPECT_TRUE(boxes.empty());
        } else {
            ASSERT_EQ(boxes.size(), 1u);
            EXPECT_EQ(boxes[0].text, row.box);
            EXPECT_EQ(boxes[0].style, platform::MB_ICONERROR);
        }
    }
}
