/* Minimal STM32F103/F100 program: prints a greeting on USART1 (PA9) once a second.
 * Runs on the reset clock (8 MHz HSI) so it needs no clock set-up; the line
 * is 115200 baud 8E1, the same framing the bootloader used, so a terminal
 * left open after Go shows the text. */
#include <stdint.h>

#define REG(addr) (*(volatile uint32_t *)(addr))

/* The text, replaceable at build time (-DGREETING='"..."') to show that what
 * the board prints comes from the flashed bytes. */
#ifndef GREETING
#define GREETING "Hello from ChipLoad!\r\n"
#endif

#define RCC_APB2ENR REG(0x40021018u)
#define GPIOA_CRH REG(0x40010804u)
#define USART1_SR REG(0x40013800u)
#define USART1_DR REG(0x40013804u)
#define USART1_BRR REG(0x40013808u)
#define USART1_CR1 REG(0x4001380Cu)

#define RCC_IOPAEN (1u << 2)
#define RCC_USART1EN (1u << 14)
#define USART_TXE (1u << 7)
#define USART_UE (1u << 13)
#define USART_M (1u << 12)
#define USART_PCE (1u << 10)
#define USART_TE (1u << 3)

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

static void put_char(char c) {
    while (!(USART1_SR & USART_TXE)) {
    }
    USART1_DR = (uint8_t)c;
}

static void put_text(const char *text) {
    while (*text) {
        put_char(*text++);
    }
}

static void delay(volatile uint32_t loops) {
    while (loops--) {
    }
}

void reset_handler(void) {
    RCC_APB2ENR |= RCC_IOPAEN | RCC_USART1EN;
    /* PA9: alternate-function push-pull, 50 MHz; PA10 stays a floating input. */
    GPIOA_CRH = (GPIOA_CRH & ~0xF0u) | 0xB0u;
    USART1_BRR = 0x45u; /* 8 MHz / 115200 = 4.34 -> mantissa 4, fraction 5 */
    /* 9-bit words with parity = 8 data bits + even parity. */
    USART1_CR1 = USART_UE | USART_M | USART_PCE | USART_TE;
    for (;;) {
        put_text(GREETING);
        delay(800000u);
    }
}
