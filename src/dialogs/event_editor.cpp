#include "dialogs/event_editor.h"

#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>

#include "dialogs/dialog_fields.h"
#include "dialogs/setting_names.h"

namespace {

constexpr uint32_t MaxParameter = 127;

void storeParameter(const QLineEdit* field, uint8_t& parameter)
{
    uint32_t value = 0;
    if (readUnsignedField(field, value) && value <= MaxParameter)
        parameter = static_cast<uint8_t>(value);
}

}  // namespace

EventEditor::EventEditor(InitEvent& event, EditorMode mode, QWidget* parent) : QDialog(parent), event_(event)
{
    setWindowTitle("Event Editor");
    setObjectName("eventEditor");
    if (mode != EditorMode::Edit)
        event_ = InitEvent{0, AllChannels, 0, 0};

    type_ = new QComboBox;
    type_->setObjectName("typeList");
    for (const EventType& type : eventTypes)
        type_->addItem(type.name);
    type_->setCurrentIndex(eventTypeRow(event_.status));
    channel_ = new QComboBox;
    channel_->setObjectName("channelList");
    for (const char* name : channelNames)
        channel_->addItem(name);
    channel_->setCurrentIndex(std::min<int>(event_.channel, AllChannels));
    param1_ = makeDigitField(this, "parameter1Field");
    param2_ = makeDigitField(this, "parameter2Field");
    showUnsigned(param1_, event_.param1);
    showUnsigned(param2_, event_.param2);

    auto* form = new QFormLayout;
    form->addRow("Type", type_);
    form->addRow("Channel", channel_);
    form->addRow("Parameter 1", param1_);
    form->addRow("Parameter 2", param2_);
    const DialogButtons okCancel = makeOkCancel(this);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(okCancel.ok);
    buttons->addWidget(okCancel.cancel);
    form->addRow(buttons);
    setLayout(form);
}

void EventEditor::accept()
{
    event_.status = eventTypes[static_cast<size_t>(std::max(type_->currentIndex(), 0))].status;
    event_.channel = static_cast<uint8_t>(std::max(channel_->currentIndex(), 0));
    storeParameter(param1_, event_.param1);
    storeParameter(param2_, event_.param2);
    QDialog::accept();
}
