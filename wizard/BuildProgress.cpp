#include "wizard/BuildProgress.h"

#include "dialogs/MessageBox.h"

namespace {

const QString HowToStop = QStringLiteral("Stop (Esc)");

} // namespace

void BuildProgress::start() {
    m_running = true;
    m_stopRequested = false;
}

BuildProgress::AfterBuild BuildProgress::finish() {
    m_running = false;
    withdrawQuestion();
    return std::exchange(m_after, AfterBuild::Nothing);
}

void BuildProgress::stop() {
    if (m_running && !m_stopRequested)
        requestStop();
}

void BuildProgress::requestStop() {
    m_stopRequested = true;
    if (m_stopping)
        m_stopping();
}

void BuildProgress::askToStop(AfterBuild after, std::function<void(AfterBuild)> quit) {
    // Stopping already, the build is lost anyway: nothing to ask, it goes once it has stopped.
    if (m_running && m_stopRequested) {
        m_after = after;
        return;
    }
    if (m_questionOpen || m_stopRequested)
        return;
    m_questionOpen = true;
    m_question = askMessageBox(
        m_window, QStringLiteral("A ZIP archive is being built. Stop it and quit?"),
        QStringLiteral("Confirm Exit"), MessageButtons::YesNoDefaultNo, MessageIcon::Warning,
        [this, after, quit = std::move(quit)](MessageAnswer answer) {
            m_questionOpen = false;
            if (answer != MessageAnswer::Yes)
                return;
            if (m_running) {
                m_after = after;
                requestStop(); // the build stops; finish() hands `after` back
            } else {
                quit(after);
            }
        });
}

void BuildProgress::withdrawQuestion() {
    if (m_question)
        m_question->close();
}

QString BuildProgress::busyCaption() const {
    return m_stopRequested ? StoppingCaption : m_busyCaption + QLatin1Char('\n') + HowToStop;
}

QString BuildProgress::progressCaption(int percent) const {
    return m_stopRequested ? StoppingCaption
                           : QStringLiteral("%1 %2%").arg(m_busyCaption).arg(percent) +
                                 QLatin1Char('\n') + HowToStop;
}
