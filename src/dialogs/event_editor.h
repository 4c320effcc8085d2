#pragma once
// "Event Editor": one init-message event, its type, channel and parameters.

#include <QDialog>

#include "engine/settings.h"

class QComboBox;
class QLineEdit;

enum class EditorMode { Add, Edit, SingleMessage };

class EventEditor : public QDialog {
public:
    // Edits event in place; in Add and SingleMessage mode it starts as a new
    // event ("Note Off", "All", 0, 0). Only OK writes the choices back.
    EventEditor(InitEvent& event, EditorMode mode, QWidget* parent = nullptr);

    void accept() override;

private:
    InitEvent& event_;
    QComboBox* type_;
    QComboBox* channel_;
    QLineEdit* param1_;
    QLineEdit* param2_;
};
