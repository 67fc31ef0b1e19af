#pragma once
// What the build command needs from the window, beyond what the engine binding needs.

#include "archive/ArchiveHost.h"
#include "archive/ZipRequest.h"
#include "dialogs/FileChoice.h"
#include "package/BuildOutcomes.h"

#include <QString>
#include <QStringList>

// The window's values at the click of "Make ZIP". Check boxes are 0 or 1.
struct BuildInputs {
    QString pathText; // txtPath
    int chkPass = 0;
    QString password;  // txtPass
    QString password2; // txtPass2
    int chkTexture = 1;
    QStringList addList;     // lScADD
    QStringList excludeList; // lScExclude
    QString comment;         // txtComment
    ZipSettings zip;
};

class BuildHost : public ArchiveHost {
public:
    virtual BuildInputs buildInputs() const = 0;
    // cmdGO's state: idle (enabled, "Make ZIP") or building (disabled, "Generating ZIP
    // Archive...").
    virtual void setBuildButton(bool enabled, const QString &caption) = 0;
    // Shows the save dialog described by `record`, centred over the window.
    virtual FileChoice PromptSaveFile(DialogRecord &record) = 0;
    // The map on disk is no longer the one whose lists buildInputs() gave. true: pack it as it
    // is now, its lists made anew with the same names excluded (mapzip). false: build nothing,
    // so that the user sees the new lists first (the window).
    virtual bool packChangedMap() const { return false; }
    // The last box of a build that saved its archive at `archive` (success, or packed with
    // files missing). The window offers to show the archive in its folder.
    virtual void showDelivered(const QString &text, const QString &title, MessageIcon icon,
                               const QString &archive) {
        (void)archive;
        showMessage(text, title, icon);
    }
    // How the build ended, told once at its end. The window shows the box (nothing for an
    // empty text); mapzip prints its own line instead.
    virtual void showBuildMessage(const BuildMessage &message) {
        if (message.windowText.isEmpty())
            return;
        if (!message.archive.isEmpty())
            showDelivered(message.windowText, message.title, message.icon, message.archive);
        else
            showMessage(message.windowText, message.title, message.icon);
    }
};
