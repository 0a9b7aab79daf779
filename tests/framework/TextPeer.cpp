// Plug-in library whose module holds the text connector "Text".
#include "PeerLibrary.h"

class TextModule : public PeerModule<KorvoTextConnector> {
public:
    TextModule() : PeerModule(L"Text") {}
};

KORVO_DEFINE_PEER_EXPORTS(TextModule)
