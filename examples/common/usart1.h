/* USART1 of an STM32 on its reset clock (HSI), on PA9 (TX) and PA10 (RX), at
 * 115200 baud 8E1: the framing the bootloader used, so a terminal left open
 * after Go shows the text. The F1 map is the default (the F103, and the F100
 * of the emulated STM32VLDISCOVERY); -DSTM32_F2F4 selects the F2 and F4 map
 * (USART1 at 0x40011000 on APB2, the pins in alternate function 7). */
#ifndef EXAMPLES_USART1_H
#define EXAMPLES_USART1_H

#include <stdint.h>

#define REG(addr) (*(volatile uint32_t *)(addr))

#if defined(STM32_F2F4)
#define RCC_AHB1ENR REG(0x40023830u)
#define RCC_APB2ENR REG(0x40023844u)
#define GPIOA_MODER REG(0x40020000u)
#define GPIOA_AFRH REG(0x40020024u)
#define USART1_ADDR 0x40011000u
#define USART1_BRR_115200 0x8Bu /* 16 MHz / 115200 = 8.68 -> mantissa 8, fraction 11 */
#else
#define RCC_APB2ENR REG(0x40021018u)
#define GPIOA_CRH REG(0x40010804u)
#define USART1_ADDR 0x40013800u
#define USART1_BRR_115200 0x45u /* 8 MHz / 115200 = 4.34 -> mantissa 4, fraction 5 */
#endif

#define USART1_SR REG(USART1_ADDR + 0x0u)
#define USART1_DR REG(USART1_ADDR + 0x4u)
#define USART1_BRR REG(USART1_ADDR + 0x8u)
#define USART1_CR1 REG(USART1_ADDR + 0xCu)

#define USART_RXNE (1u << 5)
#define USART_TXE (1u << 7)
#define USART_UE (1u << 13)
#define USART_M (1u << 12)
#define USART_PCE (1u << 10)
#define USART_TE (1u << 3)
#define USART_RE (1u << 2)

static inline void usart1_init(void) {
#if defined(STM32_F2F4)
    RCC_AHB1ENR |= 1u << 0; /* GPIOA */
    RCC_APB2ENR |= 1u << 4; /* USART1 */
    GPIOA_MODER = (GPIOA_MODER & ~(0xFu << 18)) | (0xAu << 18); /* PA9, PA10: alternate */
    GPIOA_AFRH = (GPIOA_AFRH & ~(0xFFu << 4)) | (0x77u << 4);   /* AF7 = USART1 */
#else
    RCC_APB2ENR |= (1u << 2) | (1u << 14); /* GPIOA, USART1 */
    /* PA9: alternate-function push-pull, 50 MHz; PA10 stays a floating input. */
    GPIOA_CRH = (GPIOA_CRH & ~0xF0u) | 0xB0u;
#endif
    USART1_BRR = USART1_BRR_115200;
    /* 9-bit words with parity = 8 data bits + even parity. */
    USART1_CR1 = USART_UE | USART_M | USART_PCE | USART_TE | USART_RE;
}

static inline void usart1_put(char c) {
    while (!(USART1_SR & USART_TXE)) {
    }
    USART1_DR = (uint8_t)c;
}

static inline void usart1_put_text(const char *text) {
    while (*text) {
        usart1_put(*text++);
    }
}

static inline char usart1_get(void) {
    while (!(USART1_SR & USART_RXNE)) {
    }
    /* With parity on, the 9th bit read is the parity bit: keep 8. */
    return (char)(USART1_DR & 0xFFu);
}

#endif
