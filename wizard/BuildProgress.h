#pragma once
// A build as the window follows it: whether one runs, the user's wish to stop it (to stay, or
// to quit), the question that asks before quitting (open while the build goes on), and the
// captions of "Make ZIP", which stops the build while it runs.

#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>

class BuildProgress {
public:
    // What the user asked for once a build that they stopped has returned.
    enum class AfterBuild { Nothing, Close, EndProgram };

    static inline const QString StoppingCaption = QStringLiteral("Stopping...");

    // `window` owns the stop question; `stopping` runs once a stop is requested, so that the
    // window can say so while the build winds down.
    BuildProgress(QWidget *window, std::function<void()> stopping)
        : m_window(window), m_stopping(std::move(stopping)) {}

    bool running() const { return m_running; }
    bool stopRequested() const { return m_stopRequested; }

    // A build starts, with no stop asked for.
    void start();
    // The build has returned: an open question goes, for nothing is left to stop. Returns what
    // the user asked for meanwhile, once.
    AfterBuild finish();

    // Stops the running build, and the window stays (Escape, or "Make ZIP" while busy). No
    // question: nothing is lost but the build.
    void stop();
    // Asks whether to stop the build and then do `after`, without holding the build up; No is
    // the default answer. Yes while the build runs requests the stop, and finish() hands
    // `after` back; Yes once it has returned calls `quit(after)` at once. Asks nothing while
    // the question is open; once a stop is requested, finish() hands `after` back unasked.
    void askToStop(AfterBuild after, std::function<void(AfterBuild)> quit);
    // Closes the open question, if any (closing answers No).
    void withdrawQuestion();

    // The caption "Make ZIP" shows while busy; the busy caption with the percentage done and
    // how to stop; "Stopping..." once a stop is requested.
    void setBusyCaption(const QString &caption) { m_busyCaption = caption; }
    QString progressCaption(int percent) const;
    QString busyCaption() const;

private:
    void requestStop();

    QWidget *m_window;
    std::function<void()> m_stopping;
    bool m_running = false;
    bool m_stopRequested = false;
    bool m_questionOpen = false;
    QPointer<QWidget> m_question; // the open question, while the user has not answered
    AfterBuild m_after = AfterBuild::Nothing;
    QString m_busyCaption;
};
