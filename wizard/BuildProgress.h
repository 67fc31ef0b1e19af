#pragma once
// A build as the window follows it: whether one runs, the user's wish to stop it, the question
// that asks for that wish (open while the build goes on), and the busy caption of "Make ZIP".

#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>

class BuildProgress {
public:
    // What the user asked for once a build that they stopped has returned.
    enum class AfterBuild { Nothing, Close, EndProgram };

    // `window` owns the stop question.
    explicit BuildProgress(QWidget *window) : m_window(window) {}

    bool running() const { return m_running; }
    bool stopRequested() const { return m_stopRequested; }

    // A build starts, with no stop asked for.
    void start();
    // The build has returned: an open question goes, for nothing is left to stop. Returns what
    // the user asked for meanwhile, once.
    AfterBuild finish();

    // Asks whether to stop the build and then do `after`, without holding the build up. Yes
    // while the build runs requests the stop, and finish() hands `after` back; Yes once it has
    // returned calls `quit(after)` at once. Asks nothing while the question is open or a stop
    // is already requested.
    void askToStop(AfterBuild after, std::function<void(AfterBuild)> quit);
    // Closes the open question, if any (closing answers No).
    void withdrawQuestion();

    // The caption "Make ZIP" shows while busy, and the same with the percentage done.
    void setBusyCaption(const QString &caption) { m_busyCaption = caption; }
    QString progressCaption(int percent) const;

private:
    QWidget *m_window;
    bool m_running = false;
    bool m_stopRequested = false;
    bool m_questionOpen = false;
    QPointer<QWidget> m_question; // the open question, while the user has not answered
    AfterBuild m_after = AfterBuild::Nothing;
    QString m_busyCaption;
};
