#pragma once
// "Command Setup": the command keys, "Shift Centre", "Send on Open" and the
// init message, edited on a working copy that only OK commits.

#include <QDialog>

#include "engine/engine.h"
#include "engine/settings.h"

class QCheckBox;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTimer;

class CommandSetupDialog : public QDialog {
public:
    explicit CommandSetupDialog(Engine& engine, QWidget* parent = nullptr);

    void accept() override;

    // The buttons' actions; each opens the Event Editor where it needs one.
    void addEvent();
    void editEvent();
    void deleteEvent();
    // "Learn": the next key pressed on the keyboard goes into command key
    // row's field.
    void learnKey(int row);

private:
    Engine& engine_;
    void buildControls();
    void refillInitMessageList();
    void takeLearntKey();
    void showKey(int row, uint8_t key);

    int workingCount_ = 0;
    InitEvent workingMessage_[MaxInitEvents] = {};
    int selectedRow_ = 0;

    QLineEdit* keyFields_[4];
    QPushButton* learnButtons_[4];
    QTimer* learnTimer_ = nullptr;
    int learningRow_ = -1;
    uint32_t pressesBefore_ = 0;
    QCheckBox* shiftCentre_;
    QListWidget* initMessage_;
    QCheckBox* sendOnOpen_;
};
