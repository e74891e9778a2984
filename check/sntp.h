// One SNTP query, as w32tm /stripchart makes one: how far this clock is
// from a time server's, for a machine whose time daemon does not say.
#ifndef CHECK_SNTP_H
#define CHECK_SNTP_H

#include "judge.h"

// server: a name or address, port 123. Waits 2 s at most.
ClockOffset QuerySntp(const std::string &server);

#endif
