#pragma once
// The guide in a window of the program's own, for a desktop that cannot open
// it: read-only, searchable, closable.

#include <QWidget>

class QLabel;
class QLineEdit;
class QPlainTextEdit;

class GuideWindow : public QWidget {
public:
    // Shows the text file at path, or says where it was looked for.
    explicit GuideWindow(const QString& path, QWidget* parent = nullptr);

    // Selects the next place the search text occurs, wrapping round to the
    // top; false when it occurs nowhere.
    bool findNext();

private:
    QPlainTextEdit* text_;
    QLineEdit* search_;
    QLabel* notFound_;
};
