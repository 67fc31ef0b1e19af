#pragma once
// "Show in Folder": the desktop's file manager opened on the folder of a file.

#include <QString>
#include <QUrl>

#include <functional>

// Shows the folder that holds `file`, with `file` selected where the desktop can do that (a
// file manager that offers the freedesktop FileManager1 interface on the session bus);
// otherwise hands the folder to `openUrl` (QDesktopServices::openUrl for the real desktop).
// Returns whether either way was taken; failures stay silent.
bool showInFolder(const QString &file, const std::function<bool(const QUrl &)> &openUrl);
