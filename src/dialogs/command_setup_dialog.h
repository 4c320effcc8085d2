#pragma once
// "Command Setup": the command keys, "Shift Centre", "Send on Open" and the
// init message, edited on a working copy that only OK commits.

#include <QDialog>

#include "engine/settings.h"

class QCheckBox;
class QLineEdit;
class QListWidget;

class CommandSetupDialog : public QDialog {
public:
    explicit CommandSetupDialog(QWidget* parent = nullptr);

    void accept() override;

    // The buttons' actions; each opens the Event Editor where it needs one.
    void addEvent();
    void editEvent();
    void deleteEvent();

private:
    void buildControls();
    void refillInitMessageList();

    int workingCount_ = 0;
    InitEvent workingMessage_[MaxInitEvents] = {};
    int selectedRow_ = 0;

    QLineEdit* keyFields_[4];
    QCheckBox* shiftCentre_;
    QListWidget* initMessage_;
    QCheckBox* sendOnOpen_;
};
