// Regression driver for the fuzz targets without libFuzzer: runs every file
// of a seed corpus, then deterministic mutations of them, through the target.
// A broken invariant aborts the process, so the test fails.
//
//   fuzz_replay_<target> <corpus folder> [mutations]
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

using Bytes = std::vector<std::uint8_t>;

// xorshift64*: the same mutations on every run and every machine.
class Random {
  public:
    explicit Random(std::uint64_t seed) : state_(seed) {}
    std::uint64_t next() {
        state_ ^= state_ >> 12;
        state_ ^= state_ << 25;
        state_ ^= state_ >> 27;
        return state_ * 0x2545F4914F6CDD1DULL;
    }
    std::size_t below(std::size_t n) { return n == 0 ? 0 : static_cast<std::size_t>(next() % n); }

  private:
    std::uint64_t state_;
};

std::vector<Bytes> ReadCorpus(const std::filesystem::path& folder) {
    std::vector<std::filesystem::path> paths;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (entry.is_regular_file()) {
            paths.push_back(entry.path());
        }
    }
    std::sort(paths.begin(), paths.end());
    std::vector<Bytes> seeds;
    for (const auto& path : paths) {
        std::ifstream in(path, std::ios::binary);
        seeds.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    return seeds;
}

// Bytes that parsers treat specially: line ends, hex digits, record marks,
// Telnet commands, bootloader ACK/NACK/sync and boundary values.
constexpr std::uint8_t kInteresting[] = {0x00, 0x01, 0x0A, 0x0D, 0x1F, 0x24, 0x2A, 0x30,
                                         0x3A, 0x41, 0x46, 0x79, 0x7F, 0x80, 0xF0, 0xFA,
                                         0xFB, 0xFC, 0xFD, 0xFE, 0xFF, 0x2C, 0x43, 0x11};

void MutateOnce(Bytes& input, const std::vector<Bytes>& seeds, Random& random) {
    switch (random.below(7)) {
        case 0:  // flip one bit
            if (!input.empty()) {
                input[random.below(input.size())] ^=
                    static_cast<std::uint8_t>(1u << random.below(8));
            }
            break;
        case 1:  // set a byte to a value parsers care about
            if (!input.empty()) {
                input[random.below(input.size())] = kInteresting[random.below(sizeof kInteresting)];
            }
            break;
        case 2:  // insert random bytes
            for (std::size_t n = 1 + random.below(4); n > 0; --n) {
                input.insert(
                    input.begin() + static_cast<std::ptrdiff_t>(random.below(input.size() + 1)),
                    static_cast<std::uint8_t>(random.next()));
            }
            break;
        case 3:  // erase a run
            if (!input.empty()) {
                const std::size_t from = random.below(input.size());
                const std::size_t n =
                    1 + random.below(std::min<std::size_t>(16, input.size() - from));
                input.erase(input.begin() + static_cast<std::ptrdiff_t>(from),
                            input.begin() + static_cast<std::ptrdiff_t>(from + n));
            }
            break;
        case 4:  // duplicate a run
            if (!input.empty()) {
                const std::size_t from = random.below(input.size());
                const std::size_t n =
                    1 + random.below(std::min<std::size_t>(64, input.size() - from));
                const Bytes run(input.begin() + static_cast<std::ptrdiff_t>(from),
                                input.begin() + static_cast<std::ptrdiff_t>(from + n));
                input.insert(
                    input.begin() + static_cast<std::ptrdiff_t>(random.below(input.size())),
                    run.begin(), run.end());
            }
            break;
        case 5:  // splice with the tail of another seed
            if (!seeds.empty()) {
                const Bytes& other = seeds[random.below(seeds.size())];
                input.resize(random.below(input.size() + 1));
                const std::size_t from = random.below(other.size() + 1);
                input.insert(input.end(), other.begin() + static_cast<std::ptrdiff_t>(from),
                             other.end());
            }
            break;
        default:  // cut short
            input.resize(random.below(input.size() + 1));
            break;
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <corpus folder> [mutations]\n", argv[0]);
        return 2;
    }
    const std::vector<Bytes> seeds = ReadCorpus(argv[1]);
    if (seeds.empty()) {
        std::fprintf(stderr, "%s: no seeds in %s\n", argv[0], argv[1]);
        return 2;
    }
    const long mutations = argc > 2 ? std::strtol(argv[2], nullptr, 10) : 2000;
    for (const Bytes& seed : seeds) {
        LLVMFuzzerTestOneInput(seed.data(), seed.size());
    }
    Random random(0x9E3779B97F4A7C15ULL);
    for (long k = 0; k < mutations; ++k) {
        Bytes input = seeds[random.below(seeds.size())];
        for (std::size_t n = 1 + random.below(4); n > 0; --n) {
            MutateOnce(input, seeds, random);
        }
        LLVMFuzzerTestOneInput(input.data(), input.size());
    }
    std::printf("%zu seeds and %ld mutations passed\n", seeds.size(), mutations);
    return 0;
}
