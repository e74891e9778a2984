// The program with no warming: built from the same sources with this in
// place of the warming, so a benchmark shows in one run what the warming buys.
#include "trigger_warmth.h"

void WarmTriggerPath() {}
