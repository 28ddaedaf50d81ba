#pragma once

namespace cli {

// The command-line panel: parses the arguments, runs the command against a model with the
// real platform and a headless desktop, prints the result and returns the exit status
// (0 done, 1 the operation failed, 2 wrong arguments).
int run(int argc, char** argv);

} // namespace cli
