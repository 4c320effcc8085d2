// The keyboard view: colours, marks and tips from the scale in force,
// lighting that follows the notes and pedals, and a bounded redraw rate.

#include <QtTest>

#include <atomic>
#include <thread>

#include "app/keyboard_view.h"
#include "engine/input_dispatch.h"
#include "support/gesture.h"
#include "support/qt_test_support.h"

class KeyboardViewTest : public QObject {
    Q_OBJECT

    QtTestPlace place;
    Engine& engine = place.engine;

    void load(const char* scale, const char* mapping)
    {
        QCOMPARE(engine.loadScale(scale), std::string());
        QCOMPARE(engine.loadKeyboardMapping(mapping), std::string());
        EngineLock lock(engine.engineMutex);
        engine.buildTuningTable();
    }

private slots:
    void init() { place.reset(); }
    void cleanup() { place.release(); }

    // 7-limit just on the white keys, degree 0 on middle C.
    void coloursMarksAndTipsFollowTheScale()
    {
        engine.settings.commandKey = 36;
        load(VANTO_SOURCE_DIR "/scales/7-limit just.scl", VANTO_SOURCE_DIR "/scales/white keys.kbm");
        KeyboardView view(engine);
        view.resize(750, 90);
        QCOMPARE(view.tipOf(61), QString("Key 61\nSilent: the keyboard mapping leaves it out"));
        QCOMPARE(view.colourOf(61), view.palette().color(QPalette::Window).darker(115));
        const QStringList centre = view.tipOf(60).split('\n');
        QCOMPARE(centre.value(1), QString("Degree 0, period 0"));
        QCOMPARE(centre.value(2), QString("261.625565 Hz"));
        QCOMPARE(centre.value(4), QString("Output key 60, bend 8192"));
        // Twelve white keys up, the mapping (seven degrees a repeat) reaches degree 12.
        QVERIFY(view.tipOf(81).contains("Degree 0, period 1"));
        QCOMPARE(view.colourOf(81), view.colourOf(60));
        QVERIFY(view.colourOf(62) != view.colourOf(60));
        QVERIFY(view.tipOf(36).contains("Command key: Command / Modulate"));
        // The third white key: degree 2, 8/7, 31.17 cents above 12-tone D.
        QVERIFY2(view.tipOf(64).contains("Degree 2, period 0\n299.000646 Hz\n+31.17 cents from 12-tone key 62"),
                 qPrintable(view.tipOf(64)));
        QCOMPARE(view.indexAt(view.keyRect(61).center()), 61);
        QCOMPARE(view.indexAt(view.keyRect(60).center()), 60);
    }

    void keysLightWhileTheySoundAndWhileThePedalHoldsThem()
    {
        KeyboardView view(engine);
        play(engine, "+60 +64 +67");
        QVERIFY(view.refresh());
        QVERIFY(view.tipOf(64).endsWith(QString("Sounding on channel %1").arg(engine.noteAllocation.keyChannel[64])));
        play(engine, "S -64 -67");
        view.refresh();
        QVERIFY(view.tipOf(64).contains("Held by the pedal on channel"));
        QVERIFY(view.tipOf(60).contains("Sounding"));
        play(engine, "s");
        view.refresh();
        QVERIFY(!view.tipOf(64).contains("Held") && !view.tipOf(64).contains("Sounding"));
        QVERIFY2(!view.refresh(), "nothing changed: no snapshot");
    }

    void aCtrlClickPlaysTheKeyUnlessTheInputHoldsIt()
    {
        KeyboardView view(engine);
        view.resize(750, 90);
        engine.settings.inputChannel = 4;
        QTest::mousePress(&view, Qt::LeftButton, Qt::ControlModifier, view.keyRect(62).center());
        QVERIFY(engine.noteAllocation.keyChannel[62] != 0);
        QCOMPARE(engine.noteAllocation.lastChannel, uint8_t{4});  // where the keyboard would play it
        QVERIFY(view.tipOf(62).contains("Sounding"));
        QTest::mouseRelease(&view, Qt::LeftButton, Qt::ControlModifier, view.keyRect(62).center());
        QCOMPARE(engine.noteAllocation.keyChannel[62], uint8_t{0});
        engine.settings.inputChannel = AllChannels;
        play(engine, "+65");
        QVERIFY2(!engine.auditionKey(65, true), "the input plays it");
        QVERIFY(!engine.auditionKey(-1, true) && !engine.auditionKey(128, true));
        // On a board of 31 keys a channel, index 200 is key 107 on channel 4.
        engine.settings.keyLayout = KeyLayoutChannelOffset;
        engine.settings.keysPerChannel = 31;
        QVERIFY(engine.auditionKey(200, true));
        QVERIFY(engine.noteAllocation.keyChannel[3 * 128 + 107] != 0);
    }

    // 1,000 notes within a second from the input thread.
    void aBusyInputRedrawsAtMostThirtyTimesASecond()
    {
        KeyboardView view(engine);
        std::atomic<bool> done{false};
        const int before = view.snapshotsTaken();
        std::thread input([this, &done] {
            for (int n = 0; n < 1000; ++n) {
                const uint8_t key = static_cast<uint8_t>(40 + n % 40);
                engine.handleMidiInput(nullptr, MimData, 0, packShortMessage(n % 2 ? 0x80 : 0x90, 0, key, 100), 0);
                std::this_thread::sleep_for(std::chrono::microseconds(950));
            }
            done = true;
        });
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 1000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        const int taken = view.snapshotsTaken() - before;
        input.join();
        QVERIFY2(taken <= KeyboardView::RefreshesPerSecond, qPrintable(QString::number(taken)));
        QVERIFY2(taken >= 10, qPrintable(QString::number(taken)));
    }
};

QTEST_MAIN(KeyboardViewTest)
#include "keyboard_view_test.moc"
