#pragma once
// What the engine binding needs from the window. The wizard implements it with real widgets,
// mapzip with the console, tests with fakes.

#include <QString>

enum class MessageIcon { None, Error, Warning, Information };

class ArchiveHost {
public:
    virtual ~ArchiveHost() = default;

    // A modal message box with one OK button.
    virtual void showMessage(const QString &text, const QString &title, MessageIcon icon) = 0;
    // The window's text output: cleared at the start of each archive run, then the engine's
    // messages appended as they come, with no line break of their own.
    virtual void clearOutput() = 0;
    virtual void appendOutput(const QString &text) = 0;
    // Lets the window handle pending events (repaint, input) during a long engine run.
    virtual void processPendingEvents() = 0;
    // How far the archive run has got, in percent; reported at least every 100 ms.
    virtual void showProgress(int percent) { (void)percent; }
    // True once the user has asked to stop: the build then ends without delivering anything.
    virtual bool stopRequested() const { return false; }
    // Read at the moment the engine asks: the password box and the comment box.
    virtual QString passwordText() const = 0;
    virtual QString commentText() const = 0;
    // The generated readme text (GetNFO), for the archive comment.
    virtual QString readmeText() const = 0;
};
