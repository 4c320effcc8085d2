#pragma once
// "Midi Setup": devices, channels in use, relay switches, pitch-wheel range,
// input channel, instrument tuning and the release time.

#include <QDialog>

#include <string>
#include <vector>

#include "engine/engine.h"
#include "dialogs/dialog_fields.h"
#include "engine/settings.h"

class QCheckBox;
class QComboBox;
class QFormLayout;
class QLabel;
class QListWidget;

inline constexpr const char* NoMidiServiceText =
    "No MIDI service is running: start JACK, PipeWire or the ALSA sequencer, then open Midi Setup again.";

class MidiSetupDialog : public QDialog {
public:
    explicit MidiSetupDialog(Engine& engine, QWidget* parent = nullptr);

    // OK: stores every control, rebuilds the tuning when its reference
    // changed, reopens both devices and saves "vanto.cfg".
    void accept() override;

private:
    Engine& engine_;
    void buildControls();
    void fillFromSettings(const Settings& s);
    // Shows the fields of the output mode chosen, and no other's.
    void showModeFields();
    void showLayoutFields();
    bool storeSettings() NEEDS_ENGINE_LOCK_OF(engine_);  // true when the tuning reference changed

    QLabel* noService_;
    QListWidget* inputList_;
    QListWidget* outputList_;
    QCheckBox* useChannel_[16];
    QListWidget* relayList_;
    QLineEdit* pitchWheelRange_;
    QComboBox* inputChannel_;
    QLineEdit* frequency_;
    QLineEdit* midiNote_;
    QLineEdit* releaseTime_;
    QComboBox* outputMode_;
    QLineEdit* mpeBendRange_;
    QLineEdit* deviceId_;
    QLineEdit* tuningProgram_;
    QComboBox* pitchWheelUse_;
    QLineEdit* playerBendRange_;
    QCheckBox* mpeController_;
    QComboBox* keyLayout_;
    QLineEdit* keysPerChannel_;
    QLabel* layoutHint_;
    QFormLayout* layoutFields_;
    QLineEdit* inputBendRange_;
    QFormLayout* modeFields_;
    // The devices listed, and the rows of remembered devices that are absent.
    std::vector<std::string> inputNames_;
    std::vector<std::string> outputNames_;
    int absentInputRow_ = -1;
    int absentOutputRow_ = -1;
    WidgetMessageReporter reporter_{this};
};
