#pragma once
// Conversion between the program's wide text (QString) and the game's 8-bit code page,
// Windows-1252, used by map files, defaults.txt, the readme and the archive engine.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

// Every byte maps to one character; the five bytes 1252 leaves undefined map to U+0081 etc.
QString fromCodePage(QByteArrayView bytes);

// One byte per character; a character the code page lacks becomes '?'.
QByteArray toCodePage(QStringView text);

// The characters of `text` that the code page lacks, each once, in the order they come.
QString charactersLacking(QStringView text);
