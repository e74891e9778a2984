// The seam between minute-trigger-check's main and the system it runs on:
// each system's reader (read_linux.cpp, read_windows.cpp) reads what it can,
// changing nothing, and hands its readings to the judgement (judge.h).
#ifndef CHECK_READ_H
#define CHECK_READ_H

#include "judge.h"

Findings CheckThisMachine();

#endif
