#include "progress_status.h"

#include <gtest/gtest.h>

namespace app_test {
namespace {

TEST(ProgressStatus, BytesRateAndTimeLeft) {
    const struct {
        long done, total;
        double elapsed;
        const char* expected;
    } cases[] = {
        {0, 65536, 0.0, "已烧写 0/65536 字节，-- KB/s，剩余 -- 秒"},
        {4096, 65536, 0.0, "已烧写 4096/65536 字节，-- KB/s，剩余 -- 秒"},
        {16384, 65536, 2.0, "已烧写 16384/65536 字节，8.0 KB/s，剩余 6 秒"},
        {1000, 3000, 0.5, "已烧写 1000/3000 字节，2.0 KB/s，剩余 1 秒"},
        {65536, 65536, 4.0, "已烧写 65536/65536 字节，16.0 KB/s，剩余 0 秒"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.expected, FormatProgress("已烧写", c.done, c.total, c.elapsed));
    }
}

}  // namespace
}  // namespace app_test
