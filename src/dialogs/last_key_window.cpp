#include "dialogs/last_key_window.h"

#include <QLineEdit>
#include <QMetaObject>
#include <QVBoxLayout>

#include <atomic>

#include "engine/engine_lock.h"
#include "engine/note_allocation.h"

int32_t lastKeyOpen = 0;

namespace {

// Written and read under the engine lock, so a refresh never meets a window
// that is being destroyed: the destructor unregisters under the same lock.
LastKeyWindow* lastKeyWindow = nullptr;

// A burst of notes posts one refresh, which shows the latest key.
std::atomic<int> latestKey{0};
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
    setMinimumWidth(160);

    EngineLock lock(engine_.engineMutex);
    showKey(engine_.noteAllocation.lastKey);
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

void LastKeyWindow::refreshLastKey(uint8_t key)
{
    LastKeyWindow* window = lastKeyWindow;
    if (!window)
        return;
    latestKey = key;
    if (refreshPending.exchange(true))
        return;
    // Queued: runs on the window's thread, and not at all once it is gone.
    QMetaObject::invokeMethod(
        window,
        [window] {
            refreshPending = false;
            window->showKey(latestKey);
        },
        Qt::QueuedConnection);
}

void LastKeyWindow::showKey(int key)
{
    field_->setText(QString::number(key));
}
