/* Minimal STM32 program: says it is ready on USART1, then sends back every
 * byte it receives, so a terminal shows both directions of the line. Same
 * clock, line and families as hello-usart (../common/usart1.h). */
#include "../common/usart1.h"

extern uint32_t _stack_top;
void reset_handler(void);
static void default_handler(void) {
    for (;;) {
    }
}

__attribute__((section(".vectors"), used)) static void (*const vectors[])(void) = {
    (void (*)(void))&_stack_top,
    reset_handler,
    default_handler, /* NMI */
    default_handler, /* HardFault */
};

void reset_handler(void) {
    usart1_init();
    usart1_put_text("Echo ready\r\n");
    for (;;) {
        usart1_put(usart1_get());
    }
}
