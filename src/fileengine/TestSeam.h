// A pause point for tests that stop a program of the engine at a known step
// (for example to kill it there and look at what it left).
#pragma once

namespace kes {

// When the environment variable KES_TEST_PAUSE_AT names this point, the
// calling thread writes "paused at <name>" and a line break to standard
// error and then waits for good. Without the variable it costs a look at a
// value read once.
void TestPausePoint(const char* name);

} // namespace kes
