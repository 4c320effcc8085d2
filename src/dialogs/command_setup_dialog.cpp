#include "dialogs/command_setup_dialog.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>

#include "dialogs/dialog_fields.h"
#include "dialogs/event_editor.h"
#include "dialogs/setting_names.h"
#include "engine/config_file.h"
#include "engine/engine_lock.h"
#include "engine/note_allocation.h"

namespace {

constexpr uint32_t MaxCommandKey = NoKey;  // 128 switches a command off

const char* const keyCaptions[4] = {"Command / Modulate", "Demodulate", "Reset Pitch", "Send Init Message"};
const char* const keyNames[4] = {"commandKeyField", "demodulateKeyField", "resetPitchKeyField", "initMessageKeyField"};
const char* const NoKeyText = "None";
const char* const LearnText = "Learn";
const char* const LearningText = "Press a key";
constexpr int LearnLooksPerSecond = 30;

uint8_t* keySetting(Settings& s, int index)
{
    uint8_t* keys[4] = {&s.commandKey, &s.demodulateKey, &s.resetPitchKey, &s.initMessageKey};
    return keys[index];
}

QPushButton* button(const char* text, const char* name)
{
    auto* b = new QPushButton(text);
    b->setObjectName(name);
    b->setAutoDefault(false);
    return b;
}

}  // namespace

CommandSetupDialog::CommandSetupDialog(Engine& engine, QWidget* parent) : QDialog(parent), engine_(engine)
{
    setWindowTitle("Command Setup");
    setObjectName("commandSetupDialog");
    workingCount_ = std::clamp(engine_.settings.initEventCount, 0, MaxInitEvents);
    std::copy(engine_.settings.initMessage, engine_.settings.initMessage + workingCount_, workingMessage_);
    buildControls();
    for (int i = 0; i < 4; ++i)
        showKey(i, *keySetting(engine_.settings, i));
    shiftCentre_->setChecked(engine_.settings.shiftCentre == 1);
    sendOnOpen_->setChecked(engine_.settings.sendInitOnOpen == 1);
    refillInitMessageList();
}

void CommandSetupDialog::buildControls()
{
    auto* keys = new QGroupBox("Command Keys");
    auto* keyLayout = new QFormLayout(keys);
    for (int i = 0; i < 4; ++i) {
        keyFields_[i] = makeDigitField(this, keyNames[i]);
        keyFields_[i]->setPlaceholderText(NoKeyText);  // an empty field: no key
        learnButtons_[i] = button(LearnText, qPrintable(QString("learnButton%1").arg(i + 1)));
        connect(learnButtons_[i], &QPushButton::clicked, this, [this, i] { learnKey(i); });
        auto* row = new QHBoxLayout;
        row->addWidget(keyFields_[i]);
        row->addWidget(learnButtons_[i]);
        keyLayout->addRow(keyCaptions[i], row);
    }
    learnTimer_ = new QTimer(this);
    connect(learnTimer_, &QTimer::timeout, this, &CommandSetupDialog::takeLearntKey);
    shiftCentre_ = new QCheckBox("Shift Centre");
    shiftCentre_->setObjectName("shiftCentreBox");
    keyLayout->addRow(shiftCentre_);

    initMessage_ = new QListWidget;
    initMessage_->setObjectName("initMessageList");
    initMessage_->setSelectionMode(QAbstractItemView::SingleSelection);
    QFont fixed("monospace");
    fixed.setStyleHint(QFont::TypeWriter);
    initMessage_->setFont(fixed);
    sendOnOpen_ = new QCheckBox("Send on Open");
    sendOnOpen_->setObjectName("sendOnOpenBox");
    auto* middle = new QVBoxLayout;
    middle->addWidget(new QLabel("Init Message"));
    middle->addWidget(initMessage_);
    middle->addWidget(sendOnOpen_);

    auto* add = button("Add", "addButton");
    auto* edit = button("Edit", "editButton");
    auto* remove = button("Delete", "deleteButton");
    const DialogButtons okCancel = makeOkCancel(this);
    connect(add, &QPushButton::clicked, this, &CommandSetupDialog::addEvent);
    connect(edit, &QPushButton::clicked, this, &CommandSetupDialog::editEvent);
    connect(initMessage_, &QListWidget::itemDoubleClicked, this, &CommandSetupDialog::editEvent);
    connect(remove, &QPushButton::clicked, this, &CommandSetupDialog::deleteEvent);
    auto* right = new QVBoxLayout;
    right->addWidget(add);
    right->addWidget(edit);
    right->addWidget(remove);
    right->addStretch();
    right->addWidget(okCancel.ok);
    right->addWidget(okCancel.cancel);

    auto* layout = new QHBoxLayout(this);
    layout->addWidget(keys);
    layout->addLayout(middle);
    layout->addLayout(right);
}

void CommandSetupDialog::showKey(int row, uint8_t key)
{
    if (key >= NoKey)
        keyFields_[row]->clear();
    else
        showUnsigned(keyFields_[row], key);
}

void CommandSetupDialog::learnKey(int row)
{
    if (learningRow_ >= 0)
        learnButtons_[learningRow_]->setText(LearnText);
    learningRow_ = row;
    learnButtons_[row]->setText(LearningText);
    EngineLock lock(engine_.engineMutex);
    pressesBefore_ = engine_.noteAllocation.keyPresses;
    learnTimer_->start(1000 / LearnLooksPerSecond);
}

// The input thread only counts key presses; the window looks at the count.
void CommandSetupDialog::takeLearntKey()
{
    uint8_t key = 0;
    {
        EngineLock lock(engine_.engineMutex);
        if (engine_.noteAllocation.keyPresses == pressesBefore_)
            return;
        key = engine_.noteAllocation.lastKey;
    }
    learnTimer_->stop();
    showKey(learningRow_, key);
    learnButtons_[learningRow_]->setText(LearnText);
    learningRow_ = -1;
}

void CommandSetupDialog::refillInitMessageList()
{
    initMessage_->clear();
    for (int i = 0; i < workingCount_; ++i)
        initMessage_->addItem(QString::fromStdString(formatInitEvent(workingMessage_[i])));
    initMessage_->setCurrentRow(-1);
}

void CommandSetupDialog::addEvent()
{
    if (workingCount_ >= MaxInitEvents)
        return;
    selectedRow_ = workingCount_ == 0 ? 0 : initMessage_->currentRow();
    InitEvent& added = workingMessage_[workingCount_];
    EventEditor editor(added, EditorMode::Add, this);
    if (editor.exec() != QDialog::Accepted)
        return;
    if (workingCount_ != 0)
        selectedRow_ += 1;
    // A swap, not a shift: the event that stood at the new row goes to the end.
    std::swap(workingMessage_[selectedRow_], workingMessage_[workingCount_]);
    ++workingCount_;
    refillInitMessageList();
    initMessage_->setCurrentRow(selectedRow_);
}

void CommandSetupDialog::editEvent()
{
    selectedRow_ = initMessage_->currentRow();
    if (workingCount_ == 0 || selectedRow_ < 0 || selectedRow_ >= workingCount_)
        return;
    EventEditor editor(workingMessage_[selectedRow_], EditorMode::Edit, this);
    if (editor.exec() != QDialog::Accepted)
        return;
    refillInitMessageList();
    initMessage_->setCurrentRow(selectedRow_);
}

void CommandSetupDialog::deleteEvent()
{
    const int row = initMessage_->currentRow();
    if (workingCount_ == 0 || row < 0 || row >= workingCount_)
        return;
    --workingCount_;
    selectedRow_ = row;
    if (selectedRow_ == workingCount_)
        --selectedRow_;
    else
        std::move(workingMessage_ + row + 1, workingMessage_ + workingCount_ + 1, workingMessage_ + row);
    refillInitMessageList();
    if (workingCount_ > 0)
        initMessage_->setCurrentRow(selectedRow_);
}

void CommandSetupDialog::accept()
{
    {
        EngineLock lock(engine_.engineMutex);
        engine_.settings.initEventCount = workingCount_;
        std::copy(workingMessage_, workingMessage_ + workingCount_, engine_.settings.initMessage);
        for (int i = 0; i < 4; ++i) {
            uint32_t key = 0;
            if (keyFields_[i]->text().isEmpty())
                *keySetting(engine_.settings, i) = NoKey;
            else if (readUnsignedField(keyFields_[i], key) && key <= MaxCommandKey)
                *keySetting(engine_.settings, i) = static_cast<uint8_t>(key);
        }
        engine_.settings.shiftCentre = shiftCentre_->isChecked() ? 1 : 0;
        engine_.settings.sendInitOnOpen = sendOnOpen_->isChecked() ? 1 : 0;
    }
    saveSettings(engine_);
    QDialog::accept();
}
