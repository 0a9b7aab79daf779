// Scaler: an example module. A number that arrives on "Input" goes out again on
// "Output", multiplied by "Factor". Factor keeps its value in the project file
// (FlagPersistent), so each project can choose its own.
#include "framework/PlugIn.h"

class Scaler : public KorvoModule {
public:
    Scaler() {
        // The handler runs whenever a linked connector (here the page's "Input")
        // sets a value.
        input = Add(new KorvoLongConnector(L"Input", MakeHandler(&Scaler::OnInput), 0, this));
        output = Add(new KorvoLongConnector(L"Output", nullptr, 0, this));
        factor = Add(new KorvoLongConnector(L"Factor", nullptr, KorvoConnector::FlagPersistent, this));
        factor->StoreLong(2);  // unless the project keeps another value
    }

private:
    // The module owns its connectors: KorvoModule deletes them.
    KorvoConnector* Add(KorvoConnector* connector) {
        connectors.Add(connector);
        return connector;
    }

    void OnInput(KorvoConnector*) {
        // Forced, so that the page hears of every answer, even a repeated one.
        output->SetLong(input->GetLong() * factor->GetLong(), true);
    }

    KorvoConnector* input;
    KorvoConnector* output;
    KorvoConnector* factor;
};

// The two exports through which the program creates and deletes the module.
KORVO_DEFINE_CREATE_MODULE(Scaler)
KORVO_DEFINE_DELETE_MODULE
