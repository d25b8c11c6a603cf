// Real timing of the simulated target as a client sees it: a 256-byte Read
// Memory reply at 115200 baud 8E1 should take 257 x 11 / 115200 s (within
// 5 %), a mass erase 40 ms (within 5 ms). Measured over RFC 2217 and over a
// pseudo-terminal, from the request's last byte written to the reply's last
// byte read. Counters: mean_ms and best_ms against target_ms, with
// error_pct for the mean; on a loaded machine the best run shows the model,
// the mean shows the scheduler too.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <termios.h>

#include <algorithm>

#include "sim_client.hpp"
#include "stm32sim/pty_server.hpp"
#include "stm32sim/rfc2217_server.hpp"

namespace stm32sim::test {
namespace {

const LineSettings line_8e1{115200, 8, Parity::even, StopBits::one};

// One transport with the chip synchronised behind it.
class Link {
  public:
    virtual ~Link() = default;
    virtual void send(const Bytes& bytes) = 0;
    virtual Bytes receive(std::size_t count) = 0;
};

class Rfc2217Link : public Link {
  public:
    explicit Rfc2217Link(Target& target) : server_(target) {
        server_.start("127.0.0.1", 0);
        client_ = std::make_unique<Rfc2217Client>(server_.port());
        client_->com_port(telnet::set_baudrate, {0x00, 0x01, 0xC2, 0x00});
        client_->com_port(telnet::set_datasize, {8});
        client_->com_port(telnet::set_parity, {3});
        client_->com_port(telnet::set_stopsize, {1});
        client_->reset_into_bootloader();
    }
    void send(const Bytes& bytes) override { client_->send(bytes); }
    Bytes receive(std::size_t count) override { return client_->receive(count).data; }

  private:
    Rfc2217Server server_;
    std::unique_ptr<Rfc2217Client> client_;
};

class PtyLink : public Link {
  public:
    explicit PtyLink(Target& target) : server_(target, 115200) {
        server_.start();
        tty_.reset(::open(server_.slave_path().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
        termios raw{};
        ::tcgetattr(tty_.get(), &raw);
        ::cfmakeraw(&raw);
        ::tcsetattr(tty_.get(), TCSANOW, &raw);
    }
    void send(const Bytes& bytes) override { write_all(tty_.get(), bytes); }
    Bytes receive(std::size_t count) override { return read_from(tty_.get(), count, nullptr).data; }

  private:
    PtyServer server_;
    UniqueFd tty_;
};

template <typename LinkType>
void run(benchmark::State& state, const Bytes& setup, std::size_t setup_reply, const Bytes& request,
         std::size_t reply, Duration target_time) {
    TargetConfig config;
    config.timing = Timing::real;
    config.line = line_8e1;
    config.boot0 = Boot0Polarity::tied_high;
    config.start = StartMode::bootloader;
    Target target(config);
    LinkType link(target);
    link.send({0x7F});
    if (link.receive(1) != Bytes{ack}) {
        state.SkipWithError("no synchronisation");
        return;
    }
    double total_ms = 0.0;
    double best_ms = 1e9;
    for (auto _ : state) {
        link.send(setup);
        if (link.receive(setup_reply).size() != setup_reply) {
            state.SkipWithError("setup not acknowledged");
            return;
        }
        const auto start = Clock::now();
        link.send(request);
        const std::size_t got = link.receive(reply).size();
        const auto elapsed = std::chrono::duration<double>(Clock::now() - start);
        if (got != reply) {
            state.SkipWithError("short reply");
            return;
        }
        state.SetIterationTime(elapsed.count());
        total_ms += elapsed.count() * 1e3;
        best_ms = std::min(best_ms, elapsed.count() * 1e3);
    }
    const double mean_ms = total_ms / static_cast<double>(state.iterations());
    const double target_ms = std::chrono::duration<double, std::milli>(target_time).count();
    state.counters["mean_ms"] = mean_ms;
    state.counters["best_ms"] = best_ms;
    state.counters["target_ms"] = target_ms;
    state.counters["error_pct"] = 100.0 * (mean_ms / target_ms - 1.0);
}

template <typename LinkType>
void ReadMemory256(benchmark::State& state) {
    run<LinkType>(state, command(0x11) + address_frame(flash_base), 2, {0xFF, 0x00}, 257,
                  line_8e1.time_for_bytes(257));
}

template <typename LinkType>
void MassErase(benchmark::State& state) {
    run<LinkType>(state, command(0x43), 1, {0xFF, 0x00}, 1, mass_erase_time);
}

BENCHMARK(ReadMemory256<Rfc2217Link>)
    ->UseManualTime()
    ->Iterations(20)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(ReadMemory256<PtyLink>)->UseManualTime()->Iterations(20)->Unit(benchmark::kMillisecond);
BENCHMARK(MassErase<Rfc2217Link>)->UseManualTime()->Iterations(10)->Unit(benchmark::kMillisecond);
BENCHMARK(MassErase<PtyLink>)->UseManualTime()->Iterations(10)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace stm32sim::test

BENCHMARK_MAIN();
