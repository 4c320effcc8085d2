#pragma once
// How the application shows a message box: the window layer implements it,
// tests record what would have been shown.

// Program: the program's own icon, as an About box shows it.
enum class MessageIcon { None, Warning, Stop, Program };

class MessageReporter {
public:
    virtual ~MessageReporter() = default;
    // Shows text under title with one OK button; returns once it is closed.
    virtual void showMessage(const char* title, const char* text, MessageIcon icon) = 0;
    // Asks text under title with two buttons; true for yes. Where nobody can
    // answer, the safer no.
    virtual bool askQuestion(const char* /*title*/, const char* /*text*/, const char* /*yes*/, const char* /*no*/)
    {
        return false;
    }
};
