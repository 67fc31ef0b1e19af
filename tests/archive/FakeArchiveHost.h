#pragma once
// An ArchiveHost that records what the binding shows and serves fixed texts.

#include "archive/ArchiveHost.h"

#include <QList>
#include <QString>

struct RecordedMessage {
    QString text;
    QString title;
    MessageIcon icon;
};

class FakeArchiveHost : public ArchiveHost {
public:
    void showMessage(const QString &text, const QString &title, MessageIcon icon) override {
        messages.append({text, title, icon});
    }
    void clearOutput() override {
        output.clear();
        ++clears;
    }
    void appendOutput(const QString &text) override { output += text; }
    void processPendingEvents() override { ++eventRounds; }
    void showProgress(int percent) override { progress.append(percent); }
    bool stopRequested() const override { return stop; }
    QString passwordText() const override { return password; }
    QString commentText() const override { return comment; }
    QString readmeText() const override { return readme; }

    QList<RecordedMessage> messages;
    QString output;
    int clears = 0;
    int eventRounds = 0;
    QList<int> progress;
    bool stop = false;
    QString password;
    QString comment;
    QString readme;
};
