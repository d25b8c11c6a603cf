#include "demo.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <optional>
#include <thread>
#include <variant>
#include <vector>

#include "ChipLoad.h"
#include "image_file.h"
#include "install_layout.h"
#include "port_map.h"
#include "rte_frontend.h"
#include "rte_headless.h"
#include "rte_language.h"
#include "stm32sim/emulator.hpp"
#include "stm32sim/rfc2217_server.hpp"
#include "stm32sim/target.hpp"
#ifdef CHIPLOAD_WITH_QT
#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTabWidget>
#include <QTextBlock>
#include <QTimer>
#endif

namespace chipload::demo {

namespace {

using namespace std::chrono_literals;

// What the sample program in examples/hello-usart prints.
constexpr char kGreeting[] = "Hello from ChipLoad!";
constexpr char kWriteDone[] = "   Flash烧写完成！\n可以使用GO命令运行一下！！";
constexpr int kDemoCom = 1;

class SimulatedBoard final : public Board {
  public:
    SimulatedBoard() {
        stm32sim::TargetConfig config;
        config.product = *stm32sim::find_product("f103c8");
        config.timing = stm32sim::Timing::real;
        config.greeting = std::string(kGreeting) + "\r\n";
        // With the emulator the board is QEMU's STM32F100 and the greeting
        // comes from the program just flashed, not from the simulator.
        if (const auto emulator = stm32sim::find_emulator()) {
            config.product = *stm32sim::find_product("f100rb");
            config.run_firmware = stm32sim::emulator_launcher(*emulator);
            description_ = "the simulated STM32F100 runs its flash on " + *emulator;
        }
        target_ = std::make_unique<stm32sim::Target>(config);
        server_ = std::make_unique<stm32sim::Rfc2217Server>(*target_);
        server_->start("127.0.0.1", 0);
    }
    ~SimulatedBoard() override { server_->stop(); }
    SimulatedBoard(const SimulatedBoard&) = delete;
    SimulatedBoard& operator=(const SimulatedBoard&) = delete;

    std::string device() const override {
        return "rfc2217://127.0.0.1:" + std::to_string(server_->port());
    }
    const std::string& description() const { return description_; }

  private:
    std::string description_ =
        "the simulated STM32F103 answers Go with a fixed greeting (qemu-system-arm is not "
        "installed)";
    std::unique_ptr<stm32sim::Target> target_;
    std::unique_ptr<stm32sim::Rfc2217Server> server_;
};

void Say(const std::string& text) {
    std::printf("demo: %s\n", text.c_str());
    std::fflush(stdout);
}

int HexPair(const std::string& text, std::size_t at) {
    return std::stoi(text.substr(at, 2), nullptr, 16);
}

constexpr std::size_t kFlashBase = 0x08000000;

// The sample program's bytes from the flash base, read by the program's own
// HEX loader; nullopt when the file is not a valid HEX file placed there.
std::optional<std::vector<unsigned char>> HexImage(const std::string& path) {
    isp::ImageLoadOptions options;
    options.format = isp::ImageFormat::kIntelHex;
    const auto loaded = isp::loadImageFile(path, options);
    const auto* sample = std::get_if<isp::LoadedImage>(&loaded);
    if (sample == nullptr || sample->image.base != kFlashBase) {
        return std::nullopt;
    }
    return sample->image.bytes;
}

struct Panels {
    int main = 0, isp = 0, term = 0, ops = 0;
};

int PanelByConstant(const std::string& name) {
    for (int handle : rte::Panels()) {
        const auto info = rte::Panel(handle);
        if (info && info->constant == name) {
            return handle;
        }
    }
    return 0;
}

bool HasLine(const std::vector<std::string>& lines, const std::string& text) {
    for (const auto& line : lines) {
        if (line.find(text) != std::string::npos) {
            return true;
        }
    }
    return false;
}

// The bytes of the hex lines logged after `startLine`; nullopt when a line's
// address is not the next one.
std::optional<std::vector<unsigned char>> ShownBytes(const std::vector<std::string>& log,
                                                     const std::string& startLine) {
    std::vector<unsigned char> bytes;
    bool started = false;
    for (const auto& line : log) {
        if (line == startLine) {
            started = true;
            bytes.clear();
            continue;
        }
        // "08000010:46 4C ... 00  FL..": the address, 16 bytes, their text.
        if (!started || line.size() < 9 + 47 || line[8] != ':') {
            continue;
        }
        if (std::stoul(line.substr(0, 8), nullptr, 16) != kFlashBase + bytes.size()) {
            return std::nullopt;
        }
        for (std::size_t i = 0; i < 16; i++) {
            bytes.push_back(static_cast<unsigned char>(HexPair(line, 9 + 3 * i)));
        }
    }
    return bytes;
}

// What the operator needs of the pop-ups, whichever front end shows them.
struct PopupDesk {
    std::function<void(const std::string& path)> answerFileWith;
    std::function<bool(const std::string& message)> shown;
    // The program's greeting is in the terminal (the window takes its picture).
    std::function<void()> greetingShown = [] {};
};

int IntValue(int panel, int control) {
    const auto info = rte::Control(panel, control);
    if (!info) {
        return 0;
    }
    if (const int* value = std::get_if<int>(&info->value)) {
        return *value;
    }
    return 0;
}

std::string Text(int panel, int control) {
    const auto info = rte::Control(panel, control);
    if (!info) {
        return "";
    }
    if (const auto* text = std::get_if<std::string>(&info->value)) {
        return *text;
    }
    return "";
}

std::vector<std::string> Lines(int panel, int control) {
    const auto delta = rte::ReadTextBox(panel, control, 0, 0);
    return delta ? delta->lines : std::vector<std::string>{};
}

// Drives the panel through the engine's operator actions, as a person at it would.
class Operator {
  public:
    Operator(PopupDesk desk, const std::atomic<bool>& programEnded)
        : desk_(std::move(desk)), programEnded_(programEnded) {}

    // The whole job; the reason of the first step that failed, or "".
    std::string run() {
        if (!waitFor(
                [] {
                    const int main = PanelByConstant("PANEL");
                    const auto info = main != 0 ? rte::Panel(main) : std::nullopt;
                    return info && info->displayed;
                },
                10s)) {
            return "the program did not start";
        }
        rte::WaitForEventsProcessed(10s);
        panels_ = {PanelByConstant("PANEL"), PanelByConstant("TABISP"), PanelByConstant("TABTERM"),
                   PanelByConstant("TABOPS")};
        sample_ = SampleProgramPath();
        if (sample_.empty()) {
            return "the sample program hello.hex was not found";
        }
        const auto image = HexImage(sample_);
        if (!image || image->empty()) {
            return "the sample program " + sample_ + " is not a valid HEX file";
        }
        for (const auto& step : {&Operator::connect, &Operator::load}) {
            if (auto failure = (this->*step)(); !failure.empty()) {
                return failure;
            }
        }
        if (auto failure = program(image->size()); !failure.empty()) {
            return failure;
        }
        if (auto failure = readBack(*image); !failure.empty()) {
            return failure;
        }
        return go();
    }

    // Quits as the operator would; the confirmations are answered yes.
    void quit() {
        if (!programEnded_) {
            rte::UserClick(panels_.main, PANEL_QUIT);
        }
    }

  private:
    bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
        const auto end = std::chrono::steady_clock::now() + timeout;
        while (!programEnded_ && std::chrono::steady_clock::now() < end) {
            if (condition()) {
                return true;
            }
            std::this_thread::sleep_for(20ms);
        }
        return false;
    }

    bool statusIs(const std::string& text) const {
        return Text(panels_.main, PANEL_STATUS) == RTE_Translate(text.c_str());
    }

    std::string failedWith(const std::string& what) const {
        return what + " (status: " + Text(panels_.main, PANEL_STATUS) + ")";
    }

    std::string connect() {
        Say("connecting to the simulated board on COM1");
        rte::UserCommit(panels_.main, PANEL_COMPORT, kDemoCom);
        rte::UserClick(panels_.main, PANEL_CONNECT);
        if (!waitFor([&] { return IntValue(panels_.ops, TABOPS_CHIP) != 0; }, 15s)) {
            return failedWith("connect and identify did not complete");
        }
        Say("bootloader " + Text(panels_.ops, TABOPS_VERSION) + ", product ID " +
            Text(panels_.ops, TABOPS_PID) + ", flash " + Text(panels_.ops, TABOPS_FLASHSIZE) +
            " KiB, RAM " + Text(panels_.ops, TABOPS_RAMSIZE) + " KiB, UID " +
            Text(panels_.ops, TABOPS_UID));
        return "";
    }

    std::string load() {
        Say("loading " + sample_);
        rte::UserSetValue(panels_.isp, TABISP_FILETYPE, 0);
        desk_.answerFileWith(sample_);
        rte::UserClick(panels_.isp, TABISP_LOADFILE);
        if (!waitFor([&] { return statusIs("文件读取完成"); }, 10s)) {
            return failedWith("the sample program did not load");
        }
        return "";
    }

    std::string program(std::size_t length) {
        Say("programming " + std::to_string(length) + " bytes");
        rte::UserClick(panels_.ops, TABOPS_WRITE);
        if (!waitFor([&] { return desk_.shown(RTE_Translate(kWriteDone)); }, 60s)) {
            return failedWith("programming did not complete");
        }
        return "";
    }

    std::string readBack(const std::vector<unsigned char>& image) {
        const int lastPage = static_cast<int>((image.size() - 1) / 1024);
        Say("reading back pages 0 to " + std::to_string(lastPage));
        rte::UserSetValue(panels_.ops, TABOPS_STARTPAGE, 0);
        rte::UserSetValue(panels_.ops, TABOPS_ENDPAGE, lastPage);
        rte::UserClick(panels_.ops, TABOPS_PAGEREAD);
        if (!waitFor([&] { return statusIs("Flash读取完成！！！"); }, 60s)) {
            return failedWith("the read-back did not complete");
        }
        const auto shown =
            ShownBytes(Lines(panels_.ops, TABOPS_LOG), RTE_Translate("开始分页读取FLASH信息..."));
        const std::size_t pagesLength = static_cast<std::size_t>(lastPage + 1) * 1024;
        if (!shown || shown->size() != pagesLength) {
            return "the read-back showed " + std::to_string(shown ? shown->size() : 0) +
                   " bytes instead of " + std::to_string(pagesLength);
        }
        for (std::size_t i = 0; i < pagesLength; i++) {
            const unsigned char expected = i < image.size() ? image[i] : 0xFF;
            if ((*shown)[i] != expected) {
                char where[96];
                std::snprintf(where, sizeof where,
                              "read-back differs at 0x%08zX: %02X instead of %02X", kFlashBase + i,
                              (*shown)[i], expected);
                return where;
            }
        }
        Say("read-back equals the image (" + std::to_string(image.size()) +
            " bytes, the rest of the pages erased)");
        return "";
    }

    std::string go() {
        Say("starting the program (Go)");
        rte::UserClick(panels_.ops, TABOPS_GO);
        if (!waitFor([&] { return statusIs("程序开始运行！！！"); }, 10s)) {
            return failedWith("Go was not acknowledged");
        }
        // The program's output is text: show it as text from now on, each line with the time
        // it arrived.
        rte::UserCommit(panels_.term, TABTERM_MODE, 0);
        rte::UserCommit(panels_.term, TABTERM_TIMESTAMP, 1);
        if (!waitFor([&] { return HasLine(Lines(panels_.term, TABTERM_RECEIVE), kGreeting); },
                     10s)) {
            return "the program's greeting did not arrive";
        }
        desk_.greetingShown();
        Say(std::string("terminal: ") + kGreeting);
        return "";
    }

    PopupDesk desk_;
    const std::atomic<bool>& programEnded_;
    Panels panels_;
    std::string sample_;
};

}  // namespace

std::unique_ptr<Board> StartBoard(std::string& error) {
    try {
        auto board = std::make_unique<SimulatedBoard>();
        Say(board->description());
        if (!chipload::portmap::assign(kDemoCom, board->device())) {
            error = "cannot map COM1 to " + board->device();
            return nullptr;
        }
        return board;
    } catch (const std::exception& failure) {
        error = failure.what();
        return nullptr;
    }
}

std::string SampleProgramPath() {
    std::string tried;
    if (auto installed = install::findDataFile("hello.hex", tried); !installed.empty()) {
        return installed;
    }
    const auto inSources =
        std::filesystem::path(CHIPLOAD_SOURCE_DIR) / "examples/hello-usart/hello.hex";
    std::error_code error;
    return std::filesystem::is_regular_file(inSources, error) ? inSources.string() : "";
}

int RunHeadlessJob(rte::Headless& ui, const std::function<int()>& runProgram) {
    std::atomic<bool> programEnded{false};
    std::string failure;
    PopupDesk desk;
    desk.answerFileWith = [&ui](const std::string& path) { ui.queueFileAnswer(path); };
    desk.shown = [&ui](const std::string& message) {
        for (const auto& popup : ui.popups()) {
            if (popup.message == message) {
                return true;
            }
        }
        return false;
    };
    std::thread operatorThread([&] {
        Operator person(desk, programEnded);
        failure = person.run();
        person.quit();
    });
    const int status = runProgram();
    programEnded = true;
    operatorThread.join();
    if (!failure.empty()) {
        Say("FAILED: " + failure);
        return 1;
    }
    Say(status == 0 ? "every step held" : "the program ended with an error");
    return status;
}

#ifdef CHIPLOAD_WITH_QT
namespace {

// Answers the window's dialogs as the operator would (the file dialog with
// the path asked for, every other dialog with its first button) and, while
// the completion pop-up of programming is up, saves a picture of the window;
// once the program's greeting has arrived, a second one of its terminal page,
// and, when asked for, one of each page and one of the window maximised.
class WindowDesk {
  public:
    WindowDesk(std::string screenshot, std::string pagesFolder)
        : screenshot_(std::move(screenshot)), pagesFolder_(std::move(pagesFolder)) {
        timer_.setInterval(100);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            saveTerminalWhenAsked();
            answerOpenDialog();
        });
        timer_.start();
    }

    PopupDesk desk() {
        PopupDesk desk;
        desk.answerFileWith = [this](const std::string& path) {
            std::lock_guard<std::mutex> lock(mutex_);
            file_ = path;
        };
        desk.shown = [this](const std::string& message) {
            std::lock_guard<std::mutex> lock(mutex_);
            return std::find(answered_.begin(), answered_.end(), message) != answered_.end();
        };
        desk.greetingShown = [this] {
            if (screenshot_.empty() && pagesFolder_.empty()) {
                return;
            }
            terminalShot_ = TerminalShot::wanted;
            const auto end = std::chrono::steady_clock::now() + 30s;
            while (terminalShot_ == TerminalShot::wanted &&
                   std::chrono::steady_clock::now() < end) {
                std::this_thread::sleep_for(20ms);
            }
        };
        return desk;
    }
    bool saved() const { return saved_ || screenshot_.empty(); }
    bool pagesSaved() const { return pagesSaved_ || pagesFolder_.empty(); }

  private:
    static QWidget* MainWindow() {
        QWidget* largest = nullptr;
        for (QWidget* window : QApplication::topLevelWidgets()) {
            if (window->isVisible() && qobject_cast<QDialog*>(window) == nullptr &&
                (largest == nullptr ||
                 window->width() * window->height() > largest->width() * largest->height())) {
                largest = window;
            }
        }
        return largest;
    }

    // programmed.png -> programmed-terminal.png
    std::string terminalPicture() const {
        std::filesystem::path path(screenshot_);
        return (path.parent_path() /
                (path.stem().string() + "-terminal" + path.extension().string()))
            .string();
    }

    static void ShowPage(QWidget* window, int outerPage, int innerPage) {
        if (auto* outer = window->findChild<QTabWidget*>(QStringLiteral("PANEL_TAB"))) {
            outer->setCurrentIndex(outerPage);
        }
        if (auto* inner = window->findChild<QTabWidget*>(QStringLiteral("TABISP_TAB"))) {
            inner->setCurrentIndex(innerPage);
        }
        QApplication::processEvents();
    }

    bool savePicture(QWidget* window, const std::string& name) {
        const std::string path = (std::filesystem::path(pagesFolder_) / (name + ".png")).string();
        const bool saved = window->grab().save(QString::fromStdString(path));
        Say(saved ? "saved " + path : "could not save " + path);
        return saved;
    }

    // The log from the read-back's first line on: the program's bytes and
    // their text rather than the erased rest of the page.
    static void ShowReadBack(QWidget* window) {
        auto* log = window->findChild<QPlainTextEdit*>(QStringLiteral("TABOPS_LOG"));
        if (log == nullptr) {
            return;
        }
        for (QTextBlock line = log->document()->begin(); line.isValid(); line = line.next()) {
            if (line.text().startsWith(QStringLiteral("08000000:"))) {
                log->verticalScrollBar()->setValue(std::max(line.blockNumber() - 1, 0));
                return;
            }
        }
    }

    // Each page at the window's size, then the operations page maximised.
    bool savePages(QWidget* window) {
        ShowReadBack(window);
        struct Page {
            const char* name;
            int outer, inner;
        };
        bool saved = true;
        for (const Page& page : {Page{"tabops", 0, 0}, Page{"tabops2", 0, 1}, Page{"tabterm", 1, 0},
                                 Page{"tabthird", 2, 0}}) {
            ShowPage(window, page.outer, page.inner);
            saved = savePicture(window, page.name) && saved;
        }
        ShowPage(window, 0, 0);
        const QSize before = window->size();
        window->showMaximized();
        const auto end = std::chrono::steady_clock::now() + 3s;
        while (window->size() == before && std::chrono::steady_clock::now() < end) {
            QApplication::processEvents(QEventLoop::AllEvents, 50);
        }
        saved = window->size() != before && savePicture(window, "maximised") && saved;
        window->showNormal();
        return saved;
    }

    void saveTerminalWhenAsked() {
        if (terminalShot_ != TerminalShot::wanted) {
            return;
        }
        QWidget* window = MainWindow();
        if (window != nullptr && !pagesFolder_.empty()) {
            pagesSaved_ = savePages(window);
        }
        bool saved = false;
        if (window != nullptr && !screenshot_.empty()) {
            for (auto* tabs : window->findChildren<QTabWidget*>()) {
                if (tabs->count() == 3) {
                    tabs->setCurrentIndex(1);  // the serial terminal page
                }
            }
            saved = window->grab().save(QString::fromStdString(terminalPicture()));
        }
        if (!screenshot_.empty()) {
            Say(saved ? "terminal saved as " + terminalPicture()
                      : "the terminal could not be saved");
        }
        terminalShot_ = TerminalShot::done;
    }

    void answerOpenDialog() {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr) {
            return;
        }
        std::lock_guard<std::mutex> lock(mutex_);
        if (auto* files = qobject_cast<QFileDialog*>(modal)) {
            // Asked again on every tick until the dialog has taken it.
            if (!file_.empty()) {
                // Typed into the name field: selectFile leaves the field alone
                // while it has the keyboard focus, as it has once the dialog
                // is active.
                const QString path = QString::fromStdString(file_);
                if (auto* name = files->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))) {
                    name->setText(path);
                } else {
                    files->selectFile(path);
                }
                static_cast<QDialog*>(files)->accept();  // public in QDialog
            }
            return;
        }
        const auto* label = modal->findChild<QLabel*>(QStringLiteral("message"));
        const std::string message = label != nullptr ? label->text().toStdString() : "";
        if (message == RTE_Translate(kWriteDone) && !saved_ && !screenshot_.empty()) {
            QWidget* window = MainWindow();
            saved_ = window != nullptr && window->grab().save(QString::fromStdString(screenshot_));
            Say(saved_ ? "window saved as " + screenshot_ : "the window could not be saved");
        }
        if (auto* button = modal->findChild<QPushButton*>(QStringLiteral("button1"))) {
            answered_.push_back(message);
            button->click();
        }
    }

    std::string screenshot_;
    std::string pagesFolder_;
    bool pagesSaved_ = false;
    QTimer timer_;
    std::mutex mutex_;
    std::string file_;
    std::vector<std::string> answered_;
    bool saved_ = false;
    enum class TerminalShot { none, wanted, done };
    std::atomic<TerminalShot> terminalShot_{TerminalShot::none};
};

}  // namespace

int RunWindowJob(const std::string& screenshot, const std::string& pagesFolder,
                 const std::function<int()>& runProgram) {
    std::atomic<bool> programEnded{false};
    std::string failure;
    WindowDesk windowDesk(screenshot, pagesFolder);
    std::thread operatorThread([&, desk = windowDesk.desk()] {
        Operator person(desk, programEnded);
        failure = person.run();
        person.quit();
    });
    const int status = runProgram();
    programEnded = true;
    operatorThread.join();
    if (!failure.empty()) {
        Say("FAILED: " + failure);
        return 1;
    }
    if (!windowDesk.saved() || !windowDesk.pagesSaved()) {
        Say("FAILED: not every picture of the window was saved");
        return 1;
    }
    Say(status == 0 ? "every step held" : "the program ended with an error");
    return status;
}
#endif

}  // namespace chipload::demo
