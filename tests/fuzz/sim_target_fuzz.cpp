// The simulated chip's bootloader command parser on arbitrary host bytes, fed
// one byte at a time. Beyond memory safety: flash changes only as flash can,
// by erasing whole pages to 0xFF or by clearing bits, never by setting them,
// and every reply byte comes out whole.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <vector>

#include "fuzz_check.h"
#include "stm32sim/target.hpp"

namespace {

using namespace stm32sim;

// Between two replies at most one command has acted on flash: either whole
// pages were erased, or bits were cleared.
void CheckFlashChange(const std::vector<std::uint8_t>& before,
                      const std::vector<std::uint8_t>& after, std::uint32_t pageBytes) {
    FUZZ_CHECK(before.size() == after.size(), "flash keeps its size");
    for (std::size_t page = 0; page < after.size(); page += pageBytes) {
        const auto first = after.begin() + static_cast<std::ptrdiff_t>(page);
        const auto last = first + static_cast<std::ptrdiff_t>(pageBytes);
        if (std::equal(first, last, before.begin() + static_cast<std::ptrdiff_t>(page))) {
            continue;
        }
        if (std::all_of(first, last, [](std::uint8_t b) { return b == 0xFF; })) {
            continue;  // erased
        }
        for (std::size_t k = page; k < page + pageBytes; ++k) {
            FUZZ_CHECK((after[k] & ~before[k]) == 0, "programming only clears bits");
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    // Small parts keep each flash comparison cheap: two F1s (Erase) and an
    // F0 (Extended Erase).
    constexpr const char* parts[] = {"f103c8", "f103c6", "f030r8"};
    const Product product = *find_product(parts[data[0] % std::size(parts)]);
    TargetConfig config;
    config.product = product;
    config.boot0 = Boot0Polarity::tied_high;
    config.start = StartMode::bootloader;
    if ((data[0] & 0x80) != 0) {
        config.faults.refuse_fraction = 0.25;
        config.faults.split_pieces = 3;
    }
    Target chip(config);
    // Programmed words in the first pages, so that writes over data are tried too.
    std::vector<std::uint8_t> pattern(2 * product.page_bytes);
    for (std::size_t k = 0; k < pattern.size(); ++k) {
        pattern[k] = static_cast<std::uint8_t>(k * 37 + 11);
    }
    FUZZ_CHECK(chip.load_flash(flash_base, pattern), "pattern loads");

    TimePoint now{};
    std::vector<std::uint8_t> flash = chip.flash();
    for (std::size_t at = 1; at < size; ++at) {
        chip.receive(std::span(data + at, 1), now);
        now += std::chrono::milliseconds(1);
        const Output out = chip.take_output(now);
        FUZZ_CHECK(!out.drop_connection, "no drop without the drop fault");
        if (!out.bytes.empty()) {
            std::vector<std::uint8_t> after = chip.flash();
            CheckFlashChange(flash, after, product.page_bytes);
            flash = std::move(after);
        }
    }
    // Whatever is still due comes out once its time has passed.
    now += std::chrono::seconds(2);
    chip.take_output(now);
    CheckFlashChange(flash, chip.flash(), product.page_bytes);
    FUZZ_CHECK(!chip.next_output_due() || *chip.next_output_due() > now ||
                   chip.mode() == Mode::application,
               "nothing left overdue");
    return 0;
}
