#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QtTest>

#include <cstring>
#include <deque>

#include "app/main_window.h"
#include "app/startup.h"
#include "dialogs/dialog_fields.h"
#include "dialogs/control_bars_window.h"
#include "dialogs/guide_window.h"
#include "dialogs/last_key_window.h"
#include "engine/config_file.h"
#include "engine/input_dispatch.h"
#include "engine/midi_ports.h"
#include "engine/output_senders.h"
#include "engine/port_opening.h"
#include "support/gesture.h"
#include "support/qt_test_support.h"
#include "support/temp_dir.h"

namespace {

class FakeDesktop : public Desktop {
public:
    QString chooseFileToOpen(QWidget*, Files kind) override { return next(kind); }
    QString chooseFileToSave(QWidget*, Files kind) override { return next(kind); }
    bool openDocument(const QString& path) override
    {
        opened << path;
        return canOpen;
    }
    bool canOpen = true;

    std::deque<QString> answers;  // "" = the user cancels
    std::vector<Files> asked;
    QStringList opened;

private:
    QString next(Files kind)
    {
        asked.push_back(kind);
        if (answers.empty())
            return {};
        QString answer = answers.front();
        answers.pop_front();
        return answer;
    }
};

// Notes what the status line said when each box came up.
class StatusReporter : public MessageReporter {
public:
    void showMessage(const char* title, const char* text, MessageIcon icon) override
    {
        shown.push_back({title, text, icon});
        QString status = "(no window)";
        for (QWidget* w : QApplication::allWidgets()) {
            if (w->objectName() == "statusLine")
                status = static_cast<QLabel*>(w)->text();
        }
        statusAtMessage << status;
    }
    std::vector<ShownMessage> shown;
    QStringList statusAtMessage;
};

}  // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

private:
    QtTestPlace place;
    Engine& engine = place.engine;
    FakeDesktop desktop;
    StatusReporter reporter;

    QString status(MainWindow& window) { return child<QLabel>(&window, "statusLine")->text(); }
    QAction* action(MainWindow& window, const char* name) { return child<QAction>(&window, name); }
    // The boxes shown, each as "title: text".
    QStringList shown() const
    {
        QStringList boxes;
        for (const ShownMessage& m : reporter.shown)
            boxes << QString::fromStdString(m.title + ": " + m.text);
        return boxes;
    }
    const std::vector<ShortMessage>& sent() const { return place.system->log.output.shortMessages; }
    void clearLog()
    {
        place.system->log.events.clear();
        place.system->log.output.clear();
        reporter = StatusReporter{};
    }
    std::string scaleFile(const char* name, const char* contents)
    {
        QFile file(place.path(name));
        file.open(QIODevice::WriteOnly);
        file.write(contents);
        return place.path(name).toStdString();
    }

private slots:
    void init()
    {
        place.reset();
        messageReporterOverride = &reporter;
        reporter = StatusReporter{};
        desktop = FakeDesktop{};
        scaleArgument.clear();
    }
    void cleanup() { place.release(); }

    void initialisationOpensInstallsBuildsAndResets()
    {
        engine.settings.inputDevice = 4;  // no such device: its box shows while the status is still unset
        MainWindow window(engine, desktop);
        QCOMPARE(window.windowTitle(), QString("Vanto"));
        QCOMPARE(reporter.shown.size(), size_t{1});
        QCOMPARE(reporter.shown[0].text, std::string(InputDeviceError));
        QCOMPARE(reporter.statusAtMessage, QStringList{"No scale loaded."});
        QCOMPARE(status(window), QString("12 tone equal temperament"));
        // Opening: All Notes Off and the range; the initialisation's reset: All Notes Off again.
        QCOMPARE(sent().size(), size_t{15 * 8});
        for (int i = 0; i < 15; ++i) {
            QCOMPARE(sent()[i].data1, uint8_t{123});
            QCOMPARE(sent()[15 * 7 + i].data1, uint8_t{123});
        }
        QCOMPARE(engine.tuningTable.outputKey[61], uint8_t{61});
    }

    void commandLineScaleLoadsOrShowsItsError()
    {
        scaleArgument = scaleFile("my just scale.txt", "name Just\ndegrees 2\n1 j3/2\n2 j2\n");
        {
            MainWindow window(engine, desktop);
            QCOMPARE(status(window), QString("Just"));
            QVERIFY(reporter.shown.empty());
        }
        engine.closePorts();
        reporter = StatusReporter{};
        scaleArgument = scaleFile("bad.txt", "1 j0/5\n");
        MainWindow window(engine, desktop);
        QCOMPARE(shown(), QStringList{"Error Loading Scale: Negative just intervals do not exist.\nLine 1: 1 j0/5"});
        QCOMPARE(reporter.shown[0].icon, MessageIcon::Warning);
        QCOMPARE(status(window), QString("12 tone equal temperament"));
    }

    void loadScaleThroughButtonAndMenuAlike()
    {
        MainWindow window(engine, desktop);
        const QString a = QString::fromStdString(scaleFile("a.txt", "name Scale A\n7 j3:2\n"));
        const QString b = QString::fromStdString(scaleFile("b.txt", "name Scale B\ndegrees 3\n3 r2\n"));
        desktop.answers = {a, b};
        clearLog();
        press(&window, "loadScaleButton");
        QCOMPARE(status(window), QString::fromUtf8("Line 2: '3:2' was read as 3 \u2014 did you mean j3/2?  |  Scale A"));
        QCOMPARE(sent().size(), size_t{15});  // the channel reset
        clearLog();
        action(window, "loadScaleAction")->trigger();
        QCOMPARE(status(window), QString("Scale B"));
        QCOMPARE(sent().size(), size_t{15});
        QCOMPARE(engine.tuningTable.bendGroup[63], uint8_t{0});
        QVERIFY(desktop.asked == (std::vector<Desktop::Files>{Desktop::Files::Scale, Desktop::Files::Scale}));
        clearLog();
        press(&window, "loadScaleButton");  // cancelled chooser
        QVERIFY(sent().empty());
        QCOMPARE(status(window), QString("Scale B"));
    }

    void keyboardMappingsLoadWithTheirScaleReplaceAndClear()
    {
        scaleArgument = scaleFile("pelog.SCL", "Pelog\n2\n3/2\n2/1\n");
        scaleFile("pelog.kbm", "2\n0\n127\n60\n60\n261.6255653\n2\n0\nx\n");
        MainWindow window(engine, desktop);
        QCOMPARE(status(window), QString("Pelog  |  pelog.kbm"));
        QVERIFY(engine.tuningTable.unmapped[61]);
        desktop.answers = {QString::fromStdString(scaleFile("bad.kbm", "0\n0\n127\n60\n")),
                           QString::fromStdString(scaleFile("linear.kbm", "0\n0\n127\n60\n69\n440\n0\n"))};
        clearLog();
        action(window, "loadMappingAction")->trigger();
        QCOMPARE(shown(), QStringList{"Error Loading Keyboard Mapping: Line 5: The reference key is missing."});
        QVERIFY(sent().empty());
        action(window, "loadMappingAction")->trigger();
        QCOMPARE(status(window), QString("Pelog  |  linear.kbm"));
        QVERIFY(!engine.tuningTable.unmapped[61]);
        QCOMPARE(sent().size(), size_t{15});  // the channel reset
        QVERIFY(desktop.asked == (std::vector<Desktop::Files>{Desktop::Files::Mapping, Desktop::Files::Mapping}));
        action(window, "clearMappingAction")->trigger();
        QCOMPARE(status(window), QString("Pelog"));
        QCOMPARE(engine.currentPitch, engine.scale.pitch);
    }

    // The scale and mapping loaded last are loaded again at a start without
    // a scale argument; one that no longer loads leaves the default playing.
    void theTuningInForceComesBackAtTheNextStart()
    {
        const char* restart[] = {"vanto"};
        scaleArgument = scaleFile("pelog.scl", "Pelog\n2\n3/2\n2/1\n");
        {
            MainWindow window(engine, desktop);
            desktop.answers = {QString::fromStdString(scaleFile("linear.kbm", "0\n0\n127\n60\n69\n440\n0\n"))};
            action(window, "loadMappingAction")->trigger();
        }
        startUp(engine, 1, restart);
        {
            MainWindow window(engine, desktop);
            QCOMPARE(status(window), QString("Pelog  |  linear.kbm"));
        }
        scaleFile("pelog.scl", "Pelog\n2\n-3/2\n2/1\n");
        startUp(engine, 1, restart);
        MainWindow window(engine, desktop);
        QCOMPARE(reporter.shown.size(), size_t{1});
        QCOMPARE(reporter.shown[0].title, std::string("Error Loading Scale"));
        QCOMPARE(status(window), QString("12 tone equal temperament"));
    }

    void failedLoadScaleLeavesEverythingAsItWas()
    {
        MainWindow window(engine, desktop);
        play(engine, "+64");
        const TuningTable table = engine.tuningTable;
        const NoteAllocation allocation = engine.noteAllocation;
        desktop.answers = {QString::fromStdString(scaleFile("bad.txt", "name Broken\n5\n"))};
        clearLog();
        action(window, "loadScaleAction")->trigger();
        QCOMPARE(shown(), QStringList{"Error Loading Scale: Unrecognised degree type.\nLine 2: 5"});
        QCOMPARE(status(window), QString("12 tone equal temperament"));
        QVERIFY(std::memcmp(&table, &engine.tuningTable, sizeof table) == 0);
        QVERIFY(std::memcmp(allocation.keyChannel, engine.noteAllocation.keyChannel, sizeof allocation.keyChannel) == 0);
        QVERIFY(sent().empty());
    }

    void setupDialogsOpenFromButtonsAndMenus()
    {
        MainWindow window(engine, desktop);
        struct Route {
            const char* button;
            const char* action;
            const char* title;
        };
        for (const Route& route : {Route{"midiSetupButton", "midiSetupAction", "Midi Setup"},
                                   Route{"commandSetupButton", "commandSetupAction", "Command Setup"}}) {
            for (int viaMenu = 0; viaMenu < 2; ++viaMenu) {
                QString seen;
                whenModalOpens([&](QWidget* dialog) {
                    seen = dialog->windowTitle();
                    press(dialog, "okButton");
                });
                if (viaMenu)
                    action(window, route.action)->trigger();
                else
                    press(&window, route.button);
                QCOMPARE(seen, QString(route.title));
                QVERIFY(place.configSaved());
                QFile::remove(place.path("vanto.cfg"));
            }
        }
    }

    void messageSendsTheEditedEventOnceAndNeedsAnOutput()
    {
        MainWindow window(engine, desktop);
        clearLog();
        whenModalOpens([](QWidget* editor) {
            QCOMPARE(editor->windowTitle(), QString("Event Editor"));
            child<QComboBox>(editor, "typeList")->setCurrentIndex(16);  // Reset
            child<QComboBox>(editor, "channelList")->setCurrentIndex(4);
            press(editor, "okButton");
        });
        action(window, "messageAction")->trigger();
        QCOMPARE(sent(), (std::vector<ShortMessage>{{0xFF, 0, 0}}));
        QCOMPARE(engine.settings.initEventCount, 0);

        engine.closePorts();
        bool editorOpened = false;
        whenModalOpens([&](QWidget* dialog) {
            editorOpened = true;
            dialog->close();
        });
        action(window, "messageAction")->trigger();
        QCoreApplication::processEvents();
        QVERIFY(!editorOpened);
        QCOMPARE(shown(), QStringList{"Error: No MIDI device is\nopen for output."});
        QCOMPARE(reporter.shown[0].icon, MessageIcon::Warning);
    }

    void loadConfigReopensWithTheNewDevices()
    {
        place.system->outputs = {"Synth A", "Synth B"};
        MainWindow window(engine, desktop);
        Settings other = engine.settings;
        other.outputDevice = 1;
        other.referenceFrequency = 442.0;
        const Settings kept = engine.settings;
        engine.settings = other;
        const std::string path = place.path("other.cfg").toStdString();
        QCOMPARE(engine.saveConfig(path.c_str()), 0);
        engine.settings = kept;
        desktop.answers = {place.path("missing.cfg"), QString::fromStdString(path)};
        clearLog();
        action(window, "loadConfigAction")->trigger();
        QCOMPARE(shown(), QStringList{"Error Loading Configuration: File not found."});
        QCOMPARE(engine.settings.outputDevice, -1);
        QVERIFY(place.system->log.events.empty());
        action(window, "loadConfigAction")->trigger();
        QCOMPARE(engine.settings.outputDevice, 1);
        QCOMPARE(engine.tuningTable.instrumentFrequency[69], 442.0);
        QCOMPARE(place.system->log.events.back(), std::string("open output 1"));
        QCOMPARE(place.system->log.events.front(), std::string("reset"));
        QCOMPARE(sent().size(), size_t{15 * 7});
        QCOMPARE(status(window), QString("12 tone equal temperament"));
        // The guide is no configuration: refused, nothing changes.
        desktop.answers = {QString::fromStdString(scaleFile("vanto.txt", std::string(3000, 'x').c_str()))};
        clearLog();
        action(window, "loadConfigAction")->trigger();
        QCOMPARE(reporter.shown.size(), size_t{1});
        QVERIFY(QString::fromStdString(reporter.shown[0].text).startsWith("This is not a Vanto configuration file"));
        QCOMPARE(engine.settings.outputDevice, 1);
        QVERIFY(place.system->log.events.empty());
    }

    void aDamagedConfigurationIsIgnoredAtStartUp()
    {
        scaleFile("vanto.cfg", std::string(3000, 'x').c_str());
        startUp(engine, 1, std::vector<const char*>{"vanto"}.data());
        MainWindow window(engine, desktop);
        QCOMPARE(engine.settings.pitchWheelRange, uint8_t{2});
        QVERIFY(child<QLabel>(&window, "statusLine")->toolTip().startsWith("\"vanto.cfg\" was ignored: This is not"));
        QVERIFY(child<QLabel>(&window, "statusLine")->toolTip().endsWith("|  12 tone equal temperament"));
        configNotice.clear();
    }

    void saveConfigReportsAFolderThatCannotBeWritten()
    {
        MainWindow window(engine, desktop);
        desktop.answers = {place.path("no/such/folder/x.cfg"), place.path("saved.cfg")};
        action(window, "saveConfigAction")->trigger();
        QCOMPARE(shown(), QStringList{"Error Saving Configuration: Could not open file.          "});
        action(window, "saveConfigAction")->trigger();
        // The original record and a block naming the keyboard that opened.
        QCOMPARE(readBytes(place.path("saved.cfg").toStdString()).size(), size_t{143 + 10 + 4 + std::strlen("Keyboard")});
        QVERIFY(desktop.asked.back() == Desktop::Files::Config);
    }

    // The dump goes into a file whole, or says why not; and to the output.
    void tuningDumpsAreExportedAndSent()
    {
        MainWindow window(engine, desktop);
        desktop.answers = {place.path("no/such/folder/x.syx"), place.path("equal.syx")};
        action(window, "exportTuningDumpAction")->trigger();
        QCOMPARE(shown(), QStringList{"Error Exporting Tuning Dump: The tuning dump could not be written: "
                                      "No such file or directory"});
        action(window, "exportTuningDumpAction")->trigger();
        QCOMPARE(readBytes(place.path("equal.syx").toStdString()).size(), size_t{408});
        QVERIFY(desktop.asked.back() == Desktop::Files::TuningDump);
        clearLog();
        action(window, "sendTuningDumpAction")->trigger();
        QCOMPARE(place.system->log.output.longMessages.size(), size_t{1});
        QCOMPARE(place.system->log.output.longMessages[0].size(), size_t{408});
    }

    void aboutAndHelp()
    {
        MainWindow window(engine, desktop);
        action(window, "aboutAction")->trigger();
        QCOMPARE(reporter.shown.at(0).icon, MessageIcon::Program);
        action(window, "helpAction")->trigger();
        QCOMPARE(desktop.opened, QStringList{"vanto.txt"});
        QVERIFY(!window.findChild<QWidget*>("guideWindow"));
        // A desktop that cannot open it: the guide comes up in a window of ours.
        QFile guide("vanto.txt");
        QVERIFY(guide.open(QIODevice::WriteOnly));
        guide.write("1. CONNECTING\nthe sustain pedal\n2. SCALES\n");
        guide.close();
        desktop.canOpen = false;
        action(window, "helpAction")->trigger();
        auto* shown = static_cast<GuideWindow*>(window.findChild<QWidget*>("guideWindow"));
        QVERIFY(shown);
        child<QLineEdit>(shown, "guideSearch")->setText("pedal");
        QVERIFY(shown->findNext());
        QCOMPARE(child<QPlainTextEdit>(shown, "guideText")->textCursor().selectedText(), QString("pedal"));
        auto* notFound = shown->findChild<QLabel*>();  // its only label
        QVERIFY(!notFound->isVisibleTo(shown));
        child<QLineEdit>(shown, "guideSearch")->setText("glissando");
        QVERIFY(!shown->findNext());
        QVERIFY(notFound->isVisibleTo(shown));
    }

    // Control Bars and Last Key open at most once; closing with Control Bars
    // open saves the configuration, exiting with Last Key open does not.
    void modelessWindowsOpenOnceAndControlBarsSaveOnClosing()
    {
        {
            MainWindow window(engine, desktop);
            for (const char* name : {"controlBarsAction", "controlBarsAction", "lastKeyAction", "lastKeyAction"})
                action(window, name)->trigger();
            int bars = 0, keys = 0;
            for (QWidget* w : QApplication::topLevelWidgets()) {
                bars += w->objectName() == "controlBarsWindow";
                keys += w->objectName() == "lastKeyWindow";
            }
            QCOMPARE(bars, 1);
            QCOMPARE(keys, 1);
            QVERIFY(reporter.shown.empty());
            window.close();
            QCOMPARE(controlBarsOpen, 0);
            QCOMPARE(lastKeyOpen, 0);
            QVERIFY(place.configSaved());
            QCOMPARE(engine.midiPorts.inputOpen, 0);
            QCOMPARE(engine.midiPorts.outputOpen, 0);
        }
        place.reset();
        messageReporterOverride = &reporter;
        MainWindow window(engine, desktop);
        action(window, "lastKeyAction")->trigger();
        action(window, "exitAction")->trigger();
        QVERIFY(!place.configSaved());
        QCOMPARE(lastKeyOpen, 0);
        QCOMPARE(engine.midiPorts.outputOpen, 0);
        QCOMPARE(place.system->log.events.back(), std::string("close output"));
    }

    void theWindowRemembersItsSize()
    {
        QSize wanted;
        {
            MainWindow window(engine, desktop);
            window.show();
            window.resize(window.size() + QSize(200, 60));
            QCoreApplication::processEvents();
            wanted = window.size();
            window.close();
        }
        QVERIFY(place.configSaved());
        QCOMPARE(QSize(engine.settings.windowWidth, engine.settings.windowHeight), wanted);
        MainWindow again(engine, desktop);
        QCOMPARE(again.size(), wanted);
    }

    void theRouteIsShownAndAllNotesOffEndsEverything()
    {
        MainWindow window(engine, desktop);
        QCOMPARE(child<QLabel>(&window, "routeLine")->toolTip(), QString::fromUtf8("Keyboard \u2192 Vanto \u2192 Vanto Out"));
        clearLog();
        action(window, "allNotesOffAction")->trigger();
        QCOMPARE(sent().size(), size_t{16 * 3});
    }

    // A folder where the file belongs: the save fails, and the last box says so.
    void aSaveThatFailsIsSaid()
    {
        QVERIFY(QDir().mkpath("vanto.cfg.saving"));
        MainWindow window(engine, desktop);
        action(window, "controlBarsAction")->trigger();
        window.close();
        QCOMPARE(reporter.shown.size(), size_t{1});
        QCOMPARE(reporter.shown[0].text, std::string("Settings could not be saved: Is a directory"));
        saveSettings(engine);
        QCOMPARE(settingsSaveProblem(), std::string());
    }

    void longNamesAreCutAtTheirEnd()
    {
        scaleArgument = scaleFile("long.txt", ("name " + std::string(90, 'x') + " end\n").c_str());
        MainWindow window(engine, desktop);
        window.show();
        const QString whole = QString(90, 'x') + " end";
        QCOMPARE(child<QLabel>(&window, "statusLine")->toolTip(), whole);
        QVERIFY(status(window).startsWith("xxx"));
        QVERIFY(status(window).endsWith(QChar(0x2026)));
    }

    void anAwaitedKeyboardShowsInTheStatusLineUntilItComes()
    {
        std::strcpy(engine.settings.inputDeviceName, "Late Keyboard");
        MainWindow window(engine, desktop);
        QCOMPARE(child<QLabel>(&window, "statusLine")->toolTip(), QString("Waiting for Late Keyboard  |  12 tone equal temperament"));
        place.system->inputs = {"Late Keyboard"};
        QTRY_COMPARE_WITH_TIMEOUT(status(window), QString("12 tone equal temperament"), 3000);
        QCOMPARE(engine.midiPorts.inputOpen, 1);
    }
};

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
