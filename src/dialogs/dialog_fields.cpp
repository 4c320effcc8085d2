#include "dialogs/dialog_fields.h"

#include "engine/engine.h"

#include <QApplication>
#include <QDialog>
#include <QFontMetrics>
#include <QGridLayout>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpressionValidator>

#include "engine/config_file.h"

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

// A message box is as wide as its text; a longer title would be cut in the
// title bar, so the box is widened to hold it and the title bar's buttons.
void keepTitleVisible(QMessageBox& box)
{
    constexpr int TitleBarButtons = 120;
    const int wanted = QFontMetrics(QApplication::font("QMdiSubWindowTitleBar")).horizontalAdvance(box.windowTitle()) +
                       TitleBarButtons;
    if (auto* grid = qobject_cast<QGridLayout*>(box.layout())) {
        grid->addItem(new QSpacerItem(wanted, 0, QSizePolicy::Minimum, QSizePolicy::Fixed), grid->rowCount(), 0, 1,
                      grid->columnCount());
    }
}

void WidgetMessageReporter::showMessage(const char* title, const char* text, MessageIcon icon)
{
    QMessageBox box(owner_);
    box.setWindowTitle(QString::fromUtf8(title));
    box.setText(QString::fromUtf8(text));
    if (icon == MessageIcon::Program)
        box.setIconPixmap((owner_ ? owner_->window()->windowIcon() : QApplication::windowIcon()).pixmap(64, 64));
    else
        box.setIcon(icon == MessageIcon::Stop      ? QMessageBox::Critical
                    : icon == MessageIcon::Warning ? QMessageBox::Warning
                                                   : QMessageBox::NoIcon);
    box.setStandardButtons(QMessageBox::Ok);
    keepTitleVisible(box);
    box.exec();
}

bool WidgetMessageReporter::askQuestion(const char* title, const char* text, const char* yes, const char* no)
{
    QMessageBox box(owner_);
    box.setWindowTitle(QString::fromUtf8(title));
    box.setText(QString::fromUtf8(text));
    box.setIcon(QMessageBox::Question);
    QPushButton* accept = box.addButton(QString::fromUtf8(yes), QMessageBox::AcceptRole);
    QPushButton* decline = box.addButton(QString::fromUtf8(no), QMessageBox::RejectRole);
    box.setDefaultButton(decline);
    keepTitleVisible(box);
    box.exec();
    return box.clickedButton() == accept;
}

MessageReporter& reporterOr(WidgetMessageReporter& own)
{
    return messageReporterOverride ? *messageReporterOverride : own;
}

namespace {
std::string saveProblem;
}

void saveSettings(const Engine& engine)
{
    std::string reason;
    saveProblem = engine.saveConfig(DefaultConfigFile, &reason) == 0 ? "" : "Settings could not be saved: " + reason;
}

const std::string& settingsSaveProblem()
{
    return saveProblem;
}
