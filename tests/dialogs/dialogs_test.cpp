#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTableWidget>
#include <QScrollBar>
#include <QtTest>

#include <cstring>
#include <memory>
#include <thread>

#include "dialogs/channels_window.h"
#include "dialogs/command_setup_dialog.h"
#include "dialogs/control_bars_window.h"
#include "dialogs/event_editor.h"
#include "dialogs/last_key_window.h"
#include "dialogs/midi_setup_dialog.h"
#include "dialogs/setting_names.h"
#include "engine/config_file.h"
#include "engine/input_dispatch.h"
#include "engine/output_senders.h"
#include "engine/port_opening.h"
#include "support/gesture.h"
#include "support/qt_test_support.h"
#include "support/scale_builder.h"
#include "support/temp_dir.h"

namespace {

std::vector<uint8_t> savedConfig(const QtTestPlace& place)
{
    return readBytes(place.path("vanto.cfg").toStdString());
}

std::vector<uint8_t> imageOf(const Settings& s)
{
    uint8_t image[MaxConfigFileSize];
    const int length = encodeConfig(s, image);
    return {image, image + length};
}

QStringList rows(QListWidget* list)
{
    QStringList texts;
    for (int i = 0; i < list->count(); ++i)
        texts << list->item(i)->text();
    return texts;
}

}  // namespace

class DialogsTest : public QObject {
    Q_OBJECT

private:
    QtTestPlace place;
    Engine& engine = place.engine;

    // Fills the Event Editor that opens next and confirms it.
    void confirmNextEvent(int typeRow, int channel, int param1, int param2)
    {
        whenModalOpens([=](QWidget* editor) {
            child<QComboBox>(editor, "typeList")->setCurrentIndex(typeRow);
            child<QComboBox>(editor, "channelList")->setCurrentIndex(channel);
            setField(editor, "parameter1Field", QString::number(param1));
            setField(editor, "parameter2Field", QString::number(param2));
            press(editor, "okButton");
        });
    }
    // Three events P, Q, R: program changes 1, 2, 3 on channel 1.
    void addPQR(CommandSetupDialog& dialog)
    {
        for (int p = 1; p <= 3; ++p) {
            auto* list = child<QListWidget>(&dialog, "initMessageList");
            list->setCurrentRow(list->count() - 1);
            confirmNextEvent(4, 0, p, 0);
            dialog.addEvent();
        }
    }
    const std::vector<ShortMessage>& sent() const { return place.system->log.output.shortMessages; }
    void openOutput()
    {
        RecordingReporter quiet;
        engine.openPorts(quiet);
        place.system->log.output.clear();
    }

private slots:
    void init() { place.reset(); }
    void cleanup() { place.release(); }

    void frequencyAndEventTexts()
    {
        QCOMPARE(formatFrequency(261.6255653) + formatFrequency(0.5) + formatFrequency(-12.25), std::string("261.626.500-12.250"));
        QVERIFY(formatFrequency(1e30).size() <= 19);
        QCOMPARE(std::atof(formatFrequency(1e30).c_str()), 1e30);
        QCOMPARE(formatInitEvent({0x90, 16, 0x3C, 0x64}), std::string("9X 3C 64"));
        QCOMPARE(formatInitEvent({0xB0, 15, 0x1A, 127}), std::string("BF 1A 7F"));
        QCOMPARE(formatInitEvent({0xF6, 9, 0, 0}), std::string("F6 00 00"));
    }

    void midiSetupShowsTheSettings()
    {
        place.system->inputs = {"Keyboard A", "Keyboard B"};
        place.system->outputs = {"Synth"};
        engine.settings.inputDevice = 1;
        engine.settings.referenceFrequency = 0.5;
        MidiSetupDialog dialog(engine);
        QCOMPARE(dialog.windowTitle(), QString("Midi Setup"));
        QCOMPARE(rows(child<QListWidget>(&dialog, "inputDeviceList")), (QStringList{"Keyboard A", "Keyboard B"}));
        QCOMPARE(child<QListWidget>(&dialog, "inputDeviceList")->currentRow(), 1);
        auto* outputs = child<QListWidget>(&dialog, "outputDeviceList");
        QCOMPARE(rows(outputs), (QStringList{"Midi Mapper", "Synth"}));
        QCOMPARE(outputs->currentRow(), 0);
        for (int c = 1; c <= 16; ++c)
            QCOMPARE(child<QCheckBox>(&dialog, qPrintable(QString("useChannel%1").arg(c)))->isChecked(), c != 10);
        auto* relays = child<QListWidget>(&dialog, "relayList");
        for (int i = 0; i < 9; ++i)
            QCOMPARE(relays->item(i)->isSelected(), i < 4);
        QCOMPARE(child<QComboBox>(&dialog, "inputChannelList")->currentText(), QString("All"));
        QCOMPARE(child<QLineEdit>(&dialog, "frequencyField")->text(), QString(".500"));
        QCOMPARE(child<QLineEdit>(&dialog, "pitchWheelRangeField")->text(), QString("2"));
        QCOMPARE(child<QLineEdit>(&dialog, "midiNoteField")->text(), QString("69"));
    }

    void midiSetupOkStoresReopensAndSaves()
    {
        place.system->outputs = {"Synth"};
        MidiSetupDialog dialog(engine);
        child<QListWidget>(&dialog, "outputDeviceList")->setCurrentRow(1);
        child<QCheckBox>(&dialog, "useChannel10")->setChecked(true);
        child<QCheckBox>(&dialog, "useChannel1")->setChecked(false);
        auto* relays = child<QListWidget>(&dialog, "relayList");
        relays->item(1)->setSelected(false);
        relays->item(7)->setSelected(true);
        child<QComboBox>(&dialog, "inputChannelList")->setCurrentIndex(0);
        setField(&dialog, "pitchWheelRangeField", "30");
        setField(&dialog, "midiNoteField", "200");
        setField(&dialog, "releaseTimeField", "12000");
        auto* range = child<QLineEdit>(&dialog, "mpeBendRangeField");
        auto* program = child<QLineEdit>(&dialog, "tuningProgramField");
        QVERIFY(range->isHidden() && program->isHidden());  // each mode's fields show in that mode only
        child<QComboBox>(&dialog, "outputModeList")->setCurrentIndex(OutputMidiTuning);
        QVERIFY(range->isHidden() && !program->isHidden());
        setField(&dialog, "tuningProgramField", "300");
        setField(&dialog, "deviceIdField", "16");
        child<QComboBox>(&dialog, "outputModeList")->setCurrentIndex(OutputMpe);
        QVERIFY(!range->isHidden() && program->isHidden());
        setField(&dialog, "mpeBendRangeField", "200");
        press(&dialog, "okButton");
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(engine.settings.outputMode, OutputMpe);
        QCOMPARE(engine.settings.mpeBendRange, MaxMpeBendRange);
        QCOMPARE(engine.settings.tuningProgram, 127);
        QCOMPARE(engine.settings.tuningDeviceId, 16);
        QCOMPARE(engine.settings.releaseTime, MaxReleaseTime);
        QCOMPARE(engine.settings.outputDevice, 0);
        QCOMPARE(engine.settings.useChannel[9], 1);
        QCOMPARE(engine.settings.useChannel[0], 0);
        QCOMPARE(engine.settings.relay[1], 0);
        QCOMPARE(engine.settings.relay[7], 1);
        QCOMPARE(engine.settings.inputChannel, uint8_t{0});
        QCOMPARE(engine.settings.pitchWheelRange, uint8_t{24});
        QCOMPARE(engine.settings.referenceKey, uint8_t{127});
        QCOMPARE(place.system->log.events, (std::vector<std::string>{"open input 0", "prepare", "queue", "start", "open output 0"}));
        QCOMPARE(savedConfig(place), imageOf(engine.settings));
        QVERIFY(place.reporter.shown.empty());
    }

    void midiSetupRebuildsTheTuningOnlyWhenItsReferenceChanged()
    {
        const double sentinel = 1.25;
        struct Case {
            const char* frequency;
            const char* range;
            const char* key;
            bool rebuilds;
        };
        const Case cases[] = {{"440", "2", "69", false}, {"", "2", "69", false}, {"440.5", "2", "69", true},
                              {"440", "", "", false},    {"440", "2", "57", true}, {"440", "0", "69", true}};
        for (const Case& c : cases) {
            place.reset();
            engine.tuningTable.instrumentFrequency[0] = sentinel;
            MidiSetupDialog dialog(engine);
            setField(&dialog, "frequencyField", c.frequency);
            setField(&dialog, "pitchWheelRangeField", c.range);
            setField(&dialog, "midiNoteField", c.key);
            press(&dialog, "okButton");
            QCOMPARE(engine.tuningTable.instrumentFrequency[0] != sentinel, c.rebuilds);
            QCOMPARE(place.system->log.events.front(), std::string("open input 0"));
            QVERIFY(place.configSaved());
        }
        QCOMPARE(engine.settings.pitchWheelRange, uint8_t{0});
        QCOMPARE(engine.settings.referenceFrequency, 440.0);
    }

    // No input to open: the error shows and the settings are still saved.
    // No MIDI service at all: the dialog says so.
    void midiSetupReportsMissingDevicesAndService()
    {
        place.system->inputs.clear();
        place.system->outputs.clear();
        {
            MidiSetupDialog empty(engine);  // empty lists alone do not mean the service is missing
            QVERIFY(!child<QLabel>(&empty, "noServiceLabel")->isVisibleTo(&empty));
        }
        place.system->outputs = {"Synth"};
        MidiSetupDialog dialog(engine);
        QCOMPARE(child<QListWidget>(&dialog, "inputDeviceList")->count(), 0);
        press(&dialog, "okButton");
        QCOMPARE(place.reporter.shown.size(), size_t{1});
        QCOMPARE(place.reporter.shown[0].text, std::string(InputDeviceError));
        QVERIFY(place.configSaved());
        QCOMPARE(engine.settings.inputDevice, -1);
        place.system->outputs.clear();
        place.system->service = false;
        MidiSetupDialog without(engine);
        QVERIFY(child<QLabel>(&without, "noServiceLabel")->isVisibleTo(&without));
        QCOMPARE(child<QLabel>(&without, "noServiceLabel")->text(), QString(NoMidiServiceText));
    }

    void commandSetupAddSwapsTheNewEventIn()
    {
        struct Case {
            int selected;  // -1: none
            QStringList expected;
        };
        const Case cases[] = {
            {0, {"C0 01 00", "C0 09 00", "C0 03 00", "C0 02 00"}},
            {-1, {"C0 09 00", "C0 02 00", "C0 03 00", "C0 01 00"}},
            {2, {"C0 01 00", "C0 02 00", "C0 03 00", "C0 09 00"}},
        };
        for (const Case& c : cases) {
            CommandSetupDialog dialog(engine);
            addPQR(dialog);
            auto* list = child<QListWidget>(&dialog, "initMessageList");
            QCOMPARE(rows(list), (QStringList{"C0 01 00", "C0 02 00", "C0 03 00"}));
            list->setCurrentRow(c.selected);
            confirmNextEvent(4, 0, 9, 0);
            dialog.addEvent();
            QCOMPARE(rows(list), c.expected);
            QCOMPARE(list->item(list->currentRow())->text(), QString("C0 09 00"));
        }
    }

    void commandSetupKeepsAtMostFortyEvents()
    {
        CommandSetupDialog dialog(engine);
        for (int i = 0; i < 40; ++i) {
            confirmNextEvent(11, 16, 0, 0);
            dialog.addEvent();
        }
        auto* list = child<QListWidget>(&dialog, "initMessageList");
        QCOMPARE(list->count(), 40);
        bool editorOpened = false;
        whenModalOpens([&](QWidget* editor) {
            editorOpened = true;
            press(editor, "cancelButton");
        });
        dialog.addEvent();
        QCoreApplication::processEvents();
        QVERIFY(!editorOpened);
        QCOMPARE(list->count(), 40);
        press(&dialog, "okButton");
        QCOMPARE(engine.settings.initEventCount, 40);
        QCOMPARE(savedConfig(place).size(), size_t{143 + 160});
    }

    // The row after the deleted one is selected; after the last, the one before.
    void commandSetupDeleteSelectsTheFollowingRow()
    {
        CommandSetupDialog dialog(engine);
        addPQR(dialog);
        auto* list = child<QListWidget>(&dialog, "initMessageList");
        list->setCurrentRow(1);
        dialog.deleteEvent();
        QCOMPARE(rows(list), (QStringList{"C0 01 00", "C0 03 00"}));
        QCOMPARE(list->currentRow(), 1);
        addPQR(dialog);  // after the last row, which stays selected
        for (const int selected : {3, 2, 1, 0, -1}) {
            dialog.deleteEvent();
            QCOMPARE(list->currentRow(), selected);
        }
        QCOMPARE(list->count(), 0);
        dialog.deleteEvent();  // empty: nothing
        QCOMPARE(list->count(), 0);
    }

    void commandSetupEditChangesOnlyTheSelectedRow()
    {
        CommandSetupDialog dialog(engine);
        addPQR(dialog);
        auto* list = child<QListWidget>(&dialog, "initMessageList");
        list->setCurrentRow(-1);
        dialog.editEvent();  // nothing selected: nothing to edit
        list->setCurrentRow(0);
        whenModalOpens([](QWidget* editor) {
            QCOMPARE(child<QComboBox>(editor, "typeList")->currentText(), QString("Program Change"));
            QCOMPARE(child<QLineEdit>(editor, "parameter1Field")->text(), QString("1"));
            setField(editor, "parameter1Field", "128");  // out of range: kept
            setField(editor, "parameter2Field", "127");
            child<QComboBox>(editor, "channelList")->setCurrentIndex(16);
            press(editor, "okButton");
        });
        dialog.editEvent();
        QCOMPARE(rows(list), (QStringList{"CX 01 7F", "C0 02 00", "C0 03 00"}));
        QCOMPARE(list->currentRow(), 0);
        bool opened = false;
        whenModalOpens([&](QWidget* editor) {
            opened = true;
            press(editor, "cancelButton");
        });
        emit list->itemDoubleClicked(list->item(2));  // a double-click edits the row too
        QVERIFY(opened);
    }

    void midiSetupKnowsDevicesByNameAndKeepsAnAbsentOne()
    {
        place.system->inputs = {"Other:in", "Keyboard:MIDI 1 24:0"};
        place.system->outputs = {"Synth"};
        engine.settings.inputDevice = 0;
        std::strcpy(engine.settings.inputDeviceName, "Keyboard:MIDI 1 20:0");  // ALSA renumbered it
        engine.settings.outputDevice = 0;
        std::strcpy(engine.settings.outputDeviceName, "Gone Synth");
        {
            MidiSetupDialog dialog(engine);
            QCOMPARE(child<QListWidget>(&dialog, "inputDeviceList")->currentRow(), 1);
            auto* outputs = child<QListWidget>(&dialog, "outputDeviceList");
            QCOMPARE(outputs->currentItem()->text(), QString("Gone Synth (not connected)"));
            press(&dialog, "okButton");
        }
        QCOMPARE(engine.settings.inputDevice, 1);
        QCOMPARE(std::string(engine.settings.inputDeviceName), std::string("Keyboard:MIDI 1 24:0"));
        QCOMPARE(std::string(engine.settings.outputDeviceName), std::string("Gone Synth"));
        QCOMPARE(engine.midiPorts.outputOpen, 0);  // awaited, and nothing opened in its place
        place.system->outputs = {"Synth", "Gone Synth"};  // back, and listed after "Midi Mapper" and "Synth"
        MidiSetupDialog dialog(engine);
        QCOMPARE(child<QListWidget>(&dialog, "outputDeviceList")->currentRow(), 2);
        child<QListWidget>(&dialog, "outputDeviceList")->setCurrentRow(0);
        press(&dialog, "okButton");
        QCOMPARE(engine.settings.outputDevice, MidiMapperDevice);
        QCOMPARE(std::string(engine.settings.outputDeviceName), std::string());
    }

    void commandSetupOkStoresKeysAndSwitches()
    {
        engine.settings.commandKey = 36;
        engine.settings.initMessageKey = 39;
        CommandSetupDialog dialog(engine);
        QCOMPARE(child<QLineEdit>(&dialog, "commandKeyField")->text(), QString("36"));
        QCOMPARE(child<QLineEdit>(&dialog, "demodulateKeyField")->text(), QString());
        QCOMPARE(child<QLineEdit>(&dialog, "demodulateKeyField")->placeholderText(), QString("None"));
        QVERIFY(child<QCheckBox>(&dialog, "sendOnOpenBox")->isChecked());
        QVERIFY(!child<QCheckBox>(&dialog, "shiftCentreBox")->isChecked());
        setField(&dialog, "commandKeyField", "129");
        press(&dialog, "learnButton2");
        QCOMPARE(child<QPushButton>(&dialog, "learnButton2")->text(), QString("Press a key"));
        play(engine, "+37 -37");
        QTRY_COMPARE(child<QLineEdit>(&dialog, "demodulateKeyField")->text(), QString("37"));
        QCOMPARE(child<QPushButton>(&dialog, "learnButton2")->text(), QString("Learn"));
        setField(&dialog, "resetPitchKeyField", "");
        setField(&dialog, "initMessageKeyField", "128");
        child<QCheckBox>(&dialog, "shiftCentreBox")->setChecked(true);
        child<QCheckBox>(&dialog, "sendOnOpenBox")->setChecked(false);
        press(&dialog, "okButton");
        QCOMPARE(engine.settings.commandKey, uint8_t{36});
        QCOMPARE(engine.settings.demodulateKey, uint8_t{37});
        QCOMPARE(engine.settings.resetPitchKey, NoKey);
        QCOMPARE(engine.settings.initMessageKey, NoKey);
        QCOMPARE(engine.settings.shiftCentre, 1);
        QCOMPARE(engine.settings.sendInitOnOpen, 0);
        QCOMPARE(savedConfig(place), imageOf(engine.settings));
        QVERIFY(place.system->log.events.empty());
    }

    // Cancel in either setup dialog changes, saves and opens nothing.
    void setupCancelChangesNothing()
    {
        engine.settings.initEventCount = 2;
        engine.settings.initMessage[0] = {0x90, 0, 60, 100};
        engine.settings.initMessage[1] = {0xFF, 0, 0, 0};
        const std::vector<uint8_t> before = imageOf(engine.settings);
        CommandSetupDialog commands(engine);
        auto* list = child<QListWidget>(&commands, "initMessageList");
        QCOMPARE(rows(list), (QStringList{"90 3C 64", "FF 00 00"}));
        QCOMPARE(list->currentRow(), -1);
        confirmNextEvent(1, 3, 1, 2);
        commands.addEvent();
        list->setCurrentRow(0);
        commands.deleteEvent();
        setField(&commands, "commandKeyField", "40");
        press(&commands, "cancelButton");
        MidiSetupDialog setup(engine);
        child<QCheckBox>(&setup, "useChannel3")->setChecked(false);
        child<QListWidget>(&setup, "relayList")->item(5)->setSelected(true);
        setField(&setup, "pitchWheelRangeField", "12");
        setField(&setup, "frequencyField", "415");
        press(&setup, "cancelButton");
        QCOMPARE(setup.result(), int(QDialog::Rejected));
        QCOMPARE(imageOf(engine.settings), before);
        QVERIFY(!place.configSaved());
        QVERIFY(place.system->log.events.empty());
    }

    void eventEditorStartsANewEventAsNoteOffOnAll()
    {
        InitEvent event{0xB0, 3, 9, 9};
        EventEditor editor(event, EditorMode::SingleMessage);
        QCOMPARE(child<QComboBox>(&editor, "typeList")->currentText(), QString("Note Off"));
        QCOMPARE(child<QComboBox>(&editor, "channelList")->currentText(), QString("All"));
        QCOMPARE(child<QComboBox>(&editor, "typeList")->count(), 17);
        child<QComboBox>(&editor, "typeList")->setCurrentIndex(16);
        setField(&editor, "parameter1Field", "");
        press(&editor, "okButton");
        QCOMPARE(event.status, uint8_t{0xFF});
        QCOMPARE(event.channel, uint8_t{16});
        QCOMPARE(event.param1, uint8_t{0});
        InitEvent untouched{0x90, 1, 2, 3};
        EventEditor cancelled(untouched, EditorMode::Edit);
        setField(&cancelled, "parameter1Field", "77");
        press(&cancelled, "cancelButton");
        QCOMPARE(untouched.param1, uint8_t{2});
    }

    // The bars open at the middle and send nothing until moved. An arrow
    // click moves the bar and sends the value to every used channel; a click
    // in the trough sends the value without moving; without an output nothing
    // is sent, yet the bar moves. Closing saves the configuration.
    void controlBarsSendTheirValueToEveryUsedChannel()
    {
        openOutput();
        auto window = std::make_unique<ControlBarsWindow>(engine);
        window->show();
        auto* bar = child<QScrollBar>(window.get(), "controlBar1");
        QCOMPARE(bar->value(), 64);
        QVERIFY(sent().empty());
        const auto click = [&](int x) { QTest::mouseClick(bar, Qt::LeftButton, {}, QPoint(x, bar->height() / 2)); };
        click(bar->width() - 4);
        QCOMPARE(bar->value(), 65);
        QCOMPARE(sent().size(), size_t{30});
        for (const ShortMessage& m : sent())
            QCOMPARE(m.data1 * 1000 + m.data2, 1 * 1000 + 65);
        QCOMPARE(sent()[0], (ShortMessage{0xB0, 1, 65}));
        QCOMPARE(sent()[15], (ShortMessage{0xB0, 1, 65}));
        for (const int end : {127, 0}) {
            bar->setValue(end);
            click(end ? bar->width() - 4 : 3);
            QCOMPARE(bar->value(), end);
            QCOMPARE(sent().back().data2, uint8_t(end));
        }
        place.system->log.output.clear();
        bar->setValue(20);
        click(bar->width() * 3 / 4);
        QCOMPARE(bar->value(), 20);
        QVERIFY(!sent().empty());
        for (const ShortMessage& m : sent())
            QCOMPARE(m, (ShortMessage{m.status, 1, 20}));
        engine.closePorts();
        place.system->log.output.clear();
        window->scrolled(0, 90);
        QVERIFY(sent().empty());
        QCOMPARE(bar->value(), 90);
        window.reset();
        QCOMPARE(controlBarsOpen, 0);
        QCOMPARE(savedConfig(place), imageOf(engine.settings));
    }

    void controllerFieldsAreTakenWhenTheirBarMoves()
    {
        openOutput();
        ControlBarsWindow window(engine);
        auto* field = child<QLineEdit>(&window, "controllerField3");
        field->setText("300");
        window.scrolled(2, 70);
        QCOMPARE(sent().front(), (ShortMessage{0xB0, 127, 70}));
        QCOMPARE(field->text(), QString("127"));
        field->setText("");
        place.system->log.output.clear();
        window.scrolled(2, 71);
        QCOMPARE(sent().front(), (ShortMessage{0xB0, 127, 71}));
        QCOMPARE(field->text(), QString("127"));
        field->setText("74");
        QFocusEvent leaving(QEvent::FocusOut);
        QCoreApplication::sendEvent(field, &leaving);
        QCOMPARE(engine.settings.controlBarController[2], uint8_t{74});
        QCOMPARE(child<QLabel>(&window, "controllerName3")->text(), QString("74 Brightness"));
        QCOMPARE(child<QLabel>(&window, "controllerValue3")->text(), QString("71"));
        QCOMPARE(child<QLabel>(&window, "controllerName7")->text(), QString("64 Sustain"));
        QCOMPARE(controllerName(39), std::string("39 Volume LSB"));
        QCOMPARE(controllerName(3), std::string("3 Controller"));
    }

    void lastKeyFollowsTheNotesFromTheInputThread()
    {
        engine.noteAllocation.lastKey = 0;
        auto* window = new LastKeyWindow(engine);
        auto* field = child<QLineEdit>(window, "lastKeyField");
        QCOMPARE(field->text(), QString("0"));
        QCOMPARE(lastKeyOpen, 1);
        std::thread input([this] {
            play(engine, "+60");
            engine.handleMidiInput(nullptr, MimData, 0, packShortMessage(0x90, 0, 61, 0), 0);
        });
        input.join();
        QTRY_COMPARE(field->text(), QString("60"));
        engine.settings.inputChannel = 0;
        engine.handleMidiInput(nullptr, MimData, 0, packShortMessage(0x93, 0, 70, 100), 0);
        QCoreApplication::processEvents();
        QCOMPARE(field->text(), QString("60"));
        delete window;
        QCOMPARE(lastKeyOpen, 0);
        QCOMPARE(engine.noteAllocation.lastKeyListenerEnabled, 0);
        play(engine, "+72");
        LastKeyWindow again(engine);
        QCOMPARE(child<QLineEdit>(&again, "lastKeyField")->text(), QString("72"));
        // A board over channels: its channel and index as well.
        engine.settings.inputChannel = AllChannels;
        engine.settings.keyLayout = KeyLayoutChannelOffset;
        engine.settings.keysPerChannel = 31;
        engine.handleMidiInput(nullptr, MimData, 0, packShortMessage(0x90, 2, 10, 100), 0);
        QTRY_COMPARE(child<QLineEdit>(&again, "lastKeyField")->text(), QString("channel 3, key 10: index 72"));
    }

    // A row is Use|Group|Bend|Keys|Pedal|Released, on an engine clock held still.
    void channelsShowWhatEachChannelIsDoing()
    {
        engine.engineClock = [] { return 90000u; };
        for (int32_t& used : engine.settings.useChannel)
            used = 0;
        engine.settings.useChannel[2] = 1;
        engine.resetChannels();
        engine.installScale(makeScale({1.0, 1.0, 1.0, 5.0 / 4, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 2.0}));
        engine.buildTuningTable();
        auto* window = new ChannelsWindow(engine);
        QCOMPARE(channelsOpen, 1);
        auto* table = child<QTableWidget>(window, "channelTable");
        const auto row = [&](int r) {
            window->refresh();
            QStringList cells;
            for (int c = 0; c < table->columnCount(); ++c)
                cells << table->item(r, c)->text();
            return cells.join('|');
        };
        QCOMPARE(row(0), QString("no|-|-|||-"));
        QCOMPARE(row(2), QString("yes|0|-|||-"));
        play(engine, "+64 O +65");  // 5/4 is 13.7 cents flat; 65 finds no channel left
        QCOMPARE(row(2), QString("yes|4|-13.7|64||playing"));
        play(engine, "-64");  // held by the sostenuto pedal
        QCOMPARE(row(2), QString("yes|4|-13.7||1 note|0.0 s"));
        engine.engineClock = [] { return 90000u + 61000u; };
        QCOMPARE(row(2), QString("yes|4|-13.7||1 note|1 min"));
        QCOMPARE(child<QLabel>(window, "droppedNotes")->text(), QString("Notes dropped for want of a free channel: 1"));
        engine.handleMidiInput(nullptr, MimError, 0, 0xB0, 0);
        window->refresh();
        QCOMPARE(child<QLabel>(window, "malformedInput")->text(), QString("Malformed input dropped: 1"));
        delete window;
        QCOMPARE(channelsOpen, 0);
    }

    void lastKeyRefreshesSurviveTheWindowClosing()
    {
        std::atomic<bool> stop{false};
        std::thread input([&] {
            for (uint8_t k = 0; !stop; k = (k + 1) & 0x7F) {  // as fast as can be: no gesture to parse
                engine.handleMidiInput(nullptr, MimData, 0, packShortMessage(0x90, 0, k, 100), 0);
                engine.handleMidiInput(nullptr, MimData, 0, packShortMessage(0x80, 0, k, 0), 0);
            }
        });
        for (int i = 0; i < 200; ++i) {
            auto* window = new LastKeyWindow(engine);
            QCoreApplication::processEvents();
            delete window;
        }
        LastKeyWindow last(engine);
        QTest::qWait(20);
        stop = true;
        input.join();
        QTRY_COMPARE(child<QLineEdit>(&last, "lastKeyField")->text(), QString::number(engine.noteAllocation.lastKey));
    }
};

QTEST_MAIN(DialogsTest)
#include "dialogs_test.moc"
