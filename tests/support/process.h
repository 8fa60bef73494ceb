#pragma once
// Running another program and waiting for it: the harness starts a second host process.
#include <string>
#include <vector>

namespace qztest {

// Runs argv[0] with the arguments argv[1..] and the environment of this process, waits for it to
// end and returns its exit code; -1 when it could not be started or did not end normally.
int RunProgram(const std::vector<std::string>& argv);

}  // namespace qztest
