#pragma once
// A small module standing in for the page in front of the device module: its
// connectors "Send", "Receive", "Status" and "Reset" are linked to the module's
// connectors of the same names. It records every text that arrives on
// "Receive" and "Status" and writes "Send" and "Reset" forced, as a page does.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "framework/Connector.h"
#include "framework/Module.h"

namespace korvotest {

class ConnectorPanel : public KorvoModule {
public:
    ConnectorPanel();

    // Links each connector to the module's connector of the same name.
    void Wire(KorvoModule& module);

    void Send(const std::wstring& text);
    void Reset(int32_t value);

    std::vector<std::wstring> received;
    std::vector<std::wstring> statuses;
    // Called after each recorded "Receive" or "Status" text (re-entrancy tests).
    std::function<void(const std::wstring&)> onReceive;
    std::function<void(const std::wstring&)> onStatus;

private:
    void OnReceive(KorvoConnector* connector);
    void OnStatus(KorvoConnector* connector);

    KorvoTextConnector* send;
    KorvoLongConnector* reset;
};

}  // namespace korvotest
