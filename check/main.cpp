// minute-trigger-check: tells whether this machine will trigger on time for
// months, item by item, and how to mend what will not. It reads only: it
// changes nothing and triggers nothing, so it is safe beside a running
// program. Any arguments are ignored.
#include "read.h"

int main()
{
    return Report(CheckThisMachine(), stdout);
}
