// Shared by the engine's tests: a panel file written for the test, and the
// engine running its loop on a thread of its own, driven headless.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

#include "rte.h"
#include "rte_callbacks.h"
#include "rte_headless.h"

namespace rte_test {

// A file in a fresh temporary folder, removed with the object.
class TempFile {
  public:
    explicit TempFile(const std::string& contents, const std::string& name = "panel.uir") {
        dir_ = std::filesystem::temp_directory_path() /
               ("rte_test_" + std::to_string(::getpid()) + "_" + std::to_string(counter_++));
        std::filesystem::create_directories(dir_);
        path_ = dir_ / name;
        std::ofstream(path_, std::ios::binary) << contents;
    }
    ~TempFile() {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    std::string path() const { return path_.string(); }

  private:
    static inline std::atomic<int> counter_{0};
    std::filesystem::path dir_, path_;
};

// The engine with a headless front end; RunUserInterface runs on uiThread.
class RunningEngine {
  public:
    explicit RunningEngine(rte::Headless::Options options = {}) {
        op = rte::Headless::Install(std::move(options));
        EXPECT_EQ(InitRTEEx(nullptr, nullptr, nullptr), 1);
    }
    void start() {
        ui = std::thread([this] {
            uiId = std::this_thread::get_id();
            started = true;
            result = RunUserInterface();
        });
        while (!started) {
            std::this_thread::yield();
        }
    }
    void stop() {
        if (ui.joinable()) {
            QuitUserInterface(0);
            ui.join();
        }
    }
    ~RunningEngine() {
        stop();
        RTE_CloseEngine();
    }

    std::shared_ptr<rte::Headless> op;
    std::thread ui;
    std::atomic<std::thread::id> uiId{};
    std::atomic<bool> started{false};
    std::atomic<int> result{-999};
};

}  // namespace rte_test
