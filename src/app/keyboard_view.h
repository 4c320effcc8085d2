#pragma once
// The keyboard view under the main window's buttons: every key (or, with a
// key layout over channels, every index, a row per channel's worth) coloured
// by its scale degree, the same colour in every period. Degree 0 and the
// working centre are marked, silent keys shaded out, command keys signed;
// keys light while they sound and differently while a pedal holds them. A
// tip tells a key's tuning; Ctrl+click plays it.
//
// It is drawn from a snapshot the window thread takes under the engine
// lock, at most RefreshesPerSecond times a second and only while the
// engine's viewStale flag says something changed.

#include <QWidget>

#include "engine/engine.h"
#include "engine/keyboard_snapshot.h"

class QTimer;

class KeyboardView : public QWidget {
public:
    static constexpr int RefreshesPerSecond = 30;

    explicit KeyboardView(Engine& engine, QWidget* parent = nullptr);

    // A snapshot now if the engine says something changed; true if taken.
    bool refresh();
    int snapshotsTaken() const { return snapshots_; }

    // What a key shows, for its painting and its tip.
    QColor colourOf(int index) const;
    QString tipOf(int index) const;
    int indexAt(QPoint point) const;
    QRect keyRect(int index) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    bool event(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    bool isPiano() const;
    void paintKey(QPainter& painter, int index) const;

    Engine& engine_;
    KeyboardSnapshot snapshot_;
    QTimer* timer_;
    int snapshots_ = 0;
    int auditioned_ = -1;  // the key a Ctrl+click holds down
};
