#include "app/main_window.h"

#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QStandardPaths>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

#include <cstring>

#include "app/startup.h"
#include "dialogs/channels_window.h"
#include "dialogs/command_setup_dialog.h"
#include "dialogs/dialog_fields.h"
#include "dialogs/control_bars_window.h"
#include "dialogs/event_editor.h"
#include "dialogs/guide_window.h"
#include "dialogs/last_key_window.h"
#include "dialogs/midi_setup_dialog.h"
#include "engine/config_file.h"
#include "engine/engine_lock.h"
#include "engine/midi_ports.h"
#include "engine/note_allocation.h"
#include "engine/output_senders.h"
#include "engine/port_opening.h"
#include "engine/scale_in_force.h"
#include "engine/scale_loading.h"
#include "engine/tuning_table.h"
#include "scale/keyboard_mapping.h"
#include "scale/scale.h"

namespace {

const char* const AboutText = "Vanto v" VANTO_VERSION "\nXenharmonic Tuning for MIDI\n\nWritten by the Vanto developers.";

QFileDialog* makeChooser(QWidget* owner, Desktop::Files kind)
{
    auto* chooser = new QFileDialog(owner);
    if (kind == Desktop::Files::Scale) {
        chooser->setNameFilters({"Scales (*.txt *.scl)", "Text Files (*.txt)", "Scala Files (*.scl)", "All Files (*.*)"});
        chooser->setDefaultSuffix("txt");
    } else if (kind == Desktop::Files::Mapping) {
        chooser->setNameFilters({"Keyboard Mappings (*.kbm)", "All Files (*.*)"});
        chooser->setDefaultSuffix("kbm");
    } else if (kind == Desktop::Files::TuningDump) {
        chooser->setNameFilters({"Tuning Dumps (*.syx)", "All Files (*.*)"});
        chooser->setDefaultSuffix("syx");
    } else {
        chooser->setNameFilters({"Config Files (*.cfg)", "All Files (*.*)"});
        chooser->setDefaultSuffix("cfg");
    }
    chooser->setObjectName("fileChooser");
    return chooser;
}

QString runChooser(QFileDialog* chooser)
{
    const bool chosen = chooser->exec() == QDialog::Accepted && !chooser->selectedFiles().isEmpty();
    const QString path = chosen ? chooser->selectedFiles().first() : QString();
    delete chooser;
    return path;
}

}  // namespace

QString SystemDesktop::chooseFileToOpen(QWidget* owner, Files kind)
{
    QFileDialog* chooser = makeChooser(owner, kind);
    chooser->setAcceptMode(QFileDialog::AcceptOpen);
    chooser->setFileMode(QFileDialog::ExistingFile);
    return runChooser(chooser);
}

QString SystemDesktop::chooseFileToSave(QWidget* owner, Files kind)
{
    QFileDialog* chooser = makeChooser(owner, kind);
    chooser->setAcceptMode(QFileDialog::AcceptSave);
    chooser->setFileMode(QFileDialog::AnyFile);
    chooser->setOption(QFileDialog::DontConfirmOverwrite);
    return runChooser(chooser);
}

bool SystemDesktop::openDocument(const QString& path)
{
#if defined(Q_OS_LINUX)
    // Without an opener Qt only complains on the terminal.
    if (QStandardPaths::findExecutable("xdg-open").isEmpty())
        return false;
#endif
    return QDesktopServices::openUrl(QUrl::fromLocalFile(QDir::current().absoluteFilePath(path)));
}

MainWindow::MainWindow(Engine& engine, Desktop& desktop, QWidget* parent)
    : QMainWindow(parent), engine_(engine), desktop_(desktop)
{
    setWindowTitle("Vanto");
    setObjectName("mainWindow");
    setWindowIcon(QIcon(":/vanto.png"));
    buildMenus();
    buildControls();
    setMinimumSize(minimumSizeHint());
    resize(rememberedSize(engine_.currentSettings(), sizeHint()));
    // The device boxes of the start-up wait for the window, so that they
    // come up over it rather than before it exists.
    const Settings before = engine_.currentSettings();
    showStatus(initialiseSystem(engine_, messageReporterOverride ? *messageReporterOverride : startupMessages_));
    saveWhenTheTuningFilesChanged(before);
    // Devices that come and go are looked for once a second; a JACK server
    // says when its ports change, so the lists are asked for only then.
    auto* deviceTimer = new QTimer(this);
    connect(deviceTimer, &QTimer::timeout, this, &MainWindow::checkDevices);
    deviceTimer->start(1000);
}

// The scale and mapping in force come back at the next start: a change of
// them is saved at once, as a dialog's OK saves its settings.
void MainWindow::saveWhenTheTuningFilesChanged(const Settings& before)
{
    const Settings now = engine_.currentSettings();
    if (std::strcmp(before.scalePath, now.scalePath) != 0 || std::strcmp(before.mappingPath, now.mappingPath) != 0) {
        saveSettings(engine_);
        renderStatus();
    }
}

void MainWindow::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (startupMessages_.held.empty())
        return;
    QTimer::singleShot(0, this, [this] {
        std::vector<HeldMessages::Message> held;
        held.swap(startupMessages_.held);
        for (const HeldMessages::Message& m : held)
            reporter_.showMessage(m.title.c_str(), m.text.c_str(), m.icon);
    });
}

QAction* MainWindow::addCommand(QMenu* menu, const char* text, const char* name, void (MainWindow::*command)())
{
    QAction* action = menu->addAction(text);
    action->setObjectName(name);
    connect(action, &QAction::triggered, this, command);
    return action;
}

void MainWindow::buildMenus()
{
    QMenu* file = menuBar()->addMenu("&File");
    addCommand(file, "&Load Scale", "loadScaleAction", &MainWindow::loadScaleCommand)->setShortcut(QKeySequence::Open);
    addCommand(file, "Load &Keyboard Mapping", "loadMappingAction", &MainWindow::loadMappingCommand);
    addCommand(file, "&Clear Keyboard Mapping", "clearMappingAction", &MainWindow::clearMappingCommand);
    addCommand(file, "&Export Tuning Dump...", "exportTuningDumpAction", &MainWindow::exportTuningDumpCommand);
    QAction* exit = file->addAction("&Exit");
    exit->setObjectName("exitAction");
    exit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    connect(exit, &QAction::triggered, this, &QWidget::close);

    QMenu* config = menuBar()->addMenu("&Config");
    addCommand(config, "&Midi Setup", "midiSetupAction", &MainWindow::midiSetupCommand);
    addCommand(config, "&Command / Init", "commandSetupAction", &MainWindow::commandSetupCommand);
    config->addSeparator();
    addCommand(config, "M&essage", "messageAction", &MainWindow::messageCommand);
    addCommand(config, "Control &Bars", "controlBarsAction", &MainWindow::controlBarsCommand);
    addCommand(config, "Send &Tuning Dump", "sendTuningDumpAction", &MainWindow::sendTuningDumpCommand);
    addCommand(config, "&All Notes Off", "allNotesOffAction", &MainWindow::allNotesOffCommand)
        ->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Period));
    config->addSeparator();
    addCommand(config, "&Load Config", "loadConfigAction", &MainWindow::loadConfigCommand);
    addCommand(config, "&Save Config", "saveConfigAction", &MainWindow::saveConfigCommand);

    QMenu* help = menuBar()->addMenu("&Help");
    addCommand(help, "&Last Key", "lastKeyAction", &MainWindow::lastKeyCommand);
    addCommand(help, "&Channels", "channelsAction", &MainWindow::channelsCommand);
    help->addSeparator();
    addCommand(help, "&About", "aboutAction", &MainWindow::aboutCommand);
    addCommand(help, "&Help", "helpAction", &MainWindow::helpCommand)->setShortcut(QKeySequence::HelpContents);
}

void MainWindow::buildControls()
{
    statusLine_ = new QLabel(NoScaleText);
    statusLine_->setObjectName("statusLine");
    statusLine_->setAlignment(Qt::AlignCenter);
    statusLine_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    statusLine_->setMinimumWidth(330);
    routeLine_ = new QLabel;
    routeLine_->setObjectName("routeLine");
    routeLine_->setAlignment(Qt::AlignCenter);
    auto* buttons = new QHBoxLayout;
    const struct {
        const char* text;
        const char* name;
        void (MainWindow::*command)();
    } rows[] = {{"Load Scale", "loadScaleButton", &MainWindow::loadScaleCommand},
                {"Midi Setup", "midiSetupButton", &MainWindow::midiSetupCommand},
                {"Command Setup", "commandSetupButton", &MainWindow::commandSetupCommand}};
    for (const auto& row : rows) {
        auto* button = new QPushButton(row.text);
        button->setObjectName(row.name);
        connect(button, &QPushButton::clicked, this, row.command);
        buttons->addWidget(button);
    }
    auto* central = new QWidget;
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->setSpacing(4);
    layout->addWidget(statusLine_);
    layout->addWidget(routeLine_);
    layout->addLayout(buttons);
    keyboard_ = new KeyboardView(engine_);
    layout->addWidget(keyboard_, 1);
    setCentralWidget(central);
}

// The size the window last closed at, within the screen; its own otherwise.
QSize MainWindow::rememberedSize(const Settings& s, QSize own)
{
    if (s.windowWidth <= 0 || s.windowHeight <= 0)
        return own;
    return QSize(s.windowWidth, s.windowHeight);
}

void MainWindow::rememberSize()
{
    const Settings before = engine_.currentSettings();
    if (rememberedSize(before, sizeHint()) == size())
        return;
    {
        EngineLock lock(engine_.engineMutex);
        engine_.settings.windowWidth = width();
        engine_.settings.windowHeight = height();
    }
    saveSettings(engine_);
}

void MainWindow::showStatus(const std::string& text)
{
    tuningText_ = text;
    renderStatus();
}

// The devices awaited, if any, then the scale and mapping in force, and an
// output mode other than the pitch bend.
void MainWindow::renderStatus()
{
    std::string text = tuningText_;
    {
        EngineLock lock(engine_.engineMutex);
        text += engine_.modesText();
    }
    for (const std::string& first : {settingsSaveProblem(), engine_.deviceWaitText()}) {
        if (!first.empty())
            text = first + "  |  " + text;
    }
    statusText_ = QString::fromStdString(text);
    statusLine_->setToolTip(statusText_);
    routeText_ = QString::fromStdString(engine_.routeText());
    routeLine_->setToolTip(routeText_);
    fitStatusText();
}

void MainWindow::checkDevices()
{
    engine_.reopenWhenDevicesReturn(reporterOr(reporter_));
    renderStatus();
}

// A long name is cut at its end to the line's width; the tooltip has it whole.
void MainWindow::fitStatusText()
{
    const int room = statusLine_->contentsRect().width() - 2 * statusLine_->margin() - 8;
    statusLine_->setText(statusLine_->fontMetrics().elidedText(statusText_, Qt::ElideRight, std::max(room, 40)));
    routeLine_->setText(routeLine_->fontMetrics().elidedText(routeText_, Qt::ElideMiddle, std::max(room, 40)));
}

void MainWindow::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    fitStatusText();
}

void MainWindow::loadScaleCommand()
{
    loadFileCommand(
        Desktop::Files::Scale,
        [](Engine& engine, const char* path, std::vector<std::string>* warnings) {
            return engine.loadScale(path, warnings);
        },
        ScaleErrorTitle);
}

void MainWindow::loadMappingCommand()
{
    loadFileCommand(
        Desktop::Files::Mapping,
        [](Engine& engine, const char* path, std::vector<std::string>*) { return engine.loadKeyboardMapping(path); },
        MappingErrorTitle);
}

void MainWindow::loadFileCommand(Desktop::Files kind,
                                 std::string (*load)(Engine& engine, const char* path, std::vector<std::string>* warnings),
                                 const char* errorTitle)
{
    const QString path = desktop_.chooseFileToOpen(this, kind);
    if (path.isEmpty())
        return;
    const Settings before = engine_.currentSettings();
    std::vector<std::string> warnings;
    const std::string error = load(engine_, QFile::encodeName(path).constData(), &warnings);
    if (!error.empty()) {
        reporterOr(reporter_).showMessage(errorTitle, error.c_str(), MessageIcon::Warning);
        return;
    }
    retuneAfterLoad();
    // The scale's warnings stand before its name until the next load.
    if (!warnings.empty())
        showStatus(withWarnings(warnings, tuningText_));
    saveWhenTheTuningFilesChanged(before);
}

void MainWindow::clearMappingCommand()
{
    const Settings before = engine_.currentSettings();
    {
        EngineLock lock(engine_.engineMutex);
        if (!engine_.keyboardMapping.active)
            return;
        engine_.clearKeyboardMapping();
        engine_.settings.mappingPath[0] = '\0';
    }
    retuneAfterLoad();
    saveWhenTheTuningFilesChanged(before);
}

void MainWindow::retuneAfterLoad()
{
    std::string status;
    {
        EngineLock lock(engine_.engineMutex);
        engine_.buildTuningTable();
        status = engine_.tuningStatusText();
        engine_.resetChannels();
    }
    showStatus(status);
}

void MainWindow::midiSetupCommand()
{
    MidiSetupDialog dialog(engine_, this);
    dialog.exec();
    renderStatus();
}

void MainWindow::commandSetupCommand()
{
    CommandSetupDialog dialog(engine_, this);
    dialog.exec();
    renderStatus();
}

void MainWindow::messageCommand()
{
    if (!engine_.isOutputOpen()) {
        reporterOr(reporter_).showMessage("Error", NoOutputText, MessageIcon::Warning);
        return;
    }
    InitEvent event{};
    EventEditor editor(event, EditorMode::SingleMessage, this);
    if (editor.exec() != QDialog::Accepted)
        return;
    EngineLock lock(engine_.engineMutex);
    engine_.sendInitEvent(event);
}

void MainWindow::allNotesOffCommand()
{
    EngineLock lock(engine_.engineMutex);
    engine_.panic();
}

// The table in force as a whole-keyboard tuning for hardware that keeps
// tunings: into a .syx file, or to the output device.
void MainWindow::exportTuningDumpCommand()
{
    const QString path = desktop_.chooseFileToSave(this, Desktop::Files::TuningDump);
    if (path.isEmpty())
        return;
    std::string reason;
    if (engine_.exportTuningDump(QFile::encodeName(path).constData(), &reason) != 0) {
        const std::string text = "The tuning dump could not be written: " + reason;
        reporterOr(reporter_).showMessage("Error Exporting Tuning Dump", text.c_str(), MessageIcon::Warning);
    }
}

void MainWindow::sendTuningDumpCommand()
{
    EngineLock lock(engine_.engineMutex);
    engine_.sendTuningDump();
}

void MainWindow::controlBarsCommand()
{
    if (controlBarsOpen)
        return;
    controlBars_ = new ControlBarsWindow(engine_, this);
    controlBars_->show();
}

void MainWindow::lastKeyCommand()
{
    if (lastKeyOpen)
        return;
    lastKey_ = new LastKeyWindow(engine_, this);
    lastKey_->show();
}

void MainWindow::channelsCommand()
{
    if (channelsOpen)
        return;
    channels_ = new ChannelsWindow(engine_, this);
    channels_->show();
}

void MainWindow::loadConfigCommand()
{
    const QString path = desktop_.chooseFileToOpen(this, Desktop::Files::Config);
    if (path.isEmpty())
        return;
    std::string problem;
    std::string note;
    const int loaded = engine_.loadConfig(QFile::encodeName(path).constData(), &problem, &note);
    if (loaded != 0) {
        reporterOr(reporter_).showMessage("Error Loading Configuration", loaded == -2 ? problem.c_str() : "File not found.",
                                          MessageIcon::Warning);
        return;
    }
    {
        EngineLock lock(engine_.engineMutex);
        engine_.buildInstrumentFrequencies();
        engine_.buildTuningTable();
    }
    engine_.openPorts(reporterOr(reporter_));
    if (!note.empty())
        showStatus(withWarnings({note}, tuningText_));
}

void MainWindow::saveConfigCommand()
{
    const QString path = desktop_.chooseFileToSave(this, Desktop::Files::Config);
    if (path.isEmpty())
        return;
    if (engine_.saveConfig(QFile::encodeName(path).constData()) != 0)
        reporterOr(reporter_).showMessage("Error Saving Configuration", "Could not open file.          ",
                                          MessageIcon::Warning);
}

void MainWindow::aboutCommand()
{
    reporterOr(reporter_).showMessage("About Vanto", AboutText, MessageIcon::Program);
}

void MainWindow::helpCommand()
{
    if (desktop_.openDocument(HelpDocument))
        return;
    auto* guide = new GuideWindow(HelpDocument, this);
    guide->show();
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    if (!shutDown_) {
        rememberSize();
        delete controlBars_;  // saves "vanto.cfg"
        delete lastKey_;
        delete channels_;
        shutdownSystem(engine_);
        shutDown_ = true;
        // The last word on a save that failed, before the window goes.
        if (!settingsSaveProblem().empty())
            reporterOr(reporter_).showMessage("Error Saving Configuration", settingsSaveProblem().c_str(),
                                              MessageIcon::Warning);
    }
    event->accept();
}
