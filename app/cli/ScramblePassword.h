#pragma once
// `tavrel-update --scramble-password`: writes the "Password" value of the
// settings file on a workstation without a display, where the connection
// dialog that normally writes it cannot be shown.

// Reads one line from standard input (without echo on a terminal, after a
// prompt on standard error) and prints it scrambled as the settings file
// keeps it. The password is never taken from the command line, which other
// users of the machine can see. Returns the exit code.
int scramblePassword();
