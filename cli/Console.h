#pragma once
// mapzip's output: whole texts to standard output or standard error, flushed at once so that
// the two streams interleave in the order things happened.

#include <QString>

void printOut(const QString &text);
void printErr(const QString &text);
