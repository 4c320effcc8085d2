#include "dialogs/midi_setup_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdlib>

#include "dialogs/setting_names.h"
#include "engine/config_file.h"
#include "engine/device_names.h"
#include "engine/engine_lock.h"
#include "engine/midi_system.h"
#include "engine/port_opening.h"
#include "engine/settings.h"
#include "engine/tuning_table.h"

namespace {

constexpr uint32_t MaxMidiNote = 127;
constexpr int FrequencyTextLength = 19;

QWidget* captioned(const char* caption, QWidget* control)
{
    auto* box = new QWidget;
    auto* layout = new QVBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(new QLabel(caption));
    layout->addWidget(control);
    return box;
}

// Stores a digit field's number, limited to limit, when it holds one; a
// stored value above the limit is limited either way. True when the stored
// value changed.
bool storeLimited(const QLineEdit* field, uint32_t limit, uint8_t& stored)
{
    const uint8_t before = stored;
    uint32_t value = 0;
    if (readUnsignedField(field, value))
        stored = static_cast<uint8_t>(std::min(value, limit));
    if (stored > limit)
        stored = static_cast<uint8_t>(limit);
    return stored != before;
}

// Lists names after the rows already there (offset of them) and selects the
// remembered device: by name where one is remembered, else by position. A
// remembered device that is not there gets a row of its own, so that OK
// keeps it; its row is returned, -1 when there is none.
int fillDeviceList(QListWidget* list, const std::vector<std::string>& names, int offset, int32_t position,
                   const char* name)
{
    for (const std::string& n : names)
        list->addItem(QString::fromStdString(n));
    if (name[0] == '\0') {
        list->setCurrentRow(std::clamp(position, -1, MaxDeviceNumber) + offset);
        return -1;
    }
    if (const auto found = findDeviceNamed(name, names)) {
        list->setCurrentRow(*found + offset);
        return -1;
    }
    list->addItem(QString::fromStdString(name) + " (not connected)");
    list->setCurrentRow(list->count() - 1);
    return list->count() - 1;
}

// What the chosen row means: a listed device (by position and name), the
// row before the devices (offset 1: "Midi Mapper"), or the absent device,
// which stays as it is remembered.
void storeDevice(int row, int absentRow, int offset, const std::vector<std::string>& names, int32_t& position,
                 char (&name)[MaxDeviceNameLength + 1])
{
    if (row == absentRow && row >= 0)
        return;
    position = row - offset;
    copyDeviceName(name, position, names);
}

}  // namespace

MidiSetupDialog::MidiSetupDialog(Engine& engine, QWidget* parent) : QDialog(parent), engine_(engine)
{
    setWindowTitle("Midi Setup");
    setObjectName("midiSetupDialog");
    buildControls();
    fillFromSettings(engine_.currentSettings());
}

void MidiSetupDialog::buildControls()
{
    inputList_ = new QListWidget;
    inputList_->setObjectName("inputDeviceList");
    outputList_ = new QListWidget;
    outputList_->setObjectName("outputDeviceList");
    noService_ = new QLabel(NoMidiServiceText);
    noService_->setObjectName("noServiceLabel");
    noService_->setWordWrap(true);
    noService_->hide();
    auto* devices = new QHBoxLayout;
    devices->addWidget(captioned("Midi Input Device", inputList_));
    devices->addWidget(captioned("Midi Output Device", outputList_));

    auto* channels = new QGridLayout;
    channels->addWidget(new QLabel("Use Channels:"), 0, 0);
    for (int c = 0; c < 16; ++c) {
        useChannel_[c] = new QCheckBox;
        useChannel_[c]->setObjectName(QString("useChannel%1").arg(c + 1));
        channels->addWidget(useChannel_[c], 0, c + 1, Qt::AlignHCenter);
        channels->addWidget(new QLabel(QString::number(c + 1)), 1, c + 1, Qt::AlignHCenter);
    }

    pitchWheelRange_ = makeDigitField(this, "pitchWheelRangeField");
    inputChannel_ = new QComboBox;
    inputChannel_->setObjectName("inputChannelList");
    frequency_ = new QLineEdit;
    frequency_->setObjectName("frequencyField");
    frequency_->setMaxLength(FrequencyTextLength);
    midiNote_ = makeDigitField(this, "midiNoteField");
    auto* tuning = new QGroupBox("Instrument Tuning");
    auto* tuningLayout = new QFormLayout(tuning);
    tuningLayout->addRow("Frequency:", frequency_);
    tuningLayout->addRow("MIDI Note:", midiNote_);
    releaseTime_ = makeDigitField(this, "releaseTimeField");
    releaseTime_->setMaxLength(5);
    releaseTime_->setToolTip("How long a released note's tail is spared from a new pitch bend (0 = off)");
    keyLayout_ = new QComboBox;
    keyLayout_->setObjectName("keyLayoutList");
    for (const char* name : KeyLayoutNames)
        keyLayout_->addItem(name);
    keyLayout_->setToolTip("How your board's keys are numbered: by key number alone, or, for a board that sends\n"
                           "its keys on several channels, key + Keys per Channel \u00d7 (channel \u2212 1).\n"
                           "With Channel Offset, set Input Channel to \"All\".");
    keysPerChannel_ = makeDigitField(this, "keysPerChannelField");
    keysPerChannel_->setMaxLength(3);
    keysPerChannel_->setToolTip("How far each channel's keys lie beyond the last channel's (1 to 128)");
    auto* fields = new QFormLayout;
    fields->addRow("Pitch Wheel Range:", pitchWheelRange_);
    fields->addRow("Input Channel:", inputChannel_);
    fields->addRow("Key Layout:", keyLayout_);
    fields->addRow("Keys per Channel:", keysPerChannel_);
    layoutHint_ = new QLabel("A board over channels needs Input Channel \"All\".");
    layoutHint_->setObjectName("layoutHint");
    layoutHint_->setWordWrap(true);
    fields->addRow(layoutHint_);
    layoutFields_ = fields;
    connect(keyLayout_, &QComboBox::currentIndexChanged, this, &MidiSetupDialog::showLayoutFields);
    connect(inputChannel_, &QComboBox::currentIndexChanged, this, &MidiSetupDialog::showLayoutFields);
    auto* timing = new QFormLayout;
    timing->addRow("Release Time (ms):", releaseTime_);
    outputMode_ = new QComboBox;
    outputMode_->setObjectName("outputModeList");
    for (const char* name : OutputModeNames)
        outputMode_->addItem(name);
    mpeBendRange_ = makeDigitField(this, "mpeBendRangeField");
    mpeBendRange_->setToolTip("Semitones the member channels' wheels bend (1 to 96)");
    deviceId_ = makeDigitField(this, "deviceIdField");
    deviceId_->setToolTip("The synthesizer's MIDI Tuning device ID (0 to 127; 127 reaches every device)");
    tuningProgram_ = makeDigitField(this, "tuningProgramField");
    tuningProgram_->setToolTip("The tuning program the notes retune and a dump fills (0 to 127)");
    pitchWheelUse_ = new QComboBox;
    pitchWheelUse_->setObjectName("pitchWheelUseList");
    for (const char* name : PitchWheelUseNames)
        pitchWheelUse_->addItem(name);
    playerBendRange_ = makeDigitField(this, "playerBendRangeField");
    playerBendRange_->setToolTip("Semitones your pitch wheel bends the notes (1 to 96)");
    mpeController_ = new QCheckBox("MPE Controller");
    mpeController_->setObjectName("mpeControllerBox");
    mpeController_->setToolTip("The input plays a note per channel, each with its own bend, pressure and timbre.\n"
                               "Every input channel is then read; an MPE configuration message ticks this itself.");
    connect(mpeController_, &QCheckBox::toggled, inputChannel_, &QWidget::setDisabled);
    inputBendRange_ = makeDigitField(this, "inputBendRangeField");
    inputBendRange_->setToolTip("Semitones your controller's per-note bends span (1 to 96; often 48, some send 24);\n"
                                "a controller that announces its range sets it here");
    modeFields_ = new QFormLayout;
    modeFields_->addRow("Pitch Wheel:", pitchWheelUse_);
    modeFields_->addRow("Player Bend Range:", playerBendRange_);
    modeFields_->addRow("", mpeController_);
    modeFields_->addRow("Input Bend Range:", inputBendRange_);
    modeFields_->addRow("Output Mode:", outputMode_);
    modeFields_->addRow("MPE Bend Range:", mpeBendRange_);
    modeFields_->addRow("Device ID:", deviceId_);
    modeFields_->addRow("Tuning Program:", tuningProgram_);
    connect(outputMode_, &QComboBox::currentIndexChanged, this, &MidiSetupDialog::showModeFields);
    auto* left = new QVBoxLayout;
    left->addLayout(fields);
    left->addWidget(tuning);
    left->addLayout(timing);
    left->addLayout(modeFields_);

    relayList_ = new QListWidget;
    relayList_->setObjectName("relayList");
    relayList_->setSelectionMode(QAbstractItemView::MultiSelection);
    auto* middle = new QHBoxLayout;
    middle->addLayout(left);
    middle->addWidget(captioned("Relay Messages", relayList_));

    const DialogButtons okCancel = makeOkCancel(this);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(okCancel.ok);
    buttons->addWidget(okCancel.cancel);
    buttons->addStretch();

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(noService_);
    layout->addLayout(devices);
    layout->addLayout(channels);
    layout->addLayout(middle);
    layout->addLayout(buttons);
}

void MidiSetupDialog::fillFromSettings(const Settings& s)
{
    MidiSystem* system = engine_.midiSystem;
    const MidiSystem::DeviceLists lists = system ? system->deviceLists() : MidiSystem::DeviceLists{{}, {}, false};
    const std::vector<std::string>& inputs = lists.inputs;
    const std::vector<std::string>& outputs = lists.outputs;
    inputNames_ = inputs;
    outputNames_ = outputs;
    absentInputRow_ = fillDeviceList(inputList_, inputs, 0, s.inputDevice, s.inputDeviceName);
    outputList_->addItem("Midi Mapper");
    const bool mapper = s.outputDevice == MidiMapperDevice;
    absentOutputRow_ = fillDeviceList(outputList_, outputs, 1, s.outputDevice, mapper ? "" : s.outputDeviceName);
    // Empty lists alone do not tell whether the devices or the service are missing.
    noService_->setVisible(inputs.empty() && outputs.empty() && !lists.service);

    for (int c = 0; c < 16; ++c)
        useChannel_[c]->setChecked(s.useChannel[c] == 1);
    for (int i = 0; i < RelaySwitchCount; ++i) {
        relayList_->addItem(relayNames[static_cast<size_t>(i)]);
        relayList_->item(i)->setSelected(s.relay[i] != 0);
    }
    for (const char* name : channelNames)
        inputChannel_->addItem(name);
    inputChannel_->setCurrentIndex(s.inputChannel);
    showUnsigned(pitchWheelRange_, s.pitchWheelRange);
    showUnsigned(midiNote_, s.referenceKey);
    showUnsigned(releaseTime_, static_cast<unsigned>(std::clamp(s.releaseTime, 0, MaxReleaseTime)));
    frequency_->setText(QString::fromStdString(formatFrequency(s.referenceFrequency)));
    outputMode_->setCurrentIndex(std::clamp(s.outputMode, 0, OutputModeCount - 1));
    showUnsigned(mpeBendRange_, static_cast<unsigned>(std::clamp(s.mpeBendRange, 1, MaxMpeBendRange)));
    showUnsigned(deviceId_, static_cast<unsigned>(std::clamp(s.tuningDeviceId, 0, 127)));
    pitchWheelUse_->setCurrentIndex(std::clamp(s.pitchWheelUse, 0, 1));
    showUnsigned(playerBendRange_, static_cast<unsigned>(std::clamp(s.playerBendRange, 1, MaxMpeBendRange)));
    mpeController_->setChecked(s.mpeController != 0);
    keyLayout_->setCurrentIndex(std::clamp(s.keyLayout, 0, 1));
    showUnsigned(keysPerChannel_, static_cast<unsigned>(std::clamp(s.keysPerChannel, 1, MaxKeysPerChannel)));
    showUnsigned(inputBendRange_, static_cast<unsigned>(std::clamp(s.inputBendRange, 1, MaxMpeBendRange)));
    showUnsigned(tuningProgram_, static_cast<unsigned>(std::clamp(s.tuningProgram, 0, 127)));
    showModeFields();
    showLayoutFields();
}

// Keys per Channel only for a layout over channels, which reads every
// channel: a hint while Input Channel would filter all but one.
void MidiSetupDialog::showLayoutFields()
{
    const bool overChannels = keyLayout_->currentIndex() == KeyLayoutChannelOffset;
    keysPerChannel_->setEnabled(overChannels);
    layoutFields_->setRowVisible(layoutHint_, overChannels && inputChannel_->currentIndex() != AllChannels);
}

void MidiSetupDialog::showModeFields()
{
    modeFields_->setRowVisible(mpeBendRange_, outputMode_->currentIndex() == OutputMpe);
    modeFields_->setRowVisible(deviceId_, outputMode_->currentIndex() == OutputMidiTuning);
    modeFields_->setRowVisible(tuningProgram_, outputMode_->currentIndex() == OutputMidiTuning);
}

bool MidiSetupDialog::storeSettings()
{
    Settings& s = engine_.settings;
    storeDevice(inputList_->currentRow(), absentInputRow_, 0, inputNames_, s.inputDevice, s.inputDeviceName);
    storeDevice(outputList_->currentRow(), absentOutputRow_, 1, outputNames_, s.outputDevice,
                s.outputDeviceName);
    for (int c = 0; c < 16; ++c)
        s.useChannel[c] = useChannel_[c]->isChecked() ? 1 : 0;
    for (int i = 0; i < RelaySwitchCount; ++i)
        s.relay[i] = relayList_->item(i)->isSelected() ? 1 : 0;
    bool tuningChanged = storeLimited(pitchWheelRange_, MaxPitchWheelRange, s.pitchWheelRange);
    if (inputChannel_->currentIndex() >= 0)
        s.inputChannel = static_cast<uint8_t>(inputChannel_->currentIndex());
    tuningChanged |= storeLimited(midiNote_, MaxMidiNote, s.referenceKey);
    uint32_t releaseTime = 0;
    if (readUnsignedField(releaseTime_, releaseTime))
        s.releaseTime = static_cast<int32_t>(std::min<uint32_t>(releaseTime, MaxReleaseTime));
    // A new mode or member range needs the table and the mode's opening.
    const Settings before = s;
    if (outputMode_->currentIndex() >= 0)
        s.outputMode = outputMode_->currentIndex();
    uint32_t range = 0;
    if (readUnsignedField(mpeBendRange_, range))
        s.mpeBendRange = static_cast<int32_t>(std::clamp<uint32_t>(range, 1, MaxMpeBendRange));
    for (const auto& [field, stored] : {std::pair{deviceId_, &s.tuningDeviceId}, std::pair{tuningProgram_, &s.tuningProgram}}) {
        uint32_t value = 0;
        if (readUnsignedField(field, value))
            *stored = static_cast<int32_t>(std::min<uint32_t>(value, 127));
    }
    if (pitchWheelUse_->currentIndex() >= 0)
        s.pitchWheelUse = pitchWheelUse_->currentIndex();
    if (readUnsignedField(playerBendRange_, range))
        s.playerBendRange = static_cast<int32_t>(std::clamp<uint32_t>(range, 1, MaxMpeBendRange));
    s.mpeController = mpeController_->isChecked() ? 1 : 0;
    if (readUnsignedField(inputBendRange_, range))
        s.inputBendRange = static_cast<int32_t>(std::clamp<uint32_t>(range, 1, MaxMpeBendRange));
    if (keyLayout_->currentIndex() >= 0)
        s.keyLayout = keyLayout_->currentIndex();
    if (readUnsignedField(keysPerChannel_, range))
        s.keysPerChannel = static_cast<int32_t>(std::clamp<uint32_t>(range, 1, MaxKeysPerChannel));
    // A note's identity changes with the controller's reading and the key
    // layout, and the table with the layout: the notes end.
    tuningChanged |= s.outputMode != before.outputMode || s.mpeBendRange != before.mpeBendRange ||
                     s.mpeController != before.mpeController || s.keyLayout != before.keyLayout ||
                     s.keysPerChannel != before.keysPerChannel;
    const std::string text = frequency_->text().left(FrequencyTextLength).toStdString();
    if (!text.empty()) {
        const double frequency = std::atof(text.c_str());
        if (frequency != s.referenceFrequency) {
            s.referenceFrequency = frequency;
            tuningChanged = true;
        }
    }
    return tuningChanged;
}

void MidiSetupDialog::accept()
{
    {
        EngineLock lock(engine_.engineMutex);
        if (storeSettings()) {
            engine_.buildInstrumentFrequencies();
            engine_.buildTuningTable();
        }
    }
    engine_.openPorts(reporterOr(reporter_));
    saveSettings(engine_);
    QDialog::accept();
}
