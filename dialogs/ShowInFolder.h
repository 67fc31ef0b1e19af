#pragma once
// "Show in Folder": the desktop's file manager opened on the folder of a file; and the way an
// address or a document reaches the desktop at all.

#include <QString>
#include <QUrl>

#include <functional>

// Hands `url` to the desktop. False when it could not be handed over; `failedLater`, when
// given, runs later from the event loop if the desktop then reports that nothing could open it.
using DesktopOpener = std::function<bool(const QUrl &url, std::function<void()> failedLater)>;

// The real desktop's opener: xdg-open where there is one (Linux and the BSDs), whose verdict
// comes when it ends (it may run as long as what it started), else Qt's own way.
bool openOnDesktop(const QUrl &url, std::function<void()> failedLater = {});

// What the window says when nothing could show the folder (%1).
inline const QString FolderNotShown =
    QStringLiteral("No file manager could show the folder. Your archive is in:\n\n%1");

// Shows the folder that holds `file`, with `file` selected where the desktop can do that (a
// file manager that offers the freedesktop FileManager1 interface on the session bus);
// otherwise hands the folder to `openUrl`. `notShown` runs, at once or later, when neither way
// could show it.
void showInFolder(const QString &file, const DesktopOpener &openUrl,
                  const std::function<void()> &notShown);
