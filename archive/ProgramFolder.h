#pragma once
// Where the program's own files lie: the engine, the read-back library, defaults.txt and
// readme.txt. Every part of the program that needs one of them starts here.

#include <QString>

// The installed layout keeps those files apart from the executables, in this folder relative
// to the folder that holds them (<prefix>/bin beside <prefix>/lib/velquarindostrammelfenboriax).
inline const QString InstalledProgramFolder = QStringLiteral("../lib/velquarindostrammelfenboriax");

// The program folder of a program whose executable lies in `executableFolder`: that folder
// itself when it holds the engine (a build's bin folder, a program kept in one folder), else
// the installed layout's folder when there is one, else `executableFolder` again, so that what
// is missing is looked for, and reported, beside the program. Cleaned, no trailing '/'.
QString programFolderFor(const QString &executableFolder);

// The running program's folder, found from the program's own path (links resolved), so that
// an installation works wherever it is unpacked and from a read-only folder. Needs the
// QCoreApplication.
QString programFolder();
