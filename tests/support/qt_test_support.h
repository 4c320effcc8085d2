#pragma once
// Shared by the Qt tests: a scratch current directory, engine records back
// at their start, and a way to act on the modal dialog a call opens.

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <clocale>
#include <functional>

#include "dialogs/dialog_fields.h"
#include "engine/midi_system.h"
#include "engine/port_opening.h"
#include "support/engine_fixture.h"
#include "support/fake_midi_system.h"

// Runs act on the next modal dialog once it is up; act must close it.
inline void whenModalOpens(std::function<void(QWidget*)> act)
{
    QTimer::singleShot(0, [act] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal)
            act(modal);
    });
}

template <typename T>
T* child(QWidget* parent, const char* name)
{
    T* found = parent->findChild<T*>(name);
    if (!found)
        qFatal("no child named %s", name);
    return found;
}

inline void setField(QWidget* parent, const char* name, const QString& text)
{
    child<QLineEdit>(parent, name)->setText(text);
}

inline void press(QWidget* parent, const char* name)
{
    child<QPushButton>(parent, name)->click();
}

// A scratch directory as the current directory, and an engine on a fake MIDI
// system with a recording reporter, for the life of one test case.
class QtTestPlace {
public:
    QtTestPlace()
    {
        std::setlocale(LC_NUMERIC, "C");
        previous_ = QDir::currentPath();
        QDir::setCurrent(dir_.path());
    }
    ~QtTestPlace() { QDir::setCurrent(previous_); }

    void reset()
    {
        engine.closePorts();  // while the devices' system still exists
        QDir(dir_.path()).removeRecursively();
        QDir().mkpath(dir_.path());
        QDir::setCurrent(dir_.path());
        resetEngineRecords(engine);
        engine.buildInstrumentFrequencies();
        engine.setDefaultScale();
        engine.buildTuningTable();
        system = std::make_unique<FakeMidiSystem>();
        engine.midiSystem = system.get();
        reporter = RecordingReporter{};
        messageReporterOverride = &reporter;
    }
    // Closes the devices and lets go of this place's system and reporter.
    void release()
    {
        engine.closePorts();
        messageReporterOverride = nullptr;
        engine.midiSystem = nullptr;
    }
    bool configSaved() const { return QFile::exists(dir_.filePath("vanto.cfg")); }
    QString path(const QString& name) const { return dir_.filePath(name); }

    std::unique_ptr<FakeMidiSystem> system;
    RecordingReporter reporter;
    // After the system: it closes its devices while the system still exists.
    Engine engine;

private:
    QTemporaryDir dir_;
    QString previous_;
};
