// The read workers sleep while nothing is read and wake for stored blocks
// only: counted wake-ups, not a pause-and-look loop.
#include <thread>

#include "ChipLoad.h"
#include "e2e_session.h"
#include "read_exchange.h"
#include "thread_switches.h"

namespace e2e {
namespace {

class IdleWorkers : public Session {};

TEST_F(IdleWorkers, SleepWhileIdleAndWakePerBlockWhileReading) {
    start("f103c8");
    connect();
    const auto idleFrom = ReadWorkerWakeups();
    // A polling worker would look hundreds of times in this spell.
    std::this_thread::sleep_for(300ms);
    EXPECT_LE(ReadWorkerWakeups() - idleFrom, 2u);

    const auto readFrom = ReadWorkerWakeups();
    app->click(ops, TABOPS_CHIPREAD);
    ASSERT_TRUE(waitForStatus("Flash读取完成！！！", 60s));
    // 256 blocks of 256 bytes, each waking both workers once at most.
    EXPECT_LE(ReadWorkerWakeups() - readFrom, 2u * 256u + 4u);
}

// After the exchanges, with the session still connected and nothing awaited,
// no thread of the program looks for work on a short period (the watch of
// reply time-outs included).
TEST_F(IdleWorkers, EveryThreadSleepsOnceTheExchangesAreOver) {
    start("f103c8");
    connect();
    app->click(ops, TABOPS_CHIPREAD);
    ASSERT_TRUE(waitForStatus("Flash读取完成！！！", 60s));
    // The last reply leaves its deadline standing (2 s and the line time); the
    // watch goes at its first look after that.
    std::this_thread::sleep_for(3s);
    EXPECT_EQ("", apptest::ThreadsAwake(1, 5));
}

}  // namespace
}  // namespace e2e
