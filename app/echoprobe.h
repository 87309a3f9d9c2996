// The program's main block: banner, options, driver list, selection, initialisation,
// report, run and tear-down, in that order, ending with the shutdown text.
#pragma once

// Runs the whole program between the modules' start-up and shutdown. Returns the exit
// status: 0 on every path, unless /seconds was given: then 0 for a run that passed, 1
// for one that failed and 2 for one that could not happen.
int runMainBlock();

// Runs the modules' start-up, the main block and the modules' shutdown, and returns the
// main block's exit status.
int echoprobeMain();
