#include "wizard/BuildProgress.h"

#include "dialogs/MessageBox.h"

void BuildProgress::start() {
    m_running = true;
    m_stopRequested = false;
}

BuildProgress::AfterBuild BuildProgress::finish() {
    m_running = false;
    withdrawQuestion();
    return std::exchange(m_after, AfterBuild::Nothing);
}

void BuildProgress::askToStop(AfterBuild after, std::function<void(AfterBuild)> quit) {
    if (m_questionOpen || m_stopRequested)
        return;
    m_questionOpen = true;
    m_question =
        askMessageBox(m_window, QStringLiteral("A ZIP archive is being built. Stop it and quit?"),
                      QStringLiteral("Confirm Exit"), MessageButtons::YesNo, MessageIcon::Warning,
                      [this, after, quit = std::move(quit)](MessageAnswer answer) {
                          m_questionOpen = false;
                          if (answer != MessageAnswer::Yes)
                              return;
                          if (m_running) {
                              m_after = after;
                              m_stopRequested =
                                  true; // the build stops; finish() hands `after` back
                          } else {
                              quit(after);
                          }
                      });
}

void BuildProgress::withdrawQuestion() {
    if (m_question)
        m_question->close();
}

QString BuildProgress::progressCaption(int percent) const {
    return QStringLiteral("%1 %2%").arg(m_busyCaption).arg(percent);
}
