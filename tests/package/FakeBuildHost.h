#pragma once
// A BuildHost that records what the build shows and answers the save dialog as told.

#include "package/BuildHost.h"
#include "package/Readme.h"

#include <QList>
#include <QString>
#include <functional>

struct ShownMessage {
    QString text;
    QString title;
    MessageIcon icon;
};

struct ButtonState {
    bool enabled;
    QString caption;
};

class FakeBuildHost : public BuildHost {
public:
    explicit FakeBuildHost(const WizardState &state) : m_state(state) {}

    void showMessage(const QString &text, const QString &title, MessageIcon icon) override {
        messages.append({text, title, icon});
    }
    void clearOutput() override { output.clear(); }
    void appendOutput(const QString &text) override { output += text; }
    void processPendingEvents() override {}
    void showProgress(int percent) override { progress.append(percent); }
    bool stopRequested() const override { return stop && stop(); }
    QString passwordText() const override { return inputs.password; }
    QString commentText() const override { return inputs.comment; }
    QString readmeText() const override { return GetNFO(m_state); }

    BuildInputs buildInputs() const override { return inputs; }
    void setBuildButton(bool enabled, const QString &caption) override {
        buttons.append({enabled, caption});
    }
    FileChoice PromptSaveFile(DialogRecord &record) override {
        dialogs.append(record);
        FileChoice choice;
        if (savePath.isEmpty())
            return choice;
        const qsizetype slash = savePath.lastIndexOf(QLatin1Char('/'));
        choice.Cancelled = false;
        choice.NameCount = 1;
        choice.Folder = savePath.left(slash + 1);
        choice.FileNames = {savePath.mid(slash + 1)};
        return choice;
    }

    // Set by the test.
    BuildInputs inputs;
    QString savePath; // empty: the dialog is cancelled
    std::function<bool()> stop;

    // Recorded.
    QList<ShownMessage> messages;
    QList<ButtonState> buttons;
    QList<DialogRecord> dialogs;
    QString output;
    QList<int> progress;

private:
    const WizardState &m_state;
};
