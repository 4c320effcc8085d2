// vanto: retunes a MIDI keyboard's notes to a scale on a 12-tone synthesizer.

#include <QApplication>
#include <QSocketNotifier>

#include <clocale>
#include <cstdio>
#include <string>
#include <csignal>
#include <vector>

#include "app/main_window.h"
#include "app/startup.h"
#include "engine/midi_system.h"
#include "engine/output_senders.h"
#include "platform/midi_backends.h"

#if defined(__unix__) || defined(__APPLE__)
#include <sys/socket.h>
#include <unistd.h>
#define VANTO_POSIX_SIGNALS 1
#endif

namespace {

#ifdef VANTO_POSIX_SIGNALS
int signalPipe[2] = {-1, -1};

void onTerminate(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
}

// A terminate or interrupt request closes the main window as its close box
// would: the devices are closed and the program ends normally.
void closeOnTerminate(MainWindow& window)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0)
        return;
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &window);
    QObject::connect(notifier, &QSocketNotifier::activated, &window, [&window] {
        char byte;
        [[maybe_unused]] const ssize_t read = ::read(signalPipe[0], &byte, 1);
        window.close();
    });
    struct sigaction action {};
    action.sa_handler = onTerminate;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    // A MIDI service that goes away under an open port must not take the
    // program with it: its sockets then fail with an error instead.
    std::signal(SIGPIPE, SIG_IGN);
}
#endif

const char* const Usage =
    "usage: vanto [SCALE_FILE]\n"
    "  Retunes the notes of a MIDI keyboard to the scale in SCALE_FILE (a native scale or a .scl file,\n"
    "  with the .kbm of its name beside it) and plays them on a 12-tone synthesizer. Without SCALE_FILE\n"
    "  the scale and mapping last loaded play. The settings are \"vanto.cfg\" in the current folder.\n";

// --help and --version alone answer on standard output, without a window.
bool answeredAlone(int argc, char** argv)
{
    if (argc != 2)
        return false;
    const std::string option = argv[1];
    if (option == "--help")
        std::fputs(Usage, stdout);
    else if (option == "--version")
        std::puts("vanto " VANTO_VERSION);
    return option == "--help" || option == "--version";
}

}  // namespace

int main(int argc, char** argv)
{
    if (answeredAlone(argc, argv))
        return 0;
    // The whole command line is the scale path: Qt gets only the program
    // name, so that none of it is taken as a Qt option.
    Engine engine;
    startUp(engine, argc, argv);
    int qtArgc = 1;
    char* qtArgv[] = {argv[0], nullptr};
    QApplication application(qtArgc, qtArgv);
    // Numbers in scale files and fields are read with a point, whatever the
    // desktop's language.
    std::setlocale(LC_NUMERIC, "C");

    PlatformMidiSystem system(engine);
    engine.midiSystem = &system;
    SystemDesktop desktop;
    {
        MainWindow window(engine, desktop);
#ifdef VANTO_POSIX_SIGNALS
        closeOnTerminate(window);
#endif
        window.show();
        application.exec();
    }
    engine.midiSystem = nullptr;
    return 0;
}
