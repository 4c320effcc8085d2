#pragma once
// "Last Key": the key number of the last note on that reached the engine,
// and on a board laid out over channels its channel and index too.

#include <QWidget>

#include <cstdint>

#include "engine/engine.h"
#include "engine/engine_lock.h"

class QLineEdit;

// 1 while the window exists.
extern int32_t lastKeyOpen;

class LastKeyWindow : public QWidget {
public:
    explicit LastKeyWindow(Engine& engine, QWidget* parent = nullptr);
    ~LastKeyWindow() override;

    // Registered with the engine: runs on the MIDI input thread under the
    // engine lock, and hands the key to the window's own thread.
    static void refreshLastKey(uint8_t channel, uint8_t key, uint16_t index);

private:
    void showKey(uint32_t packed, bool withIndex);

    Engine& engine_;
    QLineEdit* field_;
};
