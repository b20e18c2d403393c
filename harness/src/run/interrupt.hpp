// Stopping a run from outside: SIGINT, SIGTERM and SIGHUP to the test
// process, or the program itself ending the run early. One process-wide
// request that the run loop and long-running test bodies can query or wait on.
#pragma once

namespace harness {

void install_interrupt_handlers();
// Turns SIGINT, SIGTERM and SIGHUP into a stop request instead of the end of
// the process. A second SIGINT after a stop request ends the process at once.

void request_stop();
// Asks every test body still waiting on something (a child process, a
// device) to give up, and the run loop to start no more tests. It stays
// requested until the process ends.

bool stop_requested();

int interrupt_signal();
// The signal that requested the stop; 0 when none did.

int stop_event_fd();
// A descriptor that polls readable once a stop is requested, for waits that
// combine it with other events; -1 when it cannot be made (poll ignores it).

}  // namespace harness
