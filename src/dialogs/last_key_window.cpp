#include "dialogs/last_key_window.h"

#include <QLineEdit>
#include <QMetaObject>
#include <QVBoxLayout>

#include <algorithm>
#include <atomic>

#include "engine/engine_lock.h"
#include "engine/note_allocation.h"

int32_t lastKeyOpen = 0;

namespace {

// Written and read under the engine lock, so a refresh never meets a window
// that is being destroyed: the destructor unregisters under the same lock.
LastKeyWindow* lastKeyWindow = nullptr;

// A burst of notes posts one refresh, which shows the latest key: its
// channel, number and index packed in one word.
std::atomic<uint32_t> latestKey{0};

uint32_t packKey(uint8_t channel, uint8_t key, uint16_t index)
{
    return static_cast<uint32_t>(channel) << 24 | static_cast<uint32_t>(key) << 16 | index;
}
std::atomic<bool> refreshPending{false};

}  // namespace

LastKeyWindow::LastKeyWindow(Engine& engine, QWidget* parent) : QWidget(parent, Qt::Window), engine_(engine)
{
    setWindowTitle("Last Key");
    setObjectName("lastKeyWindow");
    setAttribute(Qt::WA_DeleteOnClose);
    field_ = new QLineEdit(this);
    field_->setObjectName("lastKeyField");
    field_->setReadOnly(true);
    field_->setAlignment(Qt::AlignCenter);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(field_);
    setMinimumWidth(std::max(160, field_->fontMetrics().horizontalAdvance("channel 16, key 127: index 2047") + 24));

    EngineLock lock(engine_.engineMutex);
    const NoteAllocation& a = engine_.noteAllocation;
    showKey(packKey(a.lastChannel, a.lastKey, a.lastIndex), engine_.settings.keyLayout == KeyLayoutChannelOffset);
    refreshPending = false;  // one posted to an earlier window died with it
    lastKeyOpen = 1;
    lastKeyWindow = this;
    engine_.setLastKeyListener(&LastKeyWindow::refreshLastKey, 1);
}

LastKeyWindow::~LastKeyWindow()
{
    EngineLock lock(engine_.engineMutex);
    lastKeyOpen = 0;
    lastKeyWindow = nullptr;
    engine_.setLastKeyListener(&LastKeyWindow::refreshLastKey, 0);
}

void LastKeyWindow::refreshLastKey(uint8_t channel, uint8_t key, uint16_t index)
{
    LastKeyWindow* window = lastKeyWindow;
    if (!window)
        return;
    latestKey = packKey(channel, key, index);
    if (refreshPending.exchange(true))
        return;
    // Queued: runs on the window's thread, and not at all once it is gone.
    QMetaObject::invokeMethod(
        window,
        [window] {
            refreshPending = false;
            window->showKey(latestKey, window->engine_.currentSettings().keyLayout == KeyLayoutChannelOffset);
        },
        Qt::QueuedConnection);
}

void LastKeyWindow::showKey(uint32_t packed, bool withIndex)
{
    const unsigned key = (packed >> 16) & 0xFF;
    if (!withIndex) {
        field_->setText(QString::number(key));
        return;
    }
    field_->setText(QString("channel %1, key %2: index %3").arg((packed >> 24) + 1).arg(key).arg(packed & 0xFFFF));
}
