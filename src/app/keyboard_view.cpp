#include "app/keyboard_view.h"

#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QTimer>
#include <QToolTip>

#include <cmath>

#include "engine/settings.h"
#include "engine/tuning_table.h"

namespace {

constexpr int PianoWhiteKeys = 75;  // of keys 0..127
constexpr const char* CommandSigns[4] = {"M", "D", "R", "I"};
constexpr const char* CommandNames[4] = {"Command / Modulate", "Demodulate", "Reset Pitch", "Init Message"};

bool isBlack(int key)
{
    const int place = key % 12;
    return place == 1 || place == 3 || place == 6 || place == 8 || place == 10;
}

// White keys below key: for a black key, the boundary it sits on.
int whiteKeysBelow(int key)
{
    constexpr int whitesBefore[12] = {0, 1, 1, 2, 2, 3, 4, 4, 5, 5, 6, 6};
    return key / 12 * 7 + whitesBefore[key % 12];
}

// The 12-tone key nearest a frequency, and how many cents it lies from it.
int nearestEqualKey(double hz, double& cents)
{
    const double semitones = 69.0 + 12.0 * std::log2(hz / 440.0);
    const long key = std::lround(semitones);
    cents = 100.0 * (semitones - static_cast<double>(key));
    return static_cast<int>(key);
}

}  // namespace

KeyboardView::KeyboardView(Engine& engine, QWidget* parent) : QWidget(parent), engine_(engine)
{
    setObjectName("keyboardView");
    setMouseTracking(true);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    timer_ = new QTimer(this);
    connect(timer_, &QTimer::timeout, this, &KeyboardView::refresh);
    timer_->start(1000 / RefreshesPerSecond + 1);
    engine_.viewStale = true;
    refresh();
}

bool KeyboardView::refresh()
{
    if (!engine_.viewStale.exchange(false))
        return false;
    snapshot_ = engine_.keyboardSnapshot();
    ++snapshots_;
    update();
    return true;
}

bool KeyboardView::isPiano() const
{
    return !snapshot_.overChannels && snapshot_.keys.size() == KeyCount;
}

QSize KeyboardView::sizeHint() const
{
    return {PianoWhiteKeys * 10, 90};
}

QSize KeyboardView::minimumSizeHint() const
{
    return {PianoWhiteKeys * 4, 48};
}

// Piano: white keys side by side, black ones narrower over their upper part.
// Cells: a row per channel's worth of indices, the lowest at the bottom.
QRect KeyboardView::keyRect(int index) const
{
    const int count = static_cast<int>(snapshot_.keys.size());
    if (index < 0 || index >= count)
        return {};
    if (isPiano()) {
        const double white = width() / static_cast<double>(PianoWhiteKeys);
        const int below = whiteKeysBelow(index);
        if (!isBlack(index))
            return QRectF(below * white, 0, white, height()).toAlignedRect();
        return QRectF((below - 0.3) * white, 0, 0.6 * white, height() * 0.6).toAlignedRect();
    }
    const int perRow = std::max(1, std::min(count, MaxKeysPerChannel));
    const int rows = (count + perRow - 1) / perRow;
    const double cellWidth = width() / static_cast<double>(perRow);
    const double cellHeight = height() / static_cast<double>(rows);
    const int row = index / perRow;
    return QRectF((index % perRow) * cellWidth, (rows - 1 - row) * cellHeight, cellWidth, cellHeight).toAlignedRect();
}

int KeyboardView::indexAt(QPoint point) const
{
    const int count = static_cast<int>(snapshot_.keys.size());
    // Black keys lie over white ones: they are found first.
    for (const bool black : {true, false}) {
        for (int i = 0; i < count; ++i) {
            if ((!isPiano() || isBlack(i) == black) && keyRect(i).contains(point))
                return i;
        }
    }
    return -1;
}

// The same hue for the same degree in every period; silent keys take the
// window's own colour, so that they recede in light and dark themes alike.
QColor KeyboardView::colourOf(int index) const
{
    if (index < 0 || index >= static_cast<int>(snapshot_.keys.size()))
        return {};
    const KeyView& key = snapshot_.keys[static_cast<size_t>(index)];
    if (!key.mapped)
        return palette().color(QPalette::Window).darker(115);
    const int hue = key.degree * 360 / std::max(snapshot_.degrees, 1);
    const bool dark = palette().color(QPalette::Window).lightness() < 128;
    return QColor::fromHsv(hue % 360, dark ? 150 : 90, dark ? 170 : 245);
}

QString KeyboardView::tipOf(int index) const
{
    if (index < 0 || index >= static_cast<int>(snapshot_.keys.size()))
        return {};
    const KeyView& key = snapshot_.keys[static_cast<size_t>(index)];
    QStringList lines;
    lines << (snapshot_.overChannels ? QString("Index %1").arg(index) : QString("Key %1").arg(index));
    for (int c = 0; c < 4; ++c) {
        if (snapshot_.commandKeys[c] == index)
            lines << QString("Command key: %1").arg(CommandNames[c]);
    }
    if (!key.mapped)
        return (lines << "Silent: the keyboard mapping leaves it out").join('\n');
    lines << QString("Degree %1, period %2").arg(key.degree).arg(key.period);
    lines << QString("%1 Hz").arg(QString::number(key.target, 'g', 9));
    double cents = 0.0;
    const int nearest = nearestEqualKey(key.target, cents);
    lines << QString("%1 cents from 12-tone key %2").arg(QString::asprintf("%+.2f", cents)).arg(nearest);
    if (snapshot_.outputMode == OutputMidiTuning)
        lines << QString("MIDI Tuning key %1").arg(key.outputKey);
    else if (snapshot_.outputMode == OutputMpe)
        lines << QString("Output key %1, member bend %2").arg(key.outputKey).arg(key.bend);
    else
        lines << QString("Output key %1, bend %2").arg(key.outputKey).arg(key.bend);
    if (key.state == KeySounding)
        lines << QString(snapshot_.outputMode == OutputMpe ? "Sounding on member channel %1" : "Sounding on channel %1").arg(key.channel);
    else if (key.state == KeyPedalHeld)
        lines << QString("Held by the pedal on channel %1").arg(key.channel);
    return lines.join('\n');
}

void KeyboardView::paintKey(QPainter& painter, int index) const
{
    const KeyView& key = snapshot_.keys[static_cast<size_t>(index)];
    const QRect r = keyRect(index).adjusted(0, 0, -1, -1);
    const QPalette& p = palette();
    painter.setPen(p.color(QPalette::Mid));
    painter.setBrush(colourOf(index));
    if (key.state == KeySounding)
        painter.setBrush(p.color(QPalette::Highlight));
    painter.drawRect(r);
    if (!key.mapped)
        painter.fillRect(r, QBrush(p.color(QPalette::Mid), Qt::BDiagPattern));
    if (key.state == KeyPedalHeld) {
        painter.setPen(QPen(p.color(QPalette::Highlight), std::max(2, r.width() / 5)));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(r.adjusted(1, 1, -1, -1));
    }
    const int mark = std::max(3, std::min(r.width(), r.height()) / 3);
    painter.setPen(Qt::NoPen);
    painter.setBrush(p.color(QPalette::WindowText));
    if (key.mapped && key.degree == 0)  // degree 0: a dot at the foot
        painter.drawEllipse(QRect(r.center().x() - mark / 2, r.bottom() - mark - 2, mark, mark));
    if (index == snapshot_.centre) {  // the working centre: a triangle at the head
        const QPoint top(r.center().x(), r.top() + mark + 2);
        painter.drawPolygon(QPolygon({QPoint(top.x() - mark / 2 - 1, r.top() + 1), QPoint(top.x() + mark / 2 + 1, r.top() + 1), top}));
    }
    // A command key's sign, in the lower half where a black key leaves room.
    for (int c = 0; c < 4; ++c) {
        if (snapshot_.commandKeys[c] != index)
            continue;
        QFont font = painter.font();
        font.setPixelSize(std::clamp(r.width() - 1, 6, 12));
        painter.setFont(font);
        painter.setPen(p.color(QPalette::WindowText));
        painter.drawText(QRect(r.left(), r.center().y(), r.width() + 1, r.height() / 2 - mark - 2), Qt::AlignCenter,
                         CommandSigns[c]);
    }
}

void KeyboardView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const int count = static_cast<int>(snapshot_.keys.size());
    for (const bool black : {false, true}) {
        for (int i = 0; i < count; ++i) {
            if (!isPiano() ? !black : isBlack(i) == black)
                paintKey(painter, i);
        }
    }
}

bool KeyboardView::event(QEvent* event)
{
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        const int index = indexAt(help->pos());
        if (index >= 0)
            QToolTip::showText(help->globalPos(), tipOf(index), this, keyRect(index));
        else
            QToolTip::hideText();
        return true;
    }
    return QWidget::event(event);
}

// A click shows the tip; with Ctrl the key also plays until released.
void KeyboardView::mousePressEvent(QMouseEvent* event)
{
    const int index = indexAt(event->position().toPoint());
    if (index < 0)
        return;
    QToolTip::showText(event->globalPosition().toPoint(), tipOf(index), this, keyRect(index));
    if ((event->modifiers() & Qt::ControlModifier) && auditioned_ < 0 && engine_.auditionKey(index, true)) {
        auditioned_ = index;
        refresh();
    }
}

void KeyboardView::mouseReleaseEvent(QMouseEvent*)
{
    if (auditioned_ < 0)
        return;
    engine_.auditionKey(auditioned_, false);
    auditioned_ = -1;
    refresh();
}
