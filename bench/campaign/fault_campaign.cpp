// The fault campaign: many sessions through the application's own code (the
// headless front end, the real serial library, the simulated board over
// RFC 2217 and over a pseudo-terminal), each with faults drawn from the seed.
// After every session the board's flash is compared with the image; after
// every failure a clean board must connect at once.
//
//   fault_campaign [--sessions N] [--seed S] [--timing none|real]
//                  [--transport both|rfc2217|pty] [--bound SECONDS] [--verbose]
//
// Exit status 0 when no session reported success over wrong bytes, none hung
// and every connect after a failure worked; 1 otherwise; 2 for bad arguments.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <map>
#include <random>
#include <string>

#include "ChipLoad.h"
#include "campaign_board.h"
#include "campaign_session.h"
#include "fault_draw.h"
#include "temp_files.h"

namespace {

using namespace campaign;

constexpr int kCom = 7;

struct Options {
    int sessions = 1000;
    std::uint64_t seed = 1;
    stm32sim::Timing timing = stm32sim::Timing::real;
    std::string transport = "both";
    int boundSeconds = 60;
    bool verbose = false;
};

struct Part {
    const char* product;
    std::uint32_t pageBytes;
};

constexpr Part kParts[] = {{"f103c8", 1024}, {"f103c6", 1024}, {"f103rc", 2048}};

bool ParseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; i++) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--verbose") {
            options.verbose = true;
        } else if (arg == "--sessions" && hasValue) {
            options.sessions = std::atoi(argv[++i]);
        } else if (arg == "--seed" && hasValue) {
            options.seed = std::strtoull(argv[++i], nullptr, 10);
        } else if (arg == "--bound" && hasValue) {
            options.boundSeconds = std::atoi(argv[++i]);
        } else if (arg == "--timing" && hasValue) {
            const std::string value = argv[++i];
            if (value != "none" && value != "real") {
                return false;
            }
            options.timing = value == "none" ? stm32sim::Timing::none : stm32sim::Timing::real;
        } else if (arg == "--transport" && hasValue) {
            options.transport = argv[++i];
            if (options.transport != "both" && options.transport != "rfc2217" &&
                options.transport != "pty") {
                return false;
            }
        } else {
            return false;
        }
    }
    return options.sessions > 0 && options.boundSeconds > 0;
}

Transport TransportOf(const Options& options, int session) {
    if (options.transport == "both") {
        return session % 2 == 0 ? Transport::rfc2217 : Transport::pty;
    }
    return options.transport == "pty" ? Transport::pty : Transport::rfc2217;
}

// 256 bytes to 4 KiB of random bytes. Over a pseudo-terminal a last block of
// 125 to 128 bytes is avoided: its length byte is 0x7F, which the simulator
// would take for a new synchronisation after a pause, as no reset line exists.
std::vector<std::uint8_t> DrawImage(std::mt19937_64& random, Transport transport) {
    auto size = std::uniform_int_distribution<std::size_t>(256, 4096)(random);
    if (transport == Transport::pty && size % 256 >= 125 && size % 256 <= 128) {
        size += 8;
    }
    std::vector<std::uint8_t> image(size);
    for (auto& byte : image) {
        byte = static_cast<std::uint8_t>(random());
    }
    return image;
}

struct Tally {
    int sessions = 0;
    int successes = 0;
    int falseSuccesses = 0;
    int hangs = 0;
    int failures = 0;
    int reconnectChecks = 0;
    int reconnectsWorked = 0;
    int successesWithImage = 0;
    int lateIdentifications = 0;
    std::map<std::string, int> transports;
    std::map<std::string, int> causes;
};

void Report(const Options& options, const Tally& tally, double seconds) {
    std::printf("fault campaign: seed %llu, timing %s, %.0f s\n",
                static_cast<unsigned long long>(options.seed),
                options.timing == stm32sim::Timing::none ? "none" : "real", seconds);
    std::printf("sessions                 %d", tally.sessions);
    for (const auto& [name, count] : tally.transports) {
        std::printf("  (%s %d)", name.c_str(), count);
    }
    std::printf("\nsuccesses                %d (flash equal to the image after %d)\n",
                tally.successes, tally.successesWithImage);
    std::printf("failures                 %d\n", tally.failures);
    for (const auto& [cause, count] : tally.causes) {
        std::printf("  %5d  %s\n", count, cause.c_str());
    }
    std::printf("false successes          %d\n", tally.falseSuccesses);
    std::printf("hangs                    %d\n", tally.hangs);
    std::printf("next connect works       %d of %d\n", tally.reconnectsWorked,
                tally.reconnectChecks);
    std::printf("connects identified after the response timer's time-out message: %d\n",
                tally.lateIdentifications);
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(stderr,
                     "usage: fault_campaign [--sessions N] [--seed S] [--timing none|real] "
                     "[--transport both|rfc2217|pty] [--bound SECONDS] [--verbose]\n");
        return 2;
    }
    try {
        apptest::TempDir files;
        apptest::AppHarness app;
        app.commit(app.panels().main, PANEL_COMPORT, kCom);
        Operator operatorAtWindow(app, std::chrono::seconds(options.boundSeconds),
                                  (files.path() / "image.bin").string());
        Tally tally;
        const auto started = std::chrono::steady_clock::now();
        for (int session = 0; session < options.sessions; session++) {
            std::mt19937_64 random(options.seed * 1000003u + static_cast<std::uint64_t>(session));
            const Part part = kParts[random() % std::size(kParts)];
            BoardSpec spec;
            spec.product = part.product;
            spec.transport = TransportOf(options, session);
            spec.timing = options.timing;
            spec.faults = DrawFaults(random);
            spec.seed = random();
            SessionPlan plan;
            plan.image = DrawImage(random, spec.transport);
            plan.pageBytes = part.pageBytes;
            plan.readBack = random() % 2 == 0;

            SessionResult result;
            {
                Board board(kCom, spec);
                result = operatorAtWindow.run(board, plan);
            }
            tally.sessions++;
            tally.transports[TransportName(spec.transport)]++;
            if (!result.falseSuccess.empty()) {
                tally.falseSuccesses++;
            }
            if (result.success) {
                tally.successes++;
                tally.successesWithImage += result.flashHoldsImage ? 1 : 0;
            } else {
                tally.failures++;
                if (!result.hang.empty()) {
                    tally.hangs++;
                    tally.causes[result.hang + ": no end (hang)"]++;
                } else {
                    tally.causes[result.failure]++;
                }
                BoardSpec clean = spec;
                clean.faults = {};
                Board board(kCom, clean);
                tally.reconnectChecks++;
                if (operatorAtWindow.connectWorks()) {
                    tally.reconnectsWorked++;
                } else {
                    std::printf("#%d: the next connect after this failure did not work\n", session);
                }
            }
            if (options.verbose || !result.falseSuccess.empty() || !result.hang.empty()) {
                std::printf("#%d %s %s %zu bytes [%s]: %s%s%s\n", session, part.product,
                            TransportName(spec.transport), plan.image.size(),
                            DescribeFaults(spec.faults).c_str(),
                            result.success ? "ok" : result.failure.c_str(),
                            result.falseSuccess.empty() ? "" : " FALSE SUCCESS: ",
                            result.falseSuccess.c_str());
                std::fflush(stdout);
            }
        }
        tally.lateIdentifications = operatorAtWindow.lateIdentifications();
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - started;
        Report(options, tally, elapsed.count());
        const bool sound = tally.falseSuccesses == 0 && tally.hangs == 0 &&
                           tally.reconnectsWorked == tally.reconnectChecks;
        return sound ? 0 : 1;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "fault_campaign: %s\n", error.what());
        return 1;
    }
}
