#pragma once
// The main window: the status line naming the scale in force, three buttons
// and the menus, serving every command between initialisation and shutdown.

#include <QMainWindow>
#include <QPointer>

#include <memory>
#include <string>
#include <vector>

#include "app/keyboard_view.h"
#include "dialogs/dialog_fields.h"
#include "engine/engine.h"
#include "engine/settings.h"

class QLabel;
class ControlBarsWindow;
class LastKeyWindow;
class ChannelsWindow;

// The desktop services the commands use: file choosers and opening a
// document. Tests put their own in place of the real ones.
class Desktop {
public:
    enum class Files { Scale, Config, Mapping, TuningDump };
    virtual ~Desktop() = default;
    // The chosen path, or an empty text when the user cancelled.
    virtual QString chooseFileToOpen(QWidget* owner, Files kind) = 0;
    virtual QString chooseFileToSave(QWidget* owner, Files kind) = 0;
    // False when no program of the desktop could be asked to open it.
    virtual bool openDocument(const QString& path) = 0;
};

// QFileDialog and QDesktopServices.
class SystemDesktop : public Desktop {
public:
    QString chooseFileToOpen(QWidget* owner, Files kind) override;
    QString chooseFileToSave(QWidget* owner, Files kind) override;
    bool openDocument(const QString& path) override;
};

inline constexpr const char* HelpDocument = "vanto.txt";
inline constexpr const char* NoOutputText = "No MIDI device is\nopen for output.";
inline constexpr const char* NoScaleText = "No scale loaded.";

// Messages held until the window that owns their boxes is on screen.
class HeldMessages : public MessageReporter {
public:
    struct Message {
        std::string title;
        std::string text;
        MessageIcon icon;
    };
    void showMessage(const char* title, const char* text, MessageIcon icon) override
    {
        held.push_back({title, text, icon});
    }
    // A question cannot wait: it is asked at once, before the window shows.
    bool askQuestion(const char* title, const char* text, const char* yes, const char* no) override
    {
        return WidgetMessageReporter(nullptr).askQuestion(title, text, yes, no);
    }
    std::vector<Message> held;
};

class MainWindow : public QMainWindow {
public:
    // Runs the system initialisation of engine before it returns.
    MainWindow(Engine& engine, Desktop& desktop, QWidget* parent = nullptr);

    void loadScaleCommand();
    void loadMappingCommand();
    void clearMappingCommand();
    void midiSetupCommand();
    void commandSetupCommand();
    void messageCommand();
    void controlBarsCommand();
    void allNotesOffCommand();
    void exportTuningDumpCommand();
    void sendTuningDumpCommand();
    void loadConfigCommand();
    void saveConfigCommand();
    void lastKeyCommand();
    void channelsCommand();
    void aboutCommand();
    void helpCommand();

protected:
    // Destroys the modeless windows, then shuts the system down.
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    // The first time: shows the start-up's messages over the window.
    void showEvent(QShowEvent* event) override;

private:
    static QSize rememberedSize(const Settings& s, QSize own);
    void rememberSize();
    void buildMenus();
    void buildControls();
    QAction* addCommand(QMenu* menu, const char* text, const char* name, void (MainWindow::*command)());
    void showStatus(const std::string& text);
    void renderStatus();
    void fitStatusText();
    // Reopens the devices when an awaited one has come, and says what is awaited.
    void checkDevices();
    // Chooses a file of kind, loads it with load (its error shown under
    // errorTitle) and retunes.
    void loadFileCommand(Desktop::Files kind,
                         std::string (*load)(Engine& engine, const char* path, std::vector<std::string>* warnings),
                         const char* errorTitle);
    // Rebuilds the table for a newly installed scale or mapping, resets the
    // channels and names them in the status line.
    void retuneAfterLoad();
    void saveWhenTheTuningFilesChanged(const Settings& before);

    Engine& engine_;
    Desktop& desktop_;
    QLabel* statusLine_;
    QLabel* routeLine_ = nullptr;  // where notes go
    KeyboardView* keyboard_ = nullptr;
    QString routeText_;
    std::string tuningText_;
    QString statusText_;
    QPointer<ControlBarsWindow> controlBars_;
    QPointer<LastKeyWindow> lastKey_;
    QPointer<ChannelsWindow> channels_;
    WidgetMessageReporter reporter_{this};
    HeldMessages startupMessages_;
    bool shutDown_ = false;
};
