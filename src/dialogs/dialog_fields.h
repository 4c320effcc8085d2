#pragma once
// Edit fields that hold an unsigned number, and the message boxes of the
// window layer.

#include <QLineEdit>
#include <QWidget>

#include <cstdint>
#include <string>

#include "engine/message_reporter.h"

// A field that accepts digits only.
QLineEdit* makeDigitField(QWidget* parent, const char* objectName);

// The field's number; false when it holds none or one too large to read.
bool readUnsignedField(const QLineEdit* field, uint32_t& value);

void showUnsigned(QLineEdit* field, unsigned value);

class Engine;
class QDialog;
class QPushButton;

// "OK" (the default button) and "Cancel", wired to accept and reject.
struct DialogButtons {
    QPushButton* ok;
    QPushButton* cancel;
};
DialogButtons makeOkCancel(QDialog* dialog);

// Message boxes owned by a window, with one OK button.
class WidgetMessageReporter : public MessageReporter {
public:
    explicit WidgetMessageReporter(QWidget* owner) : owner_(owner) {}
    void showMessage(const char* title, const char* text, MessageIcon icon) override;
    bool askQuestion(const char* title, const char* text, const char* yes, const char* no) override;

private:
    QWidget* owner_;
};

// Where a window shows its boxes: its own, unless a test has put a recorder
// in their place.
MessageReporter& reporterOr(WidgetMessageReporter& own);
extern MessageReporter* messageReporterOverride;

// Saves the settings to "vanto.cfg", as every window's OK does, and keeps
// what went wrong for the status line: "Settings could not be saved:
// <reason>", or "" once a save succeeds.
void saveSettings(const Engine& engine);
const std::string& settingsSaveProblem();
