// Where the system has no way for a process to confine itself that the
// game uses, it plays unconfined. See confine.h.
#include "platform/terminal/confine.h"

bool confineToTerminal() { return false; }
bool confineInstallFilter() { return false; }
