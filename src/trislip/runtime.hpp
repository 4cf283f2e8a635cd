#pragma once

#ifndef _WIN32
#include <signal.h>
#endif

namespace trislip {

// Process start-up: standard descriptors that are closed are opened on the
// null device, so that no result file can take their numbers; handlers are
// installed for floating-point exceptions, abort, interrupt and
// termination requests, and for the other signals whose default action
// ends the process (hangup, quit, the user signals, alarm), which close
// the units before that default action is taken; a console pipe whose
// reader has gone and a file-size limit become failed writes instead of
// killing the run; and the closing of all units is registered at exit.
// Signals that are ignored at start stay ignored, the termination request
// and the abort and floating-point signals apart.
void start_up();

#ifndef _WIN32
// Adds the signals whose handlers close the units: they are held while a
// unit changes and while any one of the handlers runs.
void add_handled_signals(sigset_t& set);
#endif

}  // namespace trislip
