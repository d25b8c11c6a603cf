#include "comm/comm_device.h"

#include <algorithm>
#include <array>

#include "comm/device_claims.h"

namespace chipload::win32::comm {
namespace {

// The input queue never holds less than this, whatever SetupComm asks for.
constexpr std::size_t kMinInputCapacity = 64 * 1024;
constexpr std::size_t kReadChunk = 4096;
constexpr DWORD kValidPurgeFlags = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;

DCB windowsDefaultDcb() {
    DCB dcb{};
    dcb.DCBlength = sizeof(DCB);
    dcb.BaudRate = CBR_9600;
    dcb.fBinary = 1;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.XonLim = 2048;
    dcb.XoffLim = 512;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    return dcb;
}

// The checks Windows makes before a block reaches the driver.
DWORD validateDcb(const DCB& dcb) {
    if (dcb.BaudRate == 0 || dcb.ByteSize < 5 || dcb.ByteSize > 8 || dcb.Parity > SPACEPARITY ||
        dcb.StopBits > TWOSTOPBITS) {
        return ERROR_INVALID_PARAMETER;
    }
    if ((dcb.StopBits == ONE5STOPBITS) != (dcb.ByteSize == 5 && dcb.StopBits != ONESTOPBIT)) {
        return ERROR_INVALID_PARAMETER;  // 1.5 only with 5 data bits, 2 never with 5
    }
    if ((dcb.fOutX || dcb.fInX) && dcb.XonChar == dcb.XoffChar) {
        return ERROR_INVALID_PARAMETER;
    }
    return ERROR_SUCCESS;
}

void signal(HANDLE event) {
    if (event != nullptr) {
        SetEvent(event);
    }
}

void unsignal(HANDLE event) {
    if (event != nullptr) {
        ResetEvent(event);
    }
}

std::chrono::milliseconds ms(DWORD value) {
    return std::chrono::milliseconds(value);
}

}  // namespace

CommDevice::CommDevice(std::unique_ptr<CommBackend> backend, std::string name)
    : name_(std::move(name)),
      backend_(std::move(backend)),
      dcb_(windowsDefaultDcb()),
      inCapacity_(kMinInputCapacity) {}

CommDevice::~CommDevice() {
    handleClosed();
}

DWORD CommDevice::start() {
    if (DWORD error = backend_->readSettings(dcb_); error != ERROR_SUCCESS) {
        return error;
    }
    dcb_.DCBlength = sizeof(DCB);
    if (DWORD error = backend_->start(*this); error != ERROR_SUCCESS) {
        return error;
    }
    reader_ = std::thread(&CommDevice::readerLoop, this);
    writer_ = std::thread(&CommDevice::writerLoop, this);
    return ERROR_SUCCESS;
}

void CommDevice::handleClosed() {
    {
        std::lock_guard lock(mutex_);
        if (closed_) {
            return;
        }
        closed_ = true;
        abortReadsLocked(ERROR_OPERATION_ABORTED);
        abortWritesLocked(ERROR_OPERATION_ABORTED);
        abortWaitLocked(ERROR_OPERATION_ABORTED, 0);
        changed_.notify_all();
    }
    readerWake_.wake();
    writerWake_.wake();
    if (reader_.joinable()) {
        reader_.join();
    }
    if (writer_.joinable()) {
        writer_.join();
    }
    {
        std::lock_guard control(controlMutex_);
        backend_.reset();
    }
    releaseDevice(name_);  // only now may the device be opened again
}

// ---- bookkeeping, all with mutex_ held ----

DWORD CommDevice::usableLocked() const {
    if (closed_) {
        return ERROR_INVALID_HANDLE;
    }
    return failure_;
}

DWORD CommDevice::usable() const {
    std::lock_guard lock(mutex_);
    return usableLocked();
}

template <typename T>
DWORD CommDevice::copyWhileUsable(T& out, const T& field) const {
    std::lock_guard lock(mutex_);
    if (DWORD error = usableLocked(); error != ERROR_SUCCESS) {
        return error;
    }
    out = field;
    return ERROR_SUCCESS;
}

void CommDevice::completeLocked(OVERLAPPED* key, HANDLE event, DWORD error, DWORD transferred) {
    results_[key] = Result{true, error, transferred};
    signal(event);
    changed_.notify_all();
}

void CommDevice::abortReadsLocked(DWORD error) {
    for (const auto& read : reads_) {
        completeLocked(read.key, read.event, error, read.done);
    }
    reads_.clear();
}

void CommDevice::abortWritesLocked(DWORD error) {
    for (const auto& write : writes_) {
        write->finished = true;
        completeLocked(write->key, write->event, error, 0);
    }
    writes_.clear();
}

void CommDevice::abortWaitLocked(DWORD error, DWORD mask) {
    if (wait_) {
        *wait_->mask = mask;
        completeLocked(wait_->key, wait_->event, error, 0);
        wait_.reset();
    }
}

void CommDevice::failLocked(DWORD error) {
    failure_ = error;
    abortReadsLocked(error);
    abortWritesLocked(error);
    abortWaitLocked(error, 0);
    writerWake_.wake();
}

void CommDevice::recordEventsLocked(DWORD events) {
    history_ |= events & mask_;
    if (wait_ && history_ != 0) {
        *wait_->mask = history_;
        history_ = 0;
        completeLocked(wait_->key, wait_->event, ERROR_SUCCESS, sizeof(DWORD));
        wait_.reset();
    }
}

CommDevice::PendingRead CommDevice::makeRead(OVERLAPPED* key, HANDLE event, BYTE* buffer,
                                             DWORD size, Clock::time_point now) const {
    PendingRead read;
    read.key = key;
    read.event = event;
    read.buffer = buffer;
    read.size = size;
    const COMMTIMEOUTS& t = timeouts_;
    read.returnFirstByte =
        t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == MAXDWORD &&
        t.ReadTotalTimeoutConstant != 0 && t.ReadTotalTimeoutConstant != MAXDWORD;
    std::uint64_t total = t.ReadTotalTimeoutConstant;
    if (!read.returnFirstByte) {
        total += std::uint64_t{t.ReadTotalTimeoutMultiplier} * size;
    }
    if (total != 0) {
        read.totalDeadline = now + std::chrono::milliseconds(total);
    }
    return read;
}

void CommDevice::deliverInputLocked(Clock::time_point now) {
    const DWORD interval = timeouts_.ReadIntervalTimeout;
    const bool intervalActive = interval != 0 && interval != MAXDWORD;
    while (!reads_.empty() && !input_.empty()) {
        PendingRead& read = reads_.front();
        const auto count =
            static_cast<DWORD>(std::min<std::size_t>(read.size - read.done, input_.size()));
        std::copy_n(input_.begin(), count, read.buffer + read.done);
        input_.erase(input_.begin(), input_.begin() + count);
        read.done += count;
        if (intervalActive) {
            read.intervalDeadline = now + ms(interval);
        }
        if (read.done < read.size && !read.returnFirstByte) {
            break;
        }
        completeLocked(read.key, read.event, ERROR_SUCCESS, read.done);
        reads_.pop_front();
    }
    changed_.notify_all();  // room in the input queue again
}

void CommDevice::expireReadsLocked(Clock::time_point now) {
    std::deque<PendingRead> waiting;
    for (auto& read : reads_) {
        const bool intervalOver = read.intervalDeadline && now >= *read.intervalDeadline;
        const bool totalOver = read.totalDeadline && now >= *read.totalDeadline;
        if (intervalOver || totalOver) {
            completeLocked(read.key, read.event, ERROR_SUCCESS, read.done);
        } else {
            waiting.push_back(read);
        }
    }
    reads_.swap(waiting);
}

int CommDevice::readerTimeoutLocked(Clock::time_point now) const {
    std::optional<Clock::time_point> nearest;
    for (const auto& read : reads_) {
        for (const auto& deadline : {read.intervalDeadline, read.totalDeadline}) {
            if (deadline && (!nearest || *deadline < *nearest)) {
                nearest = deadline;
            }
        }
    }
    if (!nearest) {
        return -1;
    }
    if (*nearest <= now) {
        return 0;
    }
    // Round up so the reader never wakes just before the deadline and spins.
    return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(*nearest - now).count());
}

// ---- the device's own threads ----

void CommDevice::readerLoop() {
    std::array<BYTE, kReadChunk> chunk{};
    for (;;) {
        readerWake_.clear();
        int timeout = -1;
        std::size_t room = 0;
        {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [&] {
                return closed_ || failure_ != ERROR_SUCCESS || input_.size() < inCapacity_;
            });
            if (closed_ || failure_ != ERROR_SUCCESS) {
                return;
            }
            const auto now = Clock::now();
            expireReadsLocked(now);
            timeout = readerTimeoutLocked(now);
            room = std::min(chunk.size(), inCapacity_ - input_.size());
        }
        std::size_t received = 0;
        const DWORD error =
            backend_->read(std::span<BYTE>(chunk.data(), room), received, timeout, readerWake_);
        std::lock_guard lock(mutex_);
        if (closed_) {
            return;
        }
        if (error != ERROR_SUCCESS) {
            failLocked(error);
            return;
        }
        const auto now = Clock::now();
        if (received > 0) {
            input_.insert(input_.end(), chunk.begin(), chunk.begin() + received);
            DWORD events = EV_RXCHAR;
            if (std::find(chunk.begin(), chunk.begin() + received,
                          static_cast<BYTE>(dcb_.EvtChar)) != chunk.begin() + received) {
                events |= EV_RXFLAG;
            }
            recordEventsLocked(events);
            deliverInputLocked(now);
        }
        expireReadsLocked(now);
    }
}

void CommDevice::writerLoop() {
    for (;;) {
        writerWake_.clear();
        std::shared_ptr<PendingWrite> write;
        {
            std::unique_lock lock(mutex_);
            changed_.wait(lock,
                          [&] { return closed_ || failure_ != ERROR_SUCCESS || !writes_.empty(); });
            if (closed_ || failure_ != ERROR_SUCCESS) {
                return;
            }
            write = writes_.front();
        }
        std::size_t written = 0;
        const DWORD error = backend_->write(write->data, written, writerWake_);
        std::lock_guard lock(mutex_);
        if (write->finished) {
            continue;  // aborted while it was being written
        }
        if (error == ERROR_OPERATION_ABORTED) {
            // A wake meant for an earlier, aborted write: go on with the rest.
            write->data.erase(write->data.begin(), write->data.begin() + written);
            continue;
        }
        write->finished = true;
        writes_.pop_front();
        const auto total = static_cast<DWORD>(write->data.size());
        completeLocked(write->key, write->event, error, error == ERROR_SUCCESS ? total : 0);
        if (writes_.empty()) {
            recordEventsLocked(EV_TXEMPTY);
        }
    }
}

void CommDevice::commEvents(DWORD events, DWORD lineErrors) {
    std::lock_guard lock(mutex_);
    if (closed_) {
        return;
    }
    lineErrors_ |= lineErrors;
    recordEventsLocked(events);
}

// ---- the calls ----

DWORD CommDevice::syncWait(OVERLAPPED& local, DWORD& transferred) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return results_[&local].complete; });
    const Result result = results_[&local];
    results_.erase(&local);
    transferred = result.transferred;
    return result.error;
}

DWORD CommDevice::read(BYTE* buffer, DWORD size, DWORD& transferred, OVERLAPPED* overlapped) {
    OVERLAPPED local{};
    OVERLAPPED* key = overlapped != nullptr ? overlapped : &local;
    HANDLE event = key->hEvent;
    bool newDeadline = false;
    {
        std::lock_guard lock(mutex_);
        if (DWORD error = usableLocked(); error != ERROR_SUCCESS) {
            return error;
        }
        if (buffer == nullptr && size > 0) {
            return ERROR_INVALID_PARAMETER;
        }
        unsignal(event);
        const auto now = Clock::now();
        PendingRead read = makeRead(key, event, buffer, size, now);
        const COMMTIMEOUTS& t = timeouts_;
        const bool returnAtOnce = t.ReadIntervalTimeout == MAXDWORD &&
                                  t.ReadTotalTimeoutMultiplier == 0 &&
                                  t.ReadTotalTimeoutConstant == 0;
        results_[key] = Result{};
        reads_.push_back(read);
        if (reads_.size() == 1) {
            deliverInputLocked(now);
        }
        if (returnAtOnce && !reads_.empty() && reads_.back().key == key) {
            completeLocked(key, event, ERROR_SUCCESS, reads_.back().done);
            reads_.pop_back();
        }
        if (size == 0 && !reads_.empty() && reads_.back().key == key) {
            completeLocked(key, event, ERROR_SUCCESS, 0);
            reads_.pop_back();
        }
        if (results_[key].complete && overlapped != nullptr) {
            transferred = results_[key].transferred;
            return results_[key].error;
        }
        // The reader sets the interval deadlines of bytes it delivers itself; only a deadline
        // set here needs it awake. A read with none waits for bytes, which wake it anyway.
        newDeadline = !reads_.empty() && reads_.back().key == key &&
                      (reads_.back().totalDeadline || reads_.back().intervalDeadline);
    }
    if (newDeadline) {
        readerWake_.wake();
    }
    if (overlapped == nullptr) {
        return syncWait(local, transferred);
    }
    return ERROR_IO_PENDING;
}

DWORD CommDevice::write(const BYTE* data, DWORD size, DWORD& transferred, OVERLAPPED* overlapped) {
    OVERLAPPED local{};
    OVERLAPPED* key = overlapped != nullptr ? overlapped : &local;
    HANDLE event = key->hEvent;
    {
        std::lock_guard lock(mutex_);
        if (DWORD error = usableLocked(); error != ERROR_SUCCESS) {
            return error;
        }
        if (data == nullptr && size > 0) {
            return ERROR_INVALID_PARAMETER;
        }
        unsignal(event);
        results_[key] = Result{};
        if (size == 0) {
            completeLocked(key, event, ERROR_SUCCESS, 0);
            transferred = 0;
            return ERROR_SUCCESS;
        }
        auto pending = std::make_shared<PendingWrite>();
        pending->key = key;
        pending->event = event;
        pending->data.assign(data, data + size);
        writes_.push_back(std::move(pending));
        changed_.notify_all();
    }
    if (overlapped == nullptr) {
        return syncWait(local, transferred);
    }
    return ERROR_IO_PENDING;
}

DWORD CommDevice::waitCommEvent(DWORD* mask, OVERLAPPED* overlapped) {
    OVERLAPPED local{};
    OVERLAPPED* key = overlapped != nullptr ? overlapped : &local;
    HANDLE event = key->hEvent;
    {
        std::lock_guard lock(mutex_);
        if (DWORD error = usableLocked(); error != ERROR_SUCCESS) {
            return error;
        }
        if (mask == nullptr || wait_ || mask_ == 0) {
            return ERROR_INVALID_PARAMETER;
        }
        unsignal(event);
        results_[key] = Result{};
        wait_ = PendingWait{key, event, mask};
        recordEventsLocked(0);  // reports at once what happened since the last wait
        if (results_[key].complete && overlapped != nullptr) {
            return ERROR_SUCCESS;
        }
    }
    if (overlapped == nullptr) {
        DWORD unused = 0;
        return syncWait(local, unused);
    }
    return ERROR_IO_PENDING;
}

DWORD CommDevice::overlappedResult(OVERLAPPED* overlapped, DWORD& transferred, bool wait) {
    std::unique_lock lock(mutex_);
    if (closed_) {
        return ERROR_INVALID_HANDLE;
    }
    auto it = results_.find(overlapped);
    if (it == results_.end()) {
        return ERROR_INVALID_PARAMETER;
    }
    if (!it->second.complete) {
        if (!wait) {
            return ERROR_IO_INCOMPLETE;
        }
        // Completion (or close, which completes everything) notifies.
        changed_.wait(lock, [&] { return results_[overlapped].complete; });
    }
    const Result& result = results_[overlapped];
    transferred = result.transferred;
    return result.error;
}

DWORD CommDevice::cancel() {
    std::lock_guard lock(mutex_);
    if (DWORD error = usableLocked(); error != ERROR_SUCCESS) {
        return error;
    }
    abortReadsLocked(ERROR_OPERATION_ABORTED);
    abortWritesLocked(ERROR_OPERATION_ABORTED);
    abortWaitLocked(ERROR_OPERATION_ABORTED, 0);
    writerWake_.wake();
    return ERROR_SUCCESS;
}

DWORD CommDevice::setupQueues(DWORD inQueue) {
    std::lock_guard lock(mutex_);
    if (DWORD error = usableLocked(); error != ERROR_SUCCESS) {
        return error;
    }
    inCapacity_ = std::max<std::size_t>(inQueue, kMinInputCapacity);
    changed_.notify_all();
    return ERROR_SUCCESS;
}

DWORD CommDevice::purge(DWORD flags) {
    if ((flags & ~kValidPurgeFlags) != 0) {
        return ERROR_INVALID_PARAMETER;
    }
    {
        std::lock_guard lock(mutex_);
        if (DWORD error = usableLocked(); error != ERROR_SUCCESS) {
            return error;
        }
        if ((flags & PURGE_RXABORT) != 0) {
            abortReadsLocked(ERROR_OPERATION_ABORTED);
        }
        if ((flags & PURGE_TXABORT) != 0) {
            abortWritesLocked(ERROR_OPERATION_ABORTED);
            writerWake_.wake();
        }
    }
    DWORD error = ERROR_SUCCESS;
    if ((flags & (PURGE_TXCLEAR | PURGE_RXCLEAR)) != 0) {
        std::lock_guard control(controlMutex_);
        if (backend_) {
            error = backend_->purge(flags & (PURGE_TXCLEAR | PURGE_RXCLEAR));
        }
    }
    if ((flags & PURGE_RXCLEAR) != 0) {
        std::lock_guard lock(mutex_);
        input_.clear();
        changed_.notify_all();
    }
    return error;
}

DWORD CommDevice::getState(DCB& dcb) {
    return copyWhileUsable(dcb, dcb_);
}

DWORD CommDevice::setState(const DCB& dcb) {
    if (DWORD error = validateDcb(dcb); error != ERROR_SUCCESS) {
        return error;
    }
    std::lock_guard control(controlMutex_);
    if (DWORD error = usable(); error != ERROR_SUCCESS) {
        return error;
    }
    if (DWORD error = backend_->applySettings(dcb); error != ERROR_SUCCESS) {
        return error;
    }
    std::lock_guard lock(mutex_);
    dcb_ = dcb;
    dcb_.DCBlength = sizeof(DCB);
    return ERROR_SUCCESS;
}

DWORD CommDevice::getTimeouts(COMMTIMEOUTS& timeouts) {
    return copyWhileUsable(timeouts, timeouts_);
}

DWORD CommDevice::setTimeouts(const COMMTIMEOUTS& timeouts) {
    {
        std::lock_guard lock(mutex_);
        if (DWORD error = usableLocked(); error != ERROR_SUCCESS) {
            return error;
        }
        timeouts_ = timeouts;
    }
    readerWake_.wake();
    return ERROR_SUCCESS;
}

DWORD CommDevice::setMask(DWORD mask) {
    std::lock_guard lock(mutex_);
    if (DWORD error = usableLocked(); error != ERROR_SUCCESS) {
        return error;
    }
    mask_ = mask;
    history_ = 0;
    abortWaitLocked(ERROR_SUCCESS, 0);  // a pending wait ends with an empty mask
    return ERROR_SUCCESS;
}

DWORD CommDevice::getMask(DWORD& mask) {
    return copyWhileUsable(mask, mask_);
}

DWORD CommDevice::clearError(DWORD* errors, COMSTAT* status) {
    std::lock_guard lock(mutex_);
    if (DWORD error = usableLocked(); error != ERROR_SUCCESS) {
        return error;
    }
    if (errors != nullptr) {
        *errors = lineErrors_;
    }
    lineErrors_ = 0;
    if (status != nullptr) {
        *status = COMSTAT{};
        status->cbInQue = static_cast<DWORD>(input_.size());
        std::size_t outgoing = 0;
        for (const auto& write : writes_) {
            outgoing += write->data.size();
        }
        status->cbOutQue = static_cast<DWORD>(outgoing);
    }
    return ERROR_SUCCESS;
}

DWORD CommDevice::modemStatus(DWORD& status) {
    std::lock_guard control(controlMutex_);
    if (DWORD error = usable(); error != ERROR_SUCCESS) {
        return error;
    }
    return backend_->modemStatus(status);
}

DWORD CommDevice::escape(DWORD function) {
    if (function < SETXOFF || function > CLRBREAK) {
        return ERROR_INVALID_PARAMETER;
    }
    std::lock_guard control(controlMutex_);
    if (DWORD error = usable(); error != ERROR_SUCCESS) {
        return error;
    }
    return function == RESETDEV ? ERROR_SUCCESS : backend_->escape(function);
}

void CommDevice::failNextCalls(int count, DWORD error) {
    failCallsAfter(0, count, error);
}

void CommDevice::failCallsAfter(int skip, int count, DWORD error) {
    std::lock_guard lock(mutex_);
    injectedSkip_ = std::max(skip, 0);
    injectedCount_ = std::max(count, 0);
    injectedError_ = error;
}

std::optional<DWORD> CommDevice::injectedFailure() {
    std::lock_guard lock(mutex_);
    if (injectedCount_ == 0) {
        return std::nullopt;
    }
    if (injectedSkip_ > 0) {
        --injectedSkip_;
        return std::nullopt;
    }
    --injectedCount_;
    return injectedError_;
}

}  // namespace chipload::win32::comm
