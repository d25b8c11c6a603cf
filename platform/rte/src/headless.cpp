#include "rte_headless.h"

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <stdexcept>

namespace rte {

struct Headless::State {
    std::mutex mutex;
    std::condition_variable loopCv;    // wake and quit
    std::condition_variable changeCv;  // model changes and pop-ups, for waiters
    Options options;
    bool wakePending = false;
    bool quit = false;
    std::deque<int> answers;
    std::deque<std::string> files;
    std::vector<PopupRecord> records;
    // Manual rule: the pop-up waiting for answerPopup().
    std::optional<PopupRecord> pending;
    std::optional<int> pendingAnswer;
    std::size_t beeps = 0;
    // Echo: how much of each echoed text box has been printed.
    std::map<std::pair<int, int>, std::pair<std::uint64_t, std::size_t>> echoed;
    std::mutex printMutex;
};

namespace {

std::runtime_error Missing(int panel, int control, const char* what) {
    return std::runtime_error("panel " + std::to_string(panel) + ", control " +
                              std::to_string(control) + ": " + what);
}

const char* KindName(Headless::PopupRecord::Kind kind) {
    switch (kind) {
        case Headless::PopupRecord::Kind::Message:
            return "message";
        case Headless::PopupRecord::Kind::Generic:
            return "question";
        case Headless::PopupRecord::Kind::File:
            return "file";
    }
    return "";
}

}  // namespace

std::shared_ptr<Headless> Headless::Install(Options options) {
    auto headless = std::make_shared<Headless>(std::move(options));
    RTE_InstallFrontEnd(headless);
    return headless;
}

Headless::Headless(Options options) : state_(std::make_unique<State>()) {
    state_->options = std::move(options);
}

Headless::~Headless() = default;

void Headless::notifyWaiters() {
    state_->changeCv.notify_all();
}

// --- driving

int Headless::setValue(int panel, int control, int value) {
    return UserSetValue(panel, control, value);
}
int Headless::setValue(int panel, int control, double value) {
    return UserSetValue(panel, control, value);
}
int Headless::setValue(int panel, int control, const std::string& text) {
    return UserSetValue(panel, control, text);
}
int Headless::commit(int panel, int control) {
    return UserCommit(panel, control);
}
int Headless::commit(int panel, int control, int value) {
    return UserCommit(panel, control, value);
}
int Headless::commit(int panel, int control, double value) {
    return UserCommit(panel, control, value);
}
int Headless::commit(int panel, int control, const std::string& text) {
    return UserCommit(panel, control, text);
}
int Headless::click(int panel, int control) {
    return UserClick(panel, control);
}
int Headless::closePanel(int panel) {
    return UserClosePanel(panel);
}

// --- reading

ControlInfo Headless::control(int panel, int control) const {
    auto info = Control(panel, control);
    if (!info) {
        throw Missing(panel, control, "no such control");
    }
    return *info;
}

int Headless::intValue(int panel, int ctrl) const {
    const ControlInfo info = control(panel, ctrl);
    if (const int* i = std::get_if<int>(&info.value)) {
        return *i;
    }
    if (const double* d = std::get_if<double>(&info.value)) {
        return static_cast<int>(std::lround(*d));
    }
    throw Missing(panel, ctrl, "has no numeric value");
}

double Headless::doubleValue(int panel, int ctrl) const {
    const ControlInfo info = control(panel, ctrl);
    if (const int* i = std::get_if<int>(&info.value)) {
        return *i;
    }
    if (const double* d = std::get_if<double>(&info.value)) {
        return *d;
    }
    throw Missing(panel, ctrl, "has no numeric value");
}

std::string Headless::text(int panel, int ctrl) const {
    const ControlInfo info = control(panel, ctrl);
    if (const std::string* s = std::get_if<std::string>(&info.value)) {
        return *s;
    }
    if (info.kind == ControlKind::TextBox) {
        std::string joined;
        for (const auto& line : lines(panel, ctrl)) {
            joined += line;
            joined += '\n';
        }
        if (!joined.empty()) {
            joined.pop_back();
        }
        return joined;
    }
    throw Missing(panel, ctrl, "has no text");
}

std::vector<std::string> Headless::lines(int panel, int ctrl) const {
    const auto delta = ReadTextBox(panel, ctrl, 0, 0);
    if (!delta) {
        throw Missing(panel, ctrl, "is not a text box");
    }
    return delta->lines;
}

int Headless::attribute(int panel, int ctrl, int attr) const {
    int value = 0;
    const int result = GetCtrlAttribute(panel, ctrl, attr, &value);
    if (result != RTE_OK) {
        throw Missing(panel, ctrl, ("attribute " + std::to_string(attr) + " unreadable").c_str());
    }
    return value;
}

std::string Headless::label(int panel, int ctrl) const {
    return control(panel, ctrl).label;
}

// --- pop-ups

void Headless::setPopupRule(PopupRule rule, int fixedAnswer) {
    std::lock_guard lock(state_->mutex);
    state_->options.rule = rule;
    state_->options.fixedAnswer = fixedAnswer;
}

void Headless::queuePopupAnswer(int button) {
    std::lock_guard lock(state_->mutex);
    state_->answers.push_back(button);
}

void Headless::queueFileAnswer(const std::string& path) {
    std::lock_guard lock(state_->mutex);
    state_->files.push_back(path);
}

std::vector<Headless::PopupRecord> Headless::popups() const {
    std::lock_guard lock(state_->mutex);
    return state_->records;
}

void Headless::clearPopups() {
    std::lock_guard lock(state_->mutex);
    state_->records.clear();
}

bool Headless::waitForPendingPopup(std::chrono::milliseconds timeout) {
    std::unique_lock lock(state_->mutex);
    return state_->changeCv.wait_for(lock, timeout, [&] {
        return state_->pending.has_value() && !state_->pendingAnswer.has_value();
    });
}

bool Headless::answerPopup(int button) {
    {
        std::lock_guard lock(state_->mutex);
        if (!state_->pending || state_->pendingAnswer) {
            return false;
        }
        state_->pendingAnswer = button;
    }
    notifyWaiters();
    return true;
}

std::size_t Headless::beepCount() const {
    std::lock_guard lock(state_->mutex);
    return state_->beeps;
}

// Decides the answer (queue, rule or operator), then records the pop-up.
int Headless::answerFor(PopupRecord record, int enterButton) {
    std::unique_lock lock(state_->mutex);
    int answer;
    if (!state_->answers.empty()) {
        answer = state_->answers.front();
        state_->answers.pop_front();
    } else {
        switch (state_->options.rule) {
            case PopupRule::FirstButton:
                answer = 1;
                break;
            case PopupRule::EnterButton:
                answer = enterButton > 0 ? enterButton : 1;
                break;
            case PopupRule::Fixed:
                answer = state_->options.fixedAnswer;
                break;
            case PopupRule::Manual:
            default:
                // Wait for the operator; another manual pop-up waits its turn.
                state_->changeCv.wait(lock, [&] { return !state_->pending.has_value(); });
                state_->pending = record;
                state_->pendingAnswer.reset();
                lock.unlock();
                notifyWaiters();
                lock.lock();
                state_->changeCv.wait(lock, [&] { return state_->pendingAnswer.has_value(); });
                answer = *state_->pendingAnswer;
                state_->pending.reset();
                state_->pendingAnswer.reset();
                break;
        }
    }
    record.answer = answer;
    state_->records.push_back(record);
    const bool echo = state_->options.echo;
    lock.unlock();
    if (echo) {
        std::lock_guard print(state_->printMutex);
        std::printf("[%s] %s: %s", KindName(record.kind), record.title.c_str(),
                    record.message.c_str());
        if (!record.buttons.empty()) {
            std::printf(" -> %d", answer);
        }
        std::printf("\n");
        std::fflush(stdout);
    }
    notifyWaiters();
    return answer;
}

void Headless::messagePopup(const MessageRequest& request) {
    PopupRecord record;
    record.kind = PopupRecord::Kind::Message;
    record.title = request.title;
    record.message = request.message;
    record.thread = std::this_thread::get_id();
    const PopupOnScreen shown;
    answerFor(record, 1);
}

GenericAnswer Headless::genericMessagePopup(const GenericRequest& request) {
    PopupRecord record;
    record.kind = PopupRecord::Kind::Generic;
    record.title = request.title;
    record.message = request.message;
    for (const auto& b : request.buttons) {
        if (!b.empty()) {
            record.buttons.push_back(b);
        }
    }
    record.thread = std::this_thread::get_id();
    const PopupOnScreen shown;
    return {answerFor(record, request.enterButton), {}};
}

FileAnswer Headless::fileSelectPopup(const FileRequest& request) {
    std::string path;
    {
        std::lock_guard lock(state_->mutex);
        if (!state_->files.empty()) {
            path = state_->files.front();
            state_->files.pop_front();
        }
    }
    PopupRecord record;
    record.kind = PopupRecord::Kind::File;
    record.title = request.title;
    record.message = request.fileSpec;
    record.directory = request.directory;
    record.path = path;
    record.thread = std::this_thread::get_id();
    FileAnswer answer;
    answer.path = path;
    answer.result = path.empty() ? VAL_NO_FILE_SELECTED : VAL_EXISTING_FILE_SELECTED;
    {
        std::lock_guard lock(state_->mutex);
        record.answer = answer.result;
        state_->records.push_back(record);
    }
    notifyWaiters();
    return answer;
}

void Headless::beep() {
    {
        std::lock_guard lock(state_->mutex);
        ++state_->beeps;
    }
    notifyWaiters();
}

// --- waiting

bool Headless::waitIdle(std::chrono::milliseconds timeout) {
    return WaitForEventsProcessed(timeout);
}

bool Headless::waitUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (true) {
        if (pred()) {
            return true;
        }
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) {
            return false;
        }
        std::unique_lock lock(state_->mutex);
        state_->changeCv.wait_for(lock, std::min<std::chrono::steady_clock::duration>(
                                            deadline - now, std::chrono::milliseconds(10)));
    }
}

bool Headless::waitForPopups(std::size_t count, std::chrono::milliseconds timeout) {
    std::unique_lock lock(state_->mutex);
    return state_->changeCv.wait_for(lock, timeout,
                                     [&] { return state_->records.size() >= count; });
}

// --- the loop

void Headless::runLoop() {
    std::unique_lock lock(state_->mutex);
    while (true) {
        state_->loopCv.wait(lock, [&] { return state_->wakePending || state_->quit; });
        if (state_->quit) {
            state_->quit = false;
            return;
        }
        state_->wakePending = false;
        lock.unlock();
        PumpEvents();
        lock.lock();
    }
}

void Headless::quitLoop() {
    {
        std::lock_guard lock(state_->mutex);
        state_->quit = true;
    }
    state_->loopCv.notify_all();
}

void Headless::wake() {
    {
        std::lock_guard lock(state_->mutex);
        state_->wakePending = true;
    }
    state_->loopCv.notify_all();
}

void Headless::changed(const Change& change) {
    notifyWaiters();
    bool echo;
    {
        std::lock_guard lock(state_->mutex);
        echo = state_->options.echo && !state_->options.echoControls.empty();
    }
    if (!echo || change.control == 0) {
        return;
    }
    const auto info = Control(change.panel, change.control);
    if (!info) {
        return;
    }
    {
        std::lock_guard lock(state_->mutex);
        const auto& names = state_->options.echoControls;
        if (std::find(names.begin(), names.end(), info->constant) == names.end()) {
            return;
        }
    }
    std::vector<std::string> out;
    if (info->kind == ControlKind::TextBox) {
        if (change.kind != ChangeKind::LinesAppended && change.kind != ChangeKind::LinesReset) {
            return;
        }
        std::lock_guard lock(state_->mutex);
        auto& [generation, count] = state_->echoed[{change.panel, change.control}];
        const auto delta = ReadTextBox(change.panel, change.control, generation, count);
        if (!delta) {
            return;
        }
        out = delta->lines;
        generation = delta->generation;
        count = delta->firstLine + delta->lines.size();
    } else if (change.kind == ChangeKind::ValueChanged) {
        if (const std::string* s = std::get_if<std::string>(&info->value)) {
            out.push_back(*s);
        }
    }
    std::lock_guard print(state_->printMutex);
    for (const auto& line : out) {
        std::printf("[%s] %s\n", info->constant.c_str(), line.c_str());
    }
    std::fflush(stdout);
}

}  // namespace rte
