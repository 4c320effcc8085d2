#include "dialogs/dialog_fields.h"

#include <QMessageBox>
#include <QRegularExpressionValidator>

MessageReporter* messageReporterOverride = nullptr;

QLineEdit* makeDigitField(QWidget* parent, const char* objectName)
{
    auto* field = new QLineEdit(parent);
    field->setObjectName(objectName);
    field->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]*"), field));
    return field;
}

bool readUnsignedField(const QLineEdit* field, uint32_t& value)
{
    bool ok = false;
    const uint number = field->text().toUInt(&ok);
    if (ok)
        value = number;
    return ok;
}

void showUnsigned(QLineEdit* field, unsigned value)
{
    field->setText(QString::number(value));
}

void WidgetMessageReporter::showMessage(const char* title, const char* text, MessageIcon icon)
{
    QMessageBox box(owner_);
    box.setWindowTitle(QString::fromUtf8(title));
    box.setText(QString::fromUtf8(text));
    box.setIcon(icon == MessageIcon::Stop      ? QMessageBox::Critical
                : icon == MessageIcon::Warning ? QMessageBox::Warning
                                               : QMessageBox::NoIcon);
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
}

MessageReporter& reporterOr(WidgetMessageReporter& own)
{
    return messageReporterOverride ? *messageReporterOverride : own;
}
