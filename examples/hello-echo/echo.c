/* Minimal STM32F103/F100 program: says it is ready on USART1, then sends back
 * every byte it receives, so a terminal shows both directions of the line.
 * Same clock and framing as hello-usart: 8 MHz HSI, 115200 baud 8E1. */
#include <stdint.h>

#define REG(addr) (*(volatile uint32_t *)(addr))

#define RCC_APB2ENR REG(0x40021018u)
#define GPIOA_CRH REG(0x40010804u)
#define USART1_SR REG(0x40013800u)
#define USART1_DR REG(0x40013804u)
#define USART1_BRR REG(0x40013808u)
#define USART1_CR1 REG(0x4001380Cu)

#define RCC_IOPAEN (1u << 2)
#define RCC_USART1EN (1u << 14)
#define USART_RXNE (1u << 5)
#define USART_TXE (1u << 7)
#define USART_UE (1u << 13)
#define USART_M (1u << 12)
#define USART_PCE (1u << 10)
#define USART_TE (1u << 3)
#define USART_RE (1u << 2)

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

void reset_handler(void) {
    RCC_APB2ENR |= RCC_IOPAEN | RCC_USART1EN;
    /* PA9 (TX): alternate-function push-pull, 50 MHz; PA10 (RX) stays a
     * floating input, which is what the receiver needs. */
    GPIOA_CRH = (GPIOA_CRH & ~0xF0u) | 0xB0u;
    USART1_BRR = 0x45u; /* 8 MHz / 115200 */
    USART1_CR1 = USART_UE | USART_M | USART_PCE | USART_TE | USART_RE;
    for (const char *text = "Echo ready\r\n"; *text; ++text) {
        put_char(*text);
    }
    for (;;) {
        while (!(USART1_SR & USART_RXNE)) {
        }
        /* With parity on, the 9th bit read is the parity bit: keep 8. */
        put_char((char)(USART1_DR & 0xFFu));
    }
}
