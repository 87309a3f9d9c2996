// /index=all with /seconds: a timed measured run of every installed driver in turn,
// each supervised in a child process of its own (so one driver's crash or hang costs its
// own run, never the others'), then one table of all of them. The children print their
// runs as a run of one driver does, under the one banner of this process; /json writes
// one document with every run in `runs`. The exit status is the worst verdict's. A stop
// request (Ctrl+C, a signal) ends the run in progress and starts no more.
#pragma once

#include "app/options.h"

int runEveryDriver(const programOptions& options);
