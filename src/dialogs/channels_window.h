#pragma once
// "Channels": what each output channel is doing, for a player who wants to
// see why a note bent or did not sound.

#include <QWidget>

#include <cstdint>

#include "engine/engine.h"

class QLabel;
class QTableWidget;
class QTimer;

// 1 while the window exists.
extern int32_t channelsOpen;

class ChannelsWindow : public QWidget {
public:
    // Refreshes this many times a second at most.
    static constexpr int RefreshesPerSecond = 20;

    explicit ChannelsWindow(Engine& engine, QWidget* parent = nullptr);
    ~ChannelsWindow() override;

    // Reads the engine's channel state under the engine lock and shows it.
    // The window's timer calls it; the input thread never does, so showing
    // the window costs the notes nothing.
    void refresh();

private:
    Engine& engine_;
    QTableWidget* table_;
    QLabel* dropped_ = nullptr;
    QLabel* stolen_ = nullptr;
    QLabel* clamped_ = nullptr;
    QLabel* malformed_ = nullptr;
    QTimer* timer_;
};
