// The warming's one function, over what each platform finds.
#include "trigger_warmth.h"

#include "walk.h"

TriggerWarmth FindTriggerWarmth()
{
    TriggerWarmth warmth{};
    FindTriggerRanges(&warmth);
    if (warmth.library.ranges == 0) AddRange(&warmth.library, warmth.entry, 4 * 64);
    if (warmth.rest.ranges == 0) AddRange(&warmth.rest, warmth.entry, 4 * 64);
    return warmth;
}

namespace {

// Found before main: the library is loaded and bound by then, and the poll
// never has to ask.
TriggerWarmth Found = FindTriggerWarmth();

}  // namespace

void WarmTriggerPath()
{
    Warm(Found);
}
