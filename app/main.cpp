// chipload [--headless] [--demo] [--lang zh|en] [--com N=DEVICE]... [--list-ports] [--version]
// [--help]
#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include "chipload_version.h"
#include "command_line.h"
#include "options.h"
#include "port_listing.h"
#include "port_map.h"
#include "rte.h"
#include "rte_headless.h"
#include "rte_language.h"
#include "startup.h"
#ifdef CHIPLOAD_WITH_DEMO
#include "demo.h"
#endif
#ifdef CHIPLOAD_WITH_QT
#include "rte_qt.h"
#endif

namespace {

const char kUsage[] =
    "Usage: chipload [--headless] [--demo] [--lang zh|en] [--com N=DEVICE]... [--list-ports]\n"
    "                [--version] [--help]\n"
    "       chipload COMMAND [ARGUMENTS] [OPTIONS]   without the window, see below\n"
    "  --headless        no window: pop-ups, status and log lines go to standard output,\n"
    "                    pop-ups are answered with their first button\n"
    "  --demo            COM1 is a simulated STM32F103 started by the program; with\n"
    "                    --headless, program the sample program into it and run it\n"
    "  --demo-screenshot FILE  the demo's job in the window, saved as FILE (PNG) when\n"
    "                    programming completes\n"
    "  --demo-pages DIR  the demo's job in the window, then a picture of each page\n"
    "                    and of the window maximised in DIR\n"
    "  --lang zh|en      the language of the window (default: Chinese, or English\n"
    "                    when the locale's language is neither Chinese nor C)\n"
    "  --com N=DEVICE    COMn stands for DEVICE (a tty path or rfc2217://HOST:PORT)\n"
    "  --list-ports      what COM1..COM10 stand for, then exit\n"
    "  --version         the version, then exit\n"
    "  --help            this text\n";

struct Options {
    bool headless = false;
    bool help = false;
    bool version = false;
    bool listPorts = false;
    bool demo = false;
    std::string screenshot;
    std::string pagesFolder;
    rte::Language language = rte::LanguageFromEnvironment();
};

// Options the window's toolkit takes out of the command line itself: they
// pass the check here and are left for it.
constexpr const char* kToolkitOptionsWithValue[] = {
    "-platform", "-platformpluginpath", "-platformtheme", "-plugin",
    "-style",    "-stylesheet",         "-session",       "-display",
    "-geometry", "-qwindowgeometry",    "-qwindowtitle",  "-qwindowicon"};
constexpr const char* kToolkitFlags[] = {"-reverse", "-widgetcount", "-nograb", "-dograb", "-sync"};

bool IsOneOf(const std::string& argument, const auto& names) {
    for (const char* name : names) {
        if (argument == name) {
            return true;
        }
    }
    return false;
}

// Applies the --com mappings as it goes; false with a message on a bad argument.
bool ParseArguments(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; i++) {
        const std::string argument = argv[i];
        if (IsOneOf(argument, kToolkitOptionsWithValue) && i + 1 < argc) {
            ++i;
        } else if (IsOneOf(argument, kToolkitFlags)) {
            continue;
        } else if (argument == "--headless") {
            options.headless = true;
        } else if (argument == "--demo") {
            options.demo = true;
        } else if (argument == "--demo-screenshot" && i + 1 < argc) {
            options.demo = true;
            options.screenshot = argv[++i];
        } else if (argument == "--demo-pages" && i + 1 < argc) {
            options.demo = true;
            options.pagesFolder = argv[++i];
        } else if (argument == "--lang" && i + 1 < argc) {
            const auto language = rte::ParseLanguage(argv[++i]);
            if (!language) {
                std::fprintf(stderr, "chipload: unknown language '%s' (expected zh or en)\n",
                             argv[i]);
                return false;
            }
            options.language = *language;
        } else if (argument == "--help") {
            options.help = true;
        } else if (argument == "--version") {
            options.version = true;
        } else if (argument == "--list-ports") {
            options.listPorts = true;
        } else if (argument == "--com" && i + 1 < argc) {
            const std::string mapping = argv[++i];
            const auto equals = mapping.find('=');
            const int com = equals == std::string::npos ? 0 : std::atoi(mapping.c_str());
            if (com < 1 || com > 10 ||
                !chipload::portmap::assign(com, mapping.substr(equals + 1))) {
                std::fprintf(stderr,
                             "chipload: bad port mapping '%s' (expected N=DEVICE, N 1..10)\n",
                             mapping.c_str());
                return false;
            }
        } else {
            std::fprintf(stderr, "chipload: unknown argument '%s'\n%s", argument.c_str(), kUsage);
            return false;
        }
    }
    return true;
}

void QuitOnUserInterfaceThread(void*) {
    MainQuitCb(0, 0, EVENT_COMMIT, nullptr, 0, 0);
}

// Headless runs end on SIGINT or SIGTERM through the ordinary quit, whose
// confirmations the headless rule answers with their first button.
class QuitOnSignal {
  public:
    QuitOnSignal() {
        sigemptyset(&signals_);
        sigaddset(&signals_, SIGINT);
        sigaddset(&signals_, SIGTERM);
        pthread_sigmask(SIG_BLOCK, &signals_, nullptr);
        watcher_ = std::thread([this] { Watch(); });
    }
    ~QuitOnSignal() {
        done_ = true;
        // The watcher sleeps until a signal comes: send it one it knows to ignore now.
        pthread_kill(watcher_.native_handle(), SIGTERM);
        watcher_.join();
    }
    QuitOnSignal(const QuitOnSignal&) = delete;
    QuitOnSignal& operator=(const QuitOnSignal&) = delete;

  private:
    void Watch() {
        while (true) {
            const int signal = sigwaitinfo(&signals_, nullptr);
            if (done_) {
                return;
            }
            if (signal > 0) {
                PostDeferredCall(QuitOnUserInterfaceThread, nullptr);
            }
        }
    }

    sigset_t signals_{};
    std::atomic<bool> done_{false};
    std::thread watcher_;
};

// After the toolkit has started: it sets the process's locale from the
// environment, which would undo the message locale chosen here.
void UseLanguage(rte::Language language) {
    std::string error;
    if (!rte::UseLanguage(language, rte::FindLocaleFolder(), error)) {
        std::fprintf(stderr, "chipload: %s; the window stays in Chinese\n", error.c_str());
    }
}

int RunProgram() {
    char commandLine[] = "";
    if (WinMain(nullptr, nullptr, commandLine, 1) != 0) {
        std::fprintf(stderr, "chipload: start-up failed: %s\n", RTE_GetLastErrorText());
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (cli::wantsCommandLine(argc, argv)) {
        return cli::runCommandLine(argc, argv);
    }
    // Checked before any front end starts: a bad argument is named whether or
    // not there is a display to draw on.
    Options options;
    if (!ParseArguments(argc, argv, options)) {
        return 2;
    }
    if (options.help) {
        std::printf("%s\nCommands (chipload COMMAND --help for their options):\n%s", kUsage,
                    cli::commandList().c_str());
        return 0;
    }
    if (options.version) {
        std::printf("chipload %s\n", CHIPLOAD_VERSION);
        return 0;
    }
    if (options.listPorts) {
        std::fputs(chipload::portmap::listing().c_str(), stdout);
        return 0;
    }
    [[maybe_unused]] const bool window = !options.headless;
#ifdef CHIPLOAD_WITH_DEMO
    std::unique_ptr<chipload::demo::Board> demoBoard;
    if (options.demo) {
        std::string error;
        demoBoard = chipload::demo::StartBoard(error);
        if (!demoBoard) {
            std::fprintf(stderr, "chipload: the simulated board did not start: %s\n",
                         error.c_str());
            return 1;
        }
    }
#else
    if (options.demo) {
        std::fputs("chipload: built without the simulated target; no demo\n", stderr);
        return 2;
    }
#endif
#ifdef CHIPLOAD_WITH_QT
    if (window) {
        // The toolkit takes its own options (-platform, -style, ...) out of argv.
        if (RTE_InstallQtFrontEnd(&argc, argv) != 0) {
            std::fputs("chipload: no display to draw on; run with --headless\n", stderr);
            return 1;
        }
        UseLanguage(options.language);
#ifdef CHIPLOAD_WITH_DEMO
        if (!options.screenshot.empty() || !options.pagesFolder.empty()) {
            return chipload::demo::RunWindowJob(options.screenshot, options.pagesFolder,
                                                RunProgram);
        }
#endif
        return RunProgram();
    }
#endif
    rte::Headless::Options headless;
    headless.rule = rte::Headless::PopupRule::FirstButton;
    headless.echo = true;
    headless.echoControls = {"PANEL_STATUS", "TABOPS_LOG"};
    auto frontEnd = rte::Headless::Install(headless);
    UseLanguage(options.language);
    QuitOnSignal quitOnSignal;
#ifdef CHIPLOAD_WITH_DEMO
    if (options.demo) {
        return chipload::demo::RunHeadlessJob(*frontEnd, RunProgram);
    }
#endif
    return RunProgram();
}
