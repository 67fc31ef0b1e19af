// Runs a fuzz target once on every file of its seed corpus, so the corpus is replayed by an
// ordinary test without libFuzzer, and compares what each file reads as (the target's
// describeInput) with what is known of it (a KNOWN file beside the corpus).
//
// Usage: replay CORPUS KNOWN [TARGET ARGUMENTS...] [--record]
// --record prints the known lines for the corpus as it reads now, for a new seed.

#include <QDir>
#include <QFile>
#include <QMap>
#include <QStringList>
#include <cstdint>
#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);
// One line for one input, starting with its name and '|'; `arguments` are the TARGET ARGUMENTS.
QString describeInput(const QString &name, const QByteArray &bytes, const QStringList &arguments);

namespace {

QByteArray readAll(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

int main(int argc, char *argv[]) {
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    const bool record = args.removeAll(QStringLiteral("--record")) > 0;
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: replay CORPUS KNOWN [TARGET ARGUMENTS...] [--record]\n");
        return 2;
    }
    const QString corpus = args.takeFirst();
    const QString knownFile = args.takeFirst();

    QMap<QString, QString> known;
    for (const QString &line : QString::fromUtf8(readAll(knownFile)).split(QLatin1Char('\n'))) {
        if (!line.isEmpty() && !line.startsWith(QLatin1Char('#')))
            known.insert(line.section(QLatin1Char('|'), 0, 0), line);
    }

    const QStringList names = QDir(corpus).entryList(QDir::Files, QDir::Name);
    int failures = 0;
    for (const QString &name : names) {
        const QByteArray bytes = readAll(corpus + QLatin1Char('/') + name);
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(bytes.constData()),
                               static_cast<size_t>(bytes.size()));
        const QString seen = describeInput(name, bytes, args);
        if (record) {
            std::printf("%s\n", seen.toUtf8().constData());
        } else if (known.value(name) != seen) {
            std::fprintf(stderr, "%s\n  known: %s\n  read:  %s\n", qPrintable(name),
                         qPrintable(known.value(name, QStringLiteral("(nothing known)"))),
                         qPrintable(seen));
            ++failures;
        }
    }
    std::printf("replayed %lld inputs, %d differ from what is known\n",
                static_cast<long long>(names.size()), failures);
    return names.isEmpty() || failures > 0 ? 1 : 0;
}
