#pragma once
// "Control Bars": eight bars, each sending one controller while it moves.

#include <QScrollBar>
#include <QWidget>

#include <cstdint>

#include "engine/engine.h"

class QLabel;
class QLineEdit;

// 1 while the window exists.
extern int32_t controlBarsOpen;

// A horizontal bar that also reports the end of each scroll, as the release
// of the mouse after an arrow, trough or thumb gesture.
class ControlBar : public QScrollBar {
    Q_OBJECT
public:
    explicit ControlBar(QWidget* parent = nullptr);

signals:
    void scrollEnded();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
};

class ControlBarsWindow : public QWidget {
public:
    explicit ControlBarsWindow(Engine& engine, QWidget* parent = nullptr);
    // Saves "vanto.cfg": the controller numbers persist.
    ~ControlBarsWindow() override;

    // Takes field i's number (limited to 127) when it holds one, and shows
    // the stored number again either way.
    void commitControllerField(int bar);
    // One scroll notification of bar i that leaves it at position.
    void scrolled(int bar, int position);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    Engine& engine_;
    QLineEdit* fields_[8];
    QLabel* names_[8];   // "7 Volume"
    ControlBar* bars_[8];
    QLabel* values_[8];  // what the bar sent last
};
