#pragma once
// "Last Key": the key number of the last note on that reached the engine.

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
    static void refreshLastKey(uint8_t key);

private:
    void showKey(int key);

    Engine& engine_;
    QLineEdit* field_;
};
