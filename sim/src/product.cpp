#include "stm32sim/product.hpp"

#include <algorithm>
#include <array>
#include <cctype>

namespace stm32sim {
namespace {

constexpr std::uint32_t kib = 1024;

// PIDs from AN2606; sizes from the STM32F1 datasheets. Parts of one density
// class share a PID and differ only in flash size.
constexpr std::array products{
    Product{"f103c8", 0x410, 64 * kib, 1 * kib, 20 * kib},
    Product{"f103c6", 0x412, 32 * kib, 1 * kib, 10 * kib},
    Product{"f103cb", 0x410, 128 * kib, 1 * kib, 20 * kib},
    Product{"f103rb", 0x410, 128 * kib, 1 * kib, 20 * kib},
    Product{"f103rc", 0x414, 256 * kib, 2 * kib, 64 * kib},
    Product{"f103rd", 0x414, 384 * kib, 2 * kib, 64 * kib},
    Product{"f103re", 0x414, 512 * kib, 2 * kib, 64 * kib},
    Product{"f100rb", 0x420, 128 * kib, 1 * kib, 8 * kib},
};

bool same_name(std::string_view a, std::string_view b) {
    return std::ranges::equal(a, b, [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) ==
               std::tolower(static_cast<unsigned char>(y));
    });
}

}  // namespace

std::span<const Product> all_products() {
    return products;
}

std::optional<Product> find_product(std::string_view name) {
    auto it =
        std::ranges::find_if(products, [&](const Product& p) { return same_name(p.name, name); });
    if (it == products.end()) {
        return std::nullopt;
    }
    return *it;
}

std::optional<Product> find_product(std::uint16_t pid, std::uint32_t flash_kib) {
    auto it = std::ranges::find_if(products, [&](const Product& p) {
        return p.pid == pid && p.flash_bytes == flash_kib * kib;
    });
    if (it == products.end()) {
        return std::nullopt;
    }
    return *it;
}

}  // namespace stm32sim
