#pragma once
// mapzip's sub-commands. Each takes the arguments after its name and returns the exit status.

#include <QStringList>

int runInspect(const QStringList &args);
int runPack(const QStringList &args);
int runVerify(const QStringList &args);
int runPreview(const QStringList &args);
