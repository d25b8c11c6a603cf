// One campaign session as an operator runs it through the headless front
// end: connect, load the image, program, read it back or check for blank, Go,
// disconnect. Every step must end in its success or its failure message
// within a bound; a step that does neither is a hang. A success message over
// flash or shown bytes that differ from the image is a false success.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "app_harness.h"
#include "campaign_board.h"

namespace campaign {

struct SessionPlan {
    std::vector<std::uint8_t> image;
    std::uint32_t pageBytes = 1024;
    bool readBack = true;  // a page read of the image's pages; else a blank check
};

struct SessionResult {
    bool success = false;
    std::string failure;       // "step: message" when a step failed
    std::string falseSuccess;  // what was claimed over wrong bytes
    std::string hang;          // the step that never ended
    bool flashHoldsImage = false;
};

class Operator {
  public:
    Operator(apptest::AppHarness& app, std::chrono::milliseconds bound, std::string imagePath);

    SessionResult run(Board& board, const SessionPlan& plan);
    // Connect to a board, then disconnect; true when the chip was identified.
    bool connectWorks();
    // Connects whose response timer reported a time-out before the
    // identification, which then completed.
    int lateIdentifications() const { return lateIdentifications_; }

  private:
    enum class Ended { success, failure, hang };
    struct StepEnd {
        Ended how = Ended::hang;
        std::string message;
    };
    // Waits for success or a failure message, within `bound` (0: the step bound).
    template <typename Predicate>
    StepEnd await(Predicate&& succeeded, const std::string& notAFailure = {},
                  std::chrono::milliseconds bound = {});
    std::string failureShown(const std::string& notAFailure) const;
    bool step(const char* name, StepEnd end, SessionResult& result) const;
    void startStep();
    StepEnd connect();
    void disconnect();
    std::vector<std::uint8_t> shownReadBytes() const;

    apptest::AppHarness& app_;
    rte::Headless& ui_;
    std::chrono::milliseconds bound_;
    std::string imagePath_;
    int lateIdentifications_ = 0;
};

}  // namespace campaign
