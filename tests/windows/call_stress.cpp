// Calls every entry of a simulated AWG10K.dll through the program's thin
// functions and call helper, and checks what a calling-convention mistake
// spoils: the stack pointer, the caller's variables, the entries' arguments
// and results. Built with -O2, the caller addresses its variables from ESP,
// so a stack pointer left off shows from the first call; the rounds are for
// the seven wrong identifiers, each refused many times over.
// Usage: call_stress.exe [ROUNDS]  (1000)
#include "AWG10K.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#ifdef __x86_64__
#define READ_STACK_POINTER(to) __asm__ __volatile__("movq %%rsp, %0" : "=r"(to))
#else
#define READ_STACK_POINTER(to) __asm__ __volatile__("movl %%esp, %0" : "=r"(to))
#endif

int main(int argc, char **argv)
{
    const long rounds = argc > 1 ? std::atol(argv[1]) : 1000;
    // Kept in the frame, where a stack pointer left too high lets the next
    // call's pushes land.
    volatile uint32_t guard_low = 0x600DF00D;
    char path[] = "C:\\stress\\waveform.zpr";
    volatile uint32_t guard_high = 0xC0FFEE11;
    // Read at one point of the loop: elsewhere the compiler may keep the
    // stack pointer at another depth of its own choosing.
    uintptr_t sp_first_round = 0;

    for (long round = 0; round < rounds; ++round) {
        const char *fault = nullptr;
        int32_t number = -7;
        uint8_t id = 0;
        if (AWG10K_GetNumberOfDevices(&number) != 0 || number != 1)
            fault = "the count";
        else if (AWG10K_Open(&id) != 0 || id != 1)
            fault = "open";
        else if (AWG10K_SetFile(id, path) != 0)
            fault = "load";
        // A wrong identifier must reach the entry, and be refused there.
        else if (AWG10K_Trigger(id + 1 + round % 7) != -1)
            fault = "a trigger with a wrong identifier";
        else if (AWG10K_Trigger(id) != 0)
            fault = "the trigger";
        else if (AWG10K_Close(id) != 0)
            fault = "close";
        uintptr_t sp;
        READ_STACK_POINTER(sp);
        if (round == 0) sp_first_round = sp;
        if (fault == nullptr && sp != sp_first_round) fault = "the stack pointer";
        if (fault == nullptr && (guard_low != 0x600DF00D || guard_high != 0xC0FFEE11)) fault = "the caller's variables";
        if (fault != nullptr) {
            std::printf("call_stress: round %ld of %ld: %s went wrong (stack pointer %+ld bytes)\n", round + 1, rounds,
                        fault, static_cast<long>(sp) - static_cast<long>(sp_first_round));
            return 1;
        }
    }
    std::printf("call_stress: %ld rounds, %ld calls: stack pointer, variables, arguments and results all right\n",
                rounds, rounds * 6);
    return 0;
}
