#pragma once
// A window that writes down everything it receives, for the window tests.

#include <string>
#include <vector>

#include "platform/Window.h"

class RecordingWindow : public platform::Window {
public:
    explicit RecordingWindow(std::vector<std::string>* log = nullptr, std::string name = "w")
        : log(log ? log : &ownLog), name(std::move(name)) {}
    ~RecordingWindow() override { Destroy(); }

    std::vector<std::string> ownLog;
    std::vector<std::string>* log;
    std::string name;

protected:
    void OnTimer(unsigned id) override { log->push_back(name + ":timer" + std::to_string(id)); }
    void OnMessage(unsigned message, uintptr_t wparam, uintptr_t) override {
        log->push_back(name + ":msg" + std::to_string(message) + "/" + std::to_string(wparam));
    }
    void OnDestroy() override { log->push_back(name + ":destroy"); }
};
