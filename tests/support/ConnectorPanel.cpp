#include "support/ConnectorPanel.h"

namespace korvotest {

ConnectorPanel::ConnectorPanel() {
    send = new KorvoTextConnector(L"Send", nullptr, 0, this);
    connectors.Add(send);
    connectors.Add(new KorvoTextConnector(L"Receive", MakeHandler(&ConnectorPanel::OnReceive), 0, this));
    connectors.Add(new KorvoTextConnector(L"Status", MakeHandler(&ConnectorPanel::OnStatus), 0, this));
    reset = new KorvoLongConnector(L"Reset", nullptr, 0, this);
    connectors.Add(reset);
}

void ConnectorPanel::Wire(KorvoModule& module) {
    for (KorvoConnector* mine : connectors) mine->Connect(module.FindConnector(mine->Name()));
}

void ConnectorPanel::Send(const std::wstring& text) { send->SetText(text.c_str(), true); }

void ConnectorPanel::Reset(int32_t value) { reset->SetLong(value, true); }

void ConnectorPanel::OnReceive(KorvoConnector* connector) {
    received.push_back(connector->GetText().Text());
    if (onReceive) onReceive(received.back());
}

void ConnectorPanel::OnStatus(KorvoConnector* connector) {
    statuses.push_back(connector->GetText().Text());
    if (onStatus) onStatus(statuses.back());
}

}  // namespace korvotest
