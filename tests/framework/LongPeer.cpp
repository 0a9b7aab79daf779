// Plug-in library whose module holds the long connector "Level".
#include "PeerLibrary.h"

class LongModule : public PeerModule<KorvoLongConnector> {
public:
    LongModule() : PeerModule(L"Level") {}
};

KORVO_DEFINE_PEER_EXPORTS(LongModule)
