/* Stand-in for the DNS-SD library that the device library is linked against.
   The device library only needs it to be present; the one function gives the
   link something real to bind to. */

#include "DnsSd.h"

int dante_dnssd_available(void) { return 1; }
