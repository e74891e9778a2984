// On Windows the program's AWG10K_Trigger is its own thin function over the
// call helper; the code that goes cold is the DLL's, where the import slot
// the loader filled points. The thin function and the helper go first.
#include "trigger_warmth.h"

#include "AWG10K.h"
#include "AWG10K_imports.h"

void WarmTriggerEntry()
{
    __builtin_prefetch(reinterpret_cast<const void *>(&AWG10K_Trigger));
    __builtin_prefetch(reinterpret_cast<const void *>(&AWG10K_CallEntry));
    WarmCode(AWG10K_Trigger_Entry);
}
