// The page's script library (installation/page/korvo.js) and the dispatch
// table give the page's functions the same names and numbers. The library maps
// each name to [number, count of elements]; the window module, which resolves
// all three class levels, holds in its slots every function with a name the
// library must know (korvo...). A function added on one side only, a number
// changed on one side, or two names on one number show here.

#include <gtest/gtest.h>

#include <cwchar>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <string>

#include "modules/application/JavaScriptWindow.h"

namespace {

using FunctionTable = std::map<std::string, int>;  // name → number

// Every entry of korvo.js's table; the table must hold nothing else, so that
// an entry written another way cannot slip past unread.
FunctionTable ScriptLibraryFunctions() {
    std::ifstream in(KORVO_PAGE_SCRIPT_LIBRARY);
    const std::string script((std::istreambuf_iterator<char>(in)),
                             std::istreambuf_iterator<char>());
    const std::string opening = "const functions = {";
    std::size_t start = script.find(opening);
    std::size_t end = script.find("};", start);
    if (start == std::string::npos || end == std::string::npos) {
        ADD_FAILURE() << "no table of functions in " << KORVO_PAGE_SCRIPT_LIBRARY;
        return {};
    }
    std::string table = script.substr(start + opening.size(), end - start - opening.size());
    table = std::regex_replace(table, std::regex("//[^\n]*"), "");
    const std::regex entry(R"((\w+)\s*:\s*\[\s*(\d+)\s*,\s*\d+\s*\])");
    FunctionTable functions;
    for (std::sregex_iterator it(table.begin(), table.end(), entry), last; it != last; ++it) {
        bool added = functions.emplace((*it)[1], std::stoi((*it)[2])).second;
        EXPECT_TRUE(added) << (*it)[1] << " is named twice in korvo.js";
    }
    const std::string rest =
        std::regex_replace(std::regex_replace(table, entry, ""), std::regex("[\\s,]+"), " ");
    EXPECT_TRUE(rest.empty() || rest == " ")
        << "korvo.js's table holds what is no entry of the form name: [number, count]:" << rest;
    return functions;
}

// The window module's slots, seen from a class level below it.
class TableReader : public JavaScriptWindow {
public:
    FunctionTable PageFunctions() const {
        FunctionTable functions;
        for (int number = 0; number < FunctionCount; ++number) {
            for (const wchar_t* owner :
                 {L"JavaScriptWindow", L"JavaScriptInterface", L"JavaScriptDispatch"}) {
                const ApiFunctionEntry* entry = EntryOwnedBy(number, owner);
                if (entry == nullptr || std::wcsncmp(entry->name.Text(), L"korvo", 5) != 0)
                    continue;
                bool added = functions.emplace(entry->name.ToUtf8(), number).second;
                EXPECT_TRUE(added) << entry->name.ToUtf8() << " fills two slots";
            }
        }
        return functions;
    }
};

TEST(PageFunctionTable, TheScriptLibraryAndTheDispatchNameTheSameFunctionsByTheSameNumbers) {
    const FunctionTable library = ScriptLibraryFunctions();
    ASSERT_FALSE(library.empty()) << "korvo.js's table could not be read";
    const FunctionTable dispatch = TableReader().PageFunctions();
    std::string differences;
    for (const auto& [name, number] : library) {
        auto slot = dispatch.find(name);
        if (slot == dispatch.end())
            differences += name + " is " + std::to_string(number) +
                           " in korvo.js, in no slot of the dispatch\n";
        else if (slot->second != number)
            differences += name + " is " + std::to_string(number) + " in korvo.js, " +
                           std::to_string(slot->second) + " in the dispatch\n";
    }
    for (const auto& [name, number] : dispatch)
        if (library.count(name) == 0)
            differences += name + " is " + std::to_string(number) +
                           " in the dispatch, missing from korvo.js\n";
    EXPECT_EQ(differences, "");
}

}  // namespace
