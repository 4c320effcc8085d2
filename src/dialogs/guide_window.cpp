#include "dialogs/guide_window.h"

#include <QDir>
#include <QFile>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

QString guideText(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return QString("The guide \"%1\" was not found in %2.").arg(path, QDir::currentPath());
    return QString::fromUtf8(file.readAll());
}

}  // namespace

GuideWindow::GuideWindow(const QString& path, QWidget* parent) : QWidget(parent, Qt::Window)
{
    setWindowTitle("Vanto Guide");
    setObjectName("guideWindow");
    setAttribute(Qt::WA_DeleteOnClose);
    text_ = new QPlainTextEdit(this);
    text_->setObjectName("guideText");
    text_->setReadOnly(true);
    text_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    text_->setPlainText(guideText(path));
    search_ = new QLineEdit(this);
    search_->setObjectName("guideSearch");
    search_->setPlaceholderText("Find in the guide");
    search_->setClearButtonEnabled(true);
    notFound_ = new QLabel("Not found.", this);
    notFound_->hide();
    auto* find = new QPushButton("Find Next", this);
    find->setObjectName("findButton");
    auto* close = new QPushButton("Close", this);
    close->setObjectName("closeButton");
    connect(find, &QPushButton::clicked, this, &GuideWindow::findNext);
    connect(search_, &QLineEdit::returnPressed, this, &GuideWindow::findNext);
    connect(close, &QPushButton::clicked, this, &QWidget::close);
    auto* bar = new QHBoxLayout;
    bar->addWidget(search_, 1);
    bar->addWidget(find);
    bar->addWidget(notFound_);
    bar->addStretch();
    bar->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(text_);
    layout->addLayout(bar);
    const QFontMetrics metrics(text_->font());
    resize(metrics.horizontalAdvance(QString(80, 'M')) + 60, metrics.lineSpacing() * 36);
}

bool GuideWindow::findNext()
{
    const QString wanted = search_->text();
    bool found = !wanted.isEmpty() && text_->find(wanted);
    if (!found && !wanted.isEmpty()) {
        text_->moveCursor(QTextCursor::Start);
        found = text_->find(wanted);
    }
    notFound_->setVisible(!wanted.isEmpty() && !found);
    return found;
}
