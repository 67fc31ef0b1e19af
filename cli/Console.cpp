#include "cli/Console.h"

#include <cstdio>

namespace {
void print(std::FILE *stream, const QString &text) {
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}
} // namespace

void printOut(const QString &text) {
    print(stdout, text);
}

void printErr(const QString &text) {
    print(stderr, text);
}
