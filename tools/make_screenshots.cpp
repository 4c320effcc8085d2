// Renders each window of the program into a PNG for the documentation:
//   make-screenshots OUTPUT_FOLDER SCALE_FILE
// It runs on the offscreen platform with stand-in MIDI devices.

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QListWidget>

#include <clocale>

#include "app/main_window.h"
#include "app/midi_system.h"
#include "app/port_opening.h"
#include "app/settings.h"
#include "app/startup.h"
#include "dialogs/channels_window.h"
#include "dialogs/command_setup_dialog.h"
#include "dialogs/control_bars_window.h"
#include "dialogs/event_editor.h"
#include "dialogs/last_key_window.h"
#include "dialogs/midi_setup_dialog.h"
#include "engine/note_allocation.h"

namespace {

class SilentInput : public MidiInputDevice {
public:
    int prepareBuffer(SysexBuffer&) override { return 0; }
    int addBuffer(SysexBuffer&) override { return 0; }
    void start() override {}
    void reset() override {}
    void unprepareBuffer(SysexBuffer&) override {}
    void close() override {}
};

class SilentOutput : public MidiOutputDevice {
public:
    void sendShortMessage(uint32_t) override {}
    bool sendLongMessage(const uint8_t*, size_t) override { return true; }
    void close() override {}
};

class ShowcaseSystem : public MidiSystem {
public:
    std::vector<std::string> inputDeviceNames() override { return {"USB Keyboard:MIDI 1", "Sequencer:out"}; }
    std::vector<std::string> outputDeviceNames() override { return {"FLUID Synth:midi_00", "Hardware Synth:in"}; }
    std::unique_ptr<MidiInputDevice> openInput(int32_t) override { return std::make_unique<SilentInput>(); }
    std::unique_ptr<MidiOutputDevice> openOutput(int32_t) override { return std::make_unique<SilentOutput>(); }
};

class NoDesktop : public Desktop {
public:
    QString chooseFileToOpen(QWidget*, Files) override { return {}; }
    QString chooseFileToSave(QWidget*, Files) override { return {}; }
    bool openDocument(const QString&) override { return false; }
};

void save(QWidget& widget, const QString& path)
{
    widget.show();
    widget.adjustSize();
    for (int i = 0; i < 5; ++i)
        QApplication::processEvents();
    widget.grab().save(path);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3)
        return 2;
    const QString folder = argv[1];
    const char* startArguments[] = {argv[0], argv[2]};
    startUp(2, startArguments);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    int qtArgc = 1;
    char* qtArgv[] = {argv[0], nullptr};
    QApplication app(qtArgc, qtArgv);
    std::setlocale(LC_NUMERIC, "C");
    ShowcaseSystem system;
    midiSystem = &system;

    settings.commandKey = 36;
    settings.demodulateKey = 37;
    settings.resetPitchKey = 38;
    settings.initMessageKey = 39;
    settings.initEventCount = 3;
    settings.initMessage[0] = {0xC0, 16, 19, 0};
    settings.initMessage[1] = {0xB0, 16, 7, 100};
    settings.initMessage[2] = {0xB0, 16, 91, 40};

    NoDesktop desktop;
    MainWindow window(desktop);
    save(window, QDir(folder).filePath("main-window.png"));
    {
        MidiSetupDialog dialog(&window);
        save(dialog, QDir(folder).filePath("midi-setup.png"));
    }
    {
        CommandSetupDialog dialog(&window);
        dialog.findChild<QListWidget*>("initMessageList")->setCurrentRow(1);
        save(dialog, QDir(folder).filePath("command-setup.png"));
    }
    {
        InitEvent event{0xB0, 16, 7, 100};
        EventEditor editor(event, EditorMode::Edit, &window);
        save(editor, QDir(folder).filePath("event-editor.png"));
    }
    {
        ControlBarsWindow bars;
        save(bars, QDir(folder).filePath("control-bars.png"));
    }
    {
        noteAllocation.lastKey = 67;
        LastKeyWindow lastKey;
        save(lastKey, QDir(folder).filePath("last-key.png"));
    }
    {
        for (const uint8_t key : {60, 64, 67, 71})
            handleNoteOn(0x90, 0, key, 100);
        handlePedal(SustainController, 127);
        handleNoteOff(0x80, 0, 71, 0);
        ChannelsWindow channels;
        save(channels, QDir(folder).filePath("channels.png"));
    }
    window.close();
    QFile::remove("vanto.cfg");
    return 0;
}
