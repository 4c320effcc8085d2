#include "dialogs/channels_window.h"

#include <cmath>
#include <vector>

#include <QHeaderView>
#include <QLabel>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "engine/engine_lock.h"
#include "engine/note_allocation.h"
#include "engine/settings.h"
#include "engine/tuning_table.h"

int32_t channelsOpen = 0;

namespace {

enum Column { ColumnUse, ColumnGroup, ColumnBend, ColumnKeys, ColumnPedal, ColumnReleased, ColumnCount };

// A held note: where it sounds, the index it was tuned by, and in MIDI
// Tuning output its tuning in cents from its output key's own pitch.
struct SoundingNote {
    int channel;
    int outputKey;
    int index;
    double cents;
};

// What the window shows, copied under the engine lock and formatted after.
struct ChannelsSnapshot {
    NoteAllocation allocation;
    int32_t useChannel[ChannelCount];
    uint8_t pitchWheelRange;
    uint32_t now;
    bool retunedKeys;
    bool showIndices;  // a key layout over several channels
    std::vector<SoundingNote> notes;
};

ChannelsSnapshot takeSnapshot(Engine& engine)
{
    ChannelsSnapshot s;
    EngineLock lock(engine.engineMutex);
    s.allocation = engine.noteAllocation;
    std::copy(std::begin(engine.settings.useChannel), std::end(engine.settings.useChannel), s.useChannel);
    // The bends shown are the output's: MPE members bend over their own range.
    const bool mpe = engine.settings.outputMode == OutputMpe;
    s.pitchWheelRange = static_cast<uint8_t>(mpe ? engine.settings.mpeBendRange : engine.settings.pitchWheelRange);
    s.now = engine.engineClock();
    s.retunedKeys = engine.settings.outputMode == OutputMidiTuning;
    s.showIndices = engine.settings.keyLayout == KeyLayoutChannelOffset;
    for (int note = 0; note < NoteIdCount; ++note) {
        if (s.allocation.keyChannel[note] == 0)
            continue;
        const int index = engine.indexOfNote(static_cast<NoteId>(note));
        const int key = s.allocation.keyOutputNote[note];
        const double equal = 440.0 * std::pow(2.0, (key - 69) / 12.0);
        s.notes.push_back({s.allocation.keyChannel[note] - 1, key, index,
                           1200.0 * std::log2(engine.tuningTable.targetFrequency[index] / equal)});
    }
    return s;
}

QString bendText(int32_t bend, uint8_t range)
{
    if (bend < 0)
        return "-";
    const double cents = (bend - BendCentre) * 100.0 * range / BendCentre;
    return QString::asprintf("%+.1f", cents);
}

// The output keys sounding on the channel, after their indices on a board
// laid out over channels; retuned ones with their cents.
QString keysText(const ChannelsSnapshot& s, int channel)
{
    QStringList keys;
    for (const SoundingNote& note : s.notes) {
        if (note.channel != channel)
            continue;
        QString text = s.showIndices ? QString::asprintf("%d\u2192%d", note.index, note.outputKey) : QString::number(note.outputKey);
        if (s.retunedKeys)
            text += QString::asprintf(" (%+.1f)", note.cents);
        keys << text;
    }
    return keys.join(' ');
}

QString pedalText(const ChannelSlot& slot)
{
    const int held = slot.sustainedCount + slot.sostenutoCount;
    return held == 0 ? QString() : QString::number(held) + (held == 1 ? " note" : " notes");
}

QString releasedText(const ChannelSlot& slot, uint32_t now)
{
    if (slot.noteCount != 0)
        return "playing";
    const uint32_t ms = sinceChannelRelease(slot, now);
    if (ms >= 0x80000000u)
        return "-";
    return ms < 60000 ? QString::asprintf("%.1f s", ms / 1000.0) : QString("%1 min").arg(ms / 60000);
}

void setCell(QTableWidget* table, int row, int column, const QString& text)
{
    QTableWidgetItem* item = table->item(row, column);
    if (!item) {
        item = new QTableWidgetItem;
        item->setFlags(Qt::ItemIsEnabled);
        table->setItem(row, column, item);
    }
    if (item->text() != text)
        item->setText(text);
}

// Room for all sixteen rows and every column without scrolling.
void showWholeTable(QTableWidget* table)
{
    table->resizeColumnsToContents();
    table->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    table->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    const int frame = 2 * table->frameWidth();
    const int keysRoom = table->fontMetrics().horizontalAdvance("127 127 127 127");
    table->setMinimumSize(table->verticalHeader()->sizeHint().width() + table->horizontalHeader()->length() + keysRoom + frame,
                          table->horizontalHeader()->sizeHint().height() + table->verticalHeader()->length() + frame);
}

}  // namespace

ChannelsWindow::ChannelsWindow(Engine& engine, QWidget* parent) : QWidget(parent, Qt::Window), engine_(engine)
{
    setWindowTitle("Channels");
    setObjectName("channelsWindow");
    setAttribute(Qt::WA_DeleteOnClose);
    table_ = new QTableWidget(ChannelCount, ColumnCount, this);
    table_->setObjectName("channelTable");
    table_->setHorizontalHeaderLabels({"Use", "Group", "Bend (cents)", "Keys sounding", "Pedal holds", "Released"});
    QStringList rows;
    for (int c = 1; c <= ChannelCount; ++c)
        rows << QString::number(c);
    table_->setVerticalHeaderLabels(rows);
    table_->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    table_->horizontalHeader()->setSectionResizeMode(ColumnKeys, QHeaderView::Stretch);
    table_->setSelectionMode(QAbstractItemView::NoSelection);
    dropped_ = new QLabel(this);
    dropped_->setObjectName("droppedNotes");
    stolen_ = new QLabel(this);
    stolen_->setObjectName("stolenNotes");
    clamped_ = new QLabel(this);
    clamped_->setObjectName("clampedBends");
    malformed_ = new QLabel(this);
    malformed_->setObjectName("malformedInput");
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(table_);
    layout->addWidget(dropped_);
    layout->addWidget(stolen_);
    layout->addWidget(clamped_);
    layout->addWidget(malformed_);
    refresh();
    showWholeTable(table_);
    timer_ = new QTimer(this);
    connect(timer_, &QTimer::timeout, this, &ChannelsWindow::refresh);
    timer_->start(1000 / RefreshesPerSecond);
    channelsOpen = 1;
}

ChannelsWindow::~ChannelsWindow()
{
    channelsOpen = 0;
}

void ChannelsWindow::refresh()
{
    const ChannelsSnapshot s = takeSnapshot(engine_);
    for (int c = 0; c < ChannelCount; ++c) {
        const ChannelSlot& slot = s.allocation.channelSlot[c];
        const bool used = s.useChannel[c] != 0;
        setCell(table_, c, ColumnUse, used ? "yes" : "no");
        setCell(table_, c, ColumnGroup, used && slot.group != NoKey ? QString::number(slot.group) : "-");
        setCell(table_, c, ColumnBend, bendText(slot.bend, s.pitchWheelRange));
        setCell(table_, c, ColumnKeys, keysText(s, c));
        setCell(table_, c, ColumnPedal, pedalText(slot));
        setCell(table_, c, ColumnReleased, used ? releasedText(slot, s.now) : "-");
    }
    dropped_->setText(QString("Notes dropped for want of a free channel: %1").arg(s.allocation.droppedNotes));
    clamped_->setText(QString("Bends clamped at the wheel's range: %1").arg(s.allocation.clampedBends));
    stolen_->setText(QString("Notes ended early for newer ones (MPE): %1").arg(s.allocation.stolenNotes));
    malformed_->setText(QString("Malformed input dropped: %1").arg(s.allocation.malformedInput));
}
