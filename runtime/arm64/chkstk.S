// Stack probe the compiler calls before it lowers the stack pointer by a page or more: x15 holds
// the frame's size in 16-byte units. Each page below the stack pointer is touched in turn, so the
// system's guard page moves down one page at a time. Changes only x16 and x17.
    .text
    .p2align 2
    .globl __chkstk
__chkstk:
    lsl     x16, x15, #4
    mov     x17, sp
1:
    sub     x17, x17, #4096
    subs    x16, x16, #4096
    ldr     xzr, [x17]
    b.gt    1b
    ret
