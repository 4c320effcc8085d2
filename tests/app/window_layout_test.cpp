// Every window, drawn offscreen (and, run a second time, at twice the
// scale): no label, button or check box may be narrower than its text
// needs. The drawings are kept in the build folder; with VANTO_DOCS_DIR set,
// those at 1x also become the pictures of the documentation:
//   VANTO_DOCS_DIR=docs QT_QPA_PLATFORM=offscreen build/release/tests/vanto_window_layout_tests

#include <QAbstractButton>
#include <QDir>
#include <QLabel>
#include <QListWidget>
#include <QtTest>

#include "app/keyboard_view.h"
#include "app/main_window.h"
#include "app/startup.h"
#include "dialogs/channels_window.h"
#include "dialogs/command_setup_dialog.h"
#include "dialogs/control_bars_window.h"
#include "dialogs/event_editor.h"
#include "dialogs/guide_window.h"
#include "dialogs/last_key_window.h"
#include "dialogs/midi_setup_dialog.h"
#include "engine/port_opening.h"
#include "support/gesture.h"
#include "support/qt_test_support.h"

namespace {

class QuietDesktop : public Desktop {
public:
    QString chooseFileToOpen(QWidget*, Files) override { return {}; }
    QString chooseFileToSave(QWidget*, Files) override { return {}; }
    bool openDocument(const QString&) override { return true; }
};

// The widgets whose text would be cut: narrower than their size hint,
// which is what their text needs.
QStringList clippedTexts(QWidget* window)
{
    QStringList clipped;
    for (QWidget* w : window->findChildren<QWidget*>()) {
        if (!w->isVisibleTo(window))
            continue;
        QString text;
        if (auto* label = qobject_cast<QLabel*>(w); label && !label->wordWrap())
            text = label->text();
        else if (auto* button = qobject_cast<QAbstractButton*>(w))
            text = button->text();
        if (!text.isEmpty() && w->width() < w->sizeHint().width())
            clipped << QString("\"%1\" is %2 wide, needs %3").arg(text).arg(w->width()).arg(w->sizeHint().width());
    }
    return clipped;
}

}  // namespace

class WindowLayoutTest : public QObject {
    Q_OBJECT

private:
    QtTestPlace place;
    Engine& engine = place.engine;
    QuietDesktop desktop;

    void check(QWidget& window, const QString& name, bool documented = true)
    {
        window.show();
        window.adjustSize();
        QCoreApplication::processEvents();
        const QStringList clipped = clippedTexts(&window);
        QVERIFY2(clipped.isEmpty(), qPrintable(name + ": " + clipped.join("; ")));
        const QString scale = qEnvironmentVariable("QT_SCALE_FACTOR", "1");
        const QPixmap picture = window.grab();
        picture.save(QDir(VANTO_SCREENSHOT_DIR).filePath(QString("%1-%2x.png").arg(name, scale)));
        const QString docs = qEnvironmentVariable("VANTO_DOCS_DIR");
        if (!docs.isEmpty() && scale == "1" && documented)
            picture.save(QDir(docs).filePath(name + ".png"));
        window.hide();
    }

private slots:
    // What the pictures show: a keyboard and synthesizers to choose from,
    // command keys, an init message, a scale.
    void init()
    {
        place.reset();
        QDir().mkpath(VANTO_SCREENSHOT_DIR);
        place.system->inputs = {"USB Keyboard:MIDI 1", "Sequencer:out"};
        place.system->outputs = {"FLUID Synth:midi_00", "Hardware Synth:in"};
        engine.settings.commandKey = 36;
        engine.settings.demodulateKey = 37;
        engine.settings.resetPitchKey = 38;
        engine.settings.initMessageKey = 39;
        engine.settings.initEventCount = 3;
        engine.settings.initMessage[0] = {0xC0, 16, 19, 0};
        engine.settings.initMessage[1] = {0xB0, 16, 7, 100};
        engine.settings.initMessage[2] = {0xB0, 16, 91, 40};
        scaleArgument = VANTO_SOURCE_DIR "/scales/just major.txt";
    }
    void cleanup() { place.release(); }

    void everyWindowHasRoomForItsTexts()
    {
        MainWindow window(engine, desktop);
        play(engine, "+60 +64 +67 +71 S -71");
        static_cast<KeyboardView*>(window.findChild<QWidget*>("keyboardView"))->refresh();
        check(window, "main-window");
        MidiSetupDialog midiSetup(engine, &window);
        check(midiSetup, "midi-setup");
        CommandSetupDialog commandSetup(engine, &window);
        commandSetup.findChild<QListWidget*>("initMessageList")->setCurrentRow(1);
        check(commandSetup, "command-setup");
        InitEvent event{0xB0, 16, 7, 100};
        EventEditor editor(event, EditorMode::Edit, &window);
        check(editor, "event-editor");
        ControlBarsWindow bars(engine);
        check(bars, "control-bars");
        LastKeyWindow lastKey(engine);
        check(lastKey, "last-key");
        ChannelsWindow channels(engine);
        check(channels, "channels");
        GuideWindow guide("missing.txt");
        check(guide, "guide", false);
    }

    // Marks and signs drawn in the window's text colour stand out from every
    // key's colour, in a light and in a dark theme.
    void theKeyboardViewReadsInLightAndDarkThemes()
    {
        const QPalette light = QApplication::palette();
        QPalette dark(QColor(0x35, 0x35, 0x35), QColor(0x2b, 0x2b, 0x2b));
        dark.setColor(QPalette::WindowText, QColor(0xee, 0xee, 0xee));
        dark.setColor(QPalette::Text, QColor(0xee, 0xee, 0xee));
        dark.setColor(QPalette::ButtonText, QColor(0xee, 0xee, 0xee));
        dark.setColor(QPalette::Highlight, QColor(0x2a, 0x82, 0xda));
        for (const QPalette& palette : {light, dark}) {
            QApplication::setPalette(palette);
            MainWindow window(engine, desktop);
            play(engine, "+60 +64 +67 S -67");
            auto* view = static_cast<KeyboardView*>(window.findChild<QWidget*>("keyboardView"));
            view->refresh();
            const int text = palette.color(QPalette::WindowText).lightness();
            for (int key = 0; key < 128; ++key)
                QVERIFY2(std::abs(view->colourOf(key).lightness() - text) >= 80, qPrintable(QString::number(key)));
            check(window, &palette == &light ? "main-window-light" : "main-window-dark", &palette != &light);
        }
        QApplication::setPalette(light);
    }

    void midiSetupWithoutAServiceHasRoomToo()
    {
        place.system->inputs.clear();
        place.system->outputs.clear();
        place.system->service = false;
        MidiSetupDialog dialog(engine);
        check(dialog, "midi-setup-no-service", false);
    }
};

QTEST_MAIN(WindowLayoutTest)
#include "window_layout_test.moc"
