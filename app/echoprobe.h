// The program's main block: banner, options, driver list, selection, initialisation,
// report, run and tear-down, in that order, ending with the shutdown text.
#pragma once

// Runs the whole program between the modules' start-up and shutdown.
void runMainBlock();

// Runs the modules' start-up, the main block and the modules' shutdown. Returns the
// exit code, which is 0 on every path.
int echoprobeMain();
