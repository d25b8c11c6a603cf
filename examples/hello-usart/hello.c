/* Minimal STM32 program: prints a greeting on USART1 (PA9) about once a
 * second. Runs on the reset clock so it needs no clock set-up; see
 * ../common/usart1.h for the line and the families. */
#include "../common/usart1.h"

/* The text, replaceable at build time (-DGREETING='"..."') to show that what
 * the board prints comes from the flashed bytes. */
#ifndef GREETING
#define GREETING "Hello from ChipLoad!\r\n"
#endif

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

static void delay(volatile uint32_t loops) {
    while (loops--) {
    }
}

void reset_handler(void) {
    usart1_init();
    for (;;) {
        usart1_put_text(GREETING);
        delay(800000u);
    }
}
