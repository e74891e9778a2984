# AWG10K_CallEntry(entry, first, second): calls one entry of the device
# library with two stack arguments, and is right whichever calling
# convention the library was built with.
#
# A stdcall entry pops its own arguments, a cdecl one leaves that to the
# caller, and the library does not say which it is. Guess wrong and every
# call leaves the stack pointer off by the argument bytes, and a caller
# compiled with -O2, which addresses its own variables from the stack
# pointer, reads and writes the wrong words from the first call on: its
# variables overwritten by the next call's pushes, or the device identifier
# taken from a neighbour. So the stack pointer is kept in EBX, which
# both conventions preserve, and put back after the call: what the entry
# popped no longer matters. Both return in EAX. An entry that takes one
# argument never reads the second.
#
# Itself an ordinary cdecl function (device/windows/AWG10K_imports.h).
        .text
        .globl  _AWG10K_CallEntry
        .def    _AWG10K_CallEntry; .scl 2; .type 32; .endef
_AWG10K_CallEntry:
        pushl   %ebx
        movl    %esp, %ebx
        pushl   16(%ebx)        # second
        pushl   12(%ebx)        # first
        call    *8(%ebx)        # entry
        movl    %ebx, %esp
        popl    %ebx
        ret
