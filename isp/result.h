// Outcomes of client operations: a value, or what failed, where and how. No
// operator texts: the caller words its own messages.
#pragma once

#include <cstdint>
#include <optional>
#include <utility>
#include <variant>

#include "protocol.h"

namespace isp {

enum class Status {
    kOk,
    kRefused,          // the bootloader answered NACK
    kTimeout,          // no (complete) answer within the command's time-out
    kBadReply,         // an answer that is neither ACK nor NACK, or malformed
    kLinkFailed,       // the line itself failed (device gone, write failed)
    kCancelled,        // the caller's cancel flag, seen at a block boundary
    kInvalidArgument,  // a request the protocol cannot express
    kUnsupported,      // the bootloader's Get list lacks the command
};

// Which part of an exchange got the failing answer.
enum class Phase { kCommand, kAddress, kPayload, kReply };

struct Failure {
    Status status = Status::kOk;
    Command command = Command::kSynchronize;
    Phase phase = Phase::kCommand;
    // Start of the block concerned; for erase requests, their first page.
    std::optional<std::uint32_t> address;
    int attempts = 0;  // tries made before giving up
};

template <class T>
class Result {
  public:
    Result(T value) : state_(std::move(value)) {}
    Result(Failure failure) : state_(failure) {}
    bool ok() const { return state_.index() == 0; }
    explicit operator bool() const { return ok(); }
    const T& value() const { return std::get<0>(state_); }
    T& value() { return std::get<0>(state_); }
    const Failure& failure() const { return std::get<1>(state_); }

  private:
    std::variant<T, Failure> state_;
};

template <>
class Result<void> {
  public:
    Result() = default;
    Result(Failure failure) : failure_(failure) {}
    bool ok() const { return !failure_; }
    explicit operator bool() const { return ok(); }
    const Failure& failure() const { return *failure_; }

  private:
    std::optional<Failure> failure_;
};

}  // namespace isp
