// The port list follows adapters being plugged in and out: a pseudo-terminal
// linked under a watched by-id folder stands in for a USB adapter.
#include "port_watch.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>

#include "comm/port_defaults.h"
#include "pty_pair.h"
#include "wait_for.h"

namespace win32_test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

bool Lists(const fs::path& devRoot, const fs::path& device) {
    const auto devices = chipload::portmap::defaultDevices(devRoot, devRoot / "no-sys");
    return std::find(devices.begin(), devices.end(), device.string()) != devices.end();
}

TEST(PortWatch, AnAdapterAppearingAndLeavingIsReported) {
    const fs::path dev = fs::temp_directory_path() / ("port_watch_" + std::to_string(getpid()));
    fs::remove_all(dev);
    fs::create_directories(dev);
    const fs::path byId = dev / "serial" / "by-id";
    std::atomic<int> changes{0};
    {
        // by-id does not exist yet, as before the first adapter is plugged in.
        chipload::portmap::PortWatch watch({dev, byId}, [&] { ++changes; });
        ASSERT_TRUE(watch.active());
        chipload::test::PtyPair pty;
        const fs::path adapter = byId / "usb-Test_Adapter_0001-if00-port0";

        fs::create_directories(byId);
        fs::create_symlink(pty.slavePath(), adapter);
        ASSERT_TRUE(test_support::WaitFor([&] { return changes > 0 && Lists(dev, adapter); }, 10s));

        // Now that by-id is watched itself, its own changes are seen.
        const int before = changes;
        fs::remove(adapter);
        EXPECT_TRUE(test_support::WaitFor([&] { return changes > before; }, 10s));
        EXPECT_FALSE(Lists(dev, adapter));

        const int again = changes;
        fs::create_symlink(pty.slavePath(), adapter);
        EXPECT_TRUE(test_support::WaitFor([&] { return changes > again; }, 10s));
        EXPECT_TRUE(Lists(dev, adapter));
    }
    const int afterStop = changes;
    fs::remove_all(dev);
    EXPECT_EQ(changes, afterStop);  // no callback once the watch is gone
}

}  // namespace
}  // namespace win32_test
