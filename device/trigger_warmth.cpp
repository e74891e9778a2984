// The trigger entry is the library's own function, bound when the program
// loaded (-z now), so its address is where its code starts.
#include "trigger_warmth.h"

#include "AWG10K.h"

void WarmTriggerEntry()
{
    WarmCode(reinterpret_cast<const void *>(&AWG10K_Trigger));
}
