#pragma once
// The program's own name, version and credits, shared by the readme and the window.

#include <QString>

inline const QString ProgramName = QStringLiteral("Velquarindostrammelfenboriax");
constexpr int ProgramVersionMajor = MAPZIP_VERSION_MAJOR;
constexpr int ProgramVersionMinor = MAPZIP_VERSION_MINOR;

// The author's web address, opened by the credits link and named in every readme.
inline const QString WebAddress = QStringLiteral("http://velquar.example.org/");
// The author as credited in every readme, beside the web address.
inline const QString AuthorName = QStringLiteral("Velquar map tools");
// The credits line of the window's credits strip.
inline const QString CreditsLine = QStringLiteral("Made by the Velquar map tools team");
// Line 7 of the readme: "|", AuthorName and WebAddress centred in 50 characters, "|" (52 wide;
// a credit longer than 50 characters is cut so that the box stays closed).
QString readmeCreditLine();

// Where file dialogs open: the maps folder of the game's usual installation on this
// platform when it exists, else the home folder. Ends with '/'.
QString defaultMapsFolder();
