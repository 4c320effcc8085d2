#include "dialogs/control_bars_window.h"

#include <QEvent>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>

#include <algorithm>

#include "dialogs/dialog_fields.h"
#include "dialogs/setting_names.h"
#include "engine/config_file.h"
#include "engine/engine_lock.h"
#include "engine/midi_ports.h"
#include "engine/output_senders.h"
#include "engine/settings.h"

int32_t controlBarsOpen = 0;

namespace {

constexpr int BarMaximum = 127;
constexpr int BarStart = 64;

}  // namespace

ControlBar::ControlBar(QWidget* parent) : QScrollBar(Qt::Horizontal, parent) {}

void ControlBar::mouseReleaseEvent(QMouseEvent* event)
{
    QScrollBar::mouseReleaseEvent(event);
    emit scrollEnded();
}

ControlBarsWindow::ControlBarsWindow(Engine& engine, QWidget* parent) : QWidget(parent, Qt::Window), engine_(engine)
{
    setWindowTitle("Control Bars");
    setObjectName("controlBarsWindow");
    setAttribute(Qt::WA_DeleteOnClose);
    auto* layout = new QGridLayout(this);
    for (int i = 0; i < ControlBarCount; ++i) {
        fields_[i] = makeDigitField(this, qPrintable(QString("controllerField%1").arg(i + 1)));
        fields_[i]->setMaximumWidth(48);
        showUnsigned(fields_[i], engine_.settings.controlBarController[i]);
        fields_[i]->installEventFilter(this);
        bars_[i] = new ControlBar(this);
        bars_[i]->setObjectName(QString("controlBar%1").arg(i + 1));
        bars_[i]->setRange(0, BarMaximum);
        bars_[i]->setSingleStep(1);
        bars_[i]->setPageStep(0);  // a click in the trough does not move the bar
        bars_[i]->setValue(BarStart);
        bars_[i]->setMinimumWidth(256);
        names_[i] = new QLabel(QString::fromStdString(controllerName(engine_.settings.controlBarController[i])), this);
        names_[i]->setObjectName(QString("controllerName%1").arg(i + 1));
        names_[i]->setMinimumWidth(names_[i]->fontMetrics().horizontalAdvance("100 Reset Controllers"));
        values_[i] = new QLabel(QString::number(BarStart), this);
        values_[i]->setObjectName(QString("controllerValue%1").arg(i + 1));
        values_[i]->setMinimumWidth(values_[i]->fontMetrics().horizontalAdvance("127"));
        values_[i]->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        layout->addWidget(fields_[i], i, 0);
        layout->addWidget(names_[i], i, 1);
        layout->addWidget(bars_[i], i, 2);
        layout->addWidget(values_[i], i, 3);
        ControlBar* bar = bars_[i];
        connect(bar, &QAbstractSlider::actionTriggered, this, [this, i, bar] { scrolled(i, bar->sliderPosition()); });
        connect(bar, &QAbstractSlider::sliderReleased, this, [this, i, bar] { scrolled(i, bar->sliderPosition()); });
        connect(bar, &ControlBar::scrollEnded, this, [this, i, bar] { scrolled(i, bar->value()); });
    }
    controlBarsOpen = 1;
}

ControlBarsWindow::~ControlBarsWindow()
{
    controlBarsOpen = 0;
    saveSettings(engine_);
}

void ControlBarsWindow::commitControllerField(int bar)
{
    uint32_t value = 0;
    const bool entered = readUnsignedField(fields_[bar], value);
    uint8_t controller = 0;
    {
        EngineLock lock(engine_.engineMutex);
        if (entered)
            engine_.settings.controlBarController[bar] = static_cast<uint8_t>(std::min<uint32_t>(value, BarMaximum));
        controller = engine_.settings.controlBarController[bar];
    }
    showUnsigned(fields_[bar], controller);
    names_[bar]->setText(QString::fromStdString(controllerName(controller)));
}

void ControlBarsWindow::scrolled(int bar, int position)
{
    commitControllerField(bar);
    position = std::clamp(position, 0, BarMaximum);
    {
        EngineLock lock(engine_.engineMutex);
        if (engine_.midiPorts.outputOpen)
            engine_.sendController(engine_.settings.controlBarController[bar], static_cast<uint8_t>(position));
    }
    bars_[bar]->setValue(position);
    values_[bar]->setText(QString::number(position));
}

bool ControlBarsWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut) {
        for (int i = 0; i < ControlBarCount; ++i) {
            if (watched == fields_[i])
                commitControllerField(i);
        }
    }
    return QWidget::eventFilter(watched, event);
}
