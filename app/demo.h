// The demo: a simulated STM32F103 (64 KiB, real timing) started by the
// program itself on COM1, and for headless runs the operator's whole job on it.
#pragma once

#include <functional>
#include <memory>
#include <string>

namespace rte {
class Headless;
}

namespace chipload::demo {

// The simulated board behind an RFC 2217 server on a free loopback port.
class Board {
  public:
    virtual ~Board() = default;
    virtual std::string device() const = 0;
};

// Starts the board and maps COM1 to it; null with `error` set on failure.
std::unique_ptr<Board> StartBoard(std::string& error);

// The sample program: beside the executable, else in the install's data
// folder, else in the source tree; "" if none.
std::string SampleProgramPath();

// Runs `runProgram` (WinMain) on this thread while an operator thread
// connects, loads the sample program, programs it, reads it back and compares,
// starts it and waits for its greeting. 0 only when every step held.
int RunHeadlessJob(rte::Headless& ui, const std::function<int()>& runProgram);

#ifdef CHIPLOAD_WITH_QT
// The same job in the window; with a path, a picture of the window is saved
// there while programming's completion pop-up is up; with a folder, a picture
// of each page (tabops, tabops2, tabterm, tabthird) and of the window
// maximised (maximised) once the job is done.
int RunWindowJob(const std::string& screenshot, const std::string& pagesFolder,
                 const std::function<int()>& runProgram);
#endif

}  // namespace chipload::demo
