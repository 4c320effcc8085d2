#include "dialogs/dialog_fields.h"

#include <QDialog>
#include <QMessageBox>
#include <QPushButton>
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

DialogButtons makeOkCancel(QDialog* dialog)
{
    auto* ok = new QPushButton("OK", dialog);
    ok->setObjectName("okButton");
    ok->setDefault(true);
    auto* cancel = new QPushButton("Cancel", dialog);
    cancel->setObjectName("cancelButton");
    cancel->setAutoDefault(false);
    QObject::connect(ok, &QPushButton::clicked, dialog, &QDialog::accept);
    QObject::connect(cancel, &QPushButton::clicked, dialog, &QDialog::reject);
    return {ok, cancel};
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
