// Linked only into the test build of the library: a real host's adapter
// installs its services from inside the library, a test host from outside.
#include "plugin/HostServices.h"

// Installs `host` (not owned; null uninstalls) as the library's host services
// and returns the previous one.
extern "C" HostGlobals* QuorvexTestSetHostGlobals(HostGlobals* host) { return SetHostGlobals(host); }
