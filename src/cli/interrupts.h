#pragma once

// Ctrl-C and SIGTERM turned into a flag that the program polls, so that a run
// can be cancelled and end cleanly. A second signal ends the program at once.
class Interrupts
{
public:
    static void install();
    static bool raised();
};
