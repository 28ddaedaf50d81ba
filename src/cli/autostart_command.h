#pragma once

#include "cli/arguments.h"

namespace cli {

// autostart on [--start-stack], off and status: sets or removes the entry that starts the
// window program beside this one at login, then prints the entry's state (as JSON with
// --json). Needs no panel root. Returns the exit status.
int runAutostart(const Invocation& invocation);

} // namespace cli
