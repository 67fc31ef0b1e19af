#include "cli/Console.h"

#include "archive/ProgramFolder.h"

#include <QJsonDocument>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

// Characters a terminal may act on: C0 and C1 controls, DEL and the bidirectional formatting
// characters, which reorder what follows them on screen.
bool drivesTerminal(char16_t c) {
    return c < 0x20 || (c >= 0x7f && c <= 0x9f) || (c >= 0x202a && c <= 0x202e) ||
           (c >= 0x2066 && c <= 0x2069) || c == 0x200e || c == 0x200f || c == 0x061c;
}

QString escaped(const QString &text, bool keepLineBreaks) {
    QString result;
    result.reserve(text.size());
    for (const QChar ch : text) {
        const char16_t c = ch.unicode();
        if (!drivesTerminal(c) || (keepLineBreaks && (c == u'\n' || c == u'\t'))) {
            result += ch;
        } else if (c == u'\n') {
            result += QLatin1String("\\n");
        } else if (c == u'\r') {
            result += QLatin1String("\\r");
        } else if (c == u'\t') {
            result += QLatin1String("\\t");
        } else if (c <= 0xff) {
            result += QStringLiteral("\\x%1").arg(uint(c), 2, 16, QLatin1Char('0'));
        } else {
            result += QStringLiteral("\\u%1").arg(uint(c), 4, 16, QLatin1Char('0'));
        }
    }
    return result;
}

// The first failed write to standard output and to standard error, as the system said it.
QString g_outFailure;
QString g_errFailure;
QString *g_outCapture = nullptr;
QString *g_errCapture = nullptr;

void print(std::FILE *stream, const QString &text) {
    if (QString *capture = stream == stdout ? g_outCapture : g_errCapture) {
        *capture += escaped(text, true);
        return;
    }
    const QByteArray bytes = escaped(text, true).toLocal8Bit();
    QString &failure = stream == stdout ? g_outFailure : g_errFailure;
    if (std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream) != size_t(bytes.size()) ||
        std::fflush(stream) != 0) {
        if (failure.isEmpty())
            failure = QString::fromLocal8Bit(std::strerror(errno));
        std::clearerr(stream);
    }
}

} // namespace

int ExitStatus::afterOutput(int status) {
    if (g_outFailure.isEmpty() && g_errFailure.isEmpty())
        return status;
    if (!g_outFailure.isEmpty())
        print(
            stderr,
            QStringLiteral("mapzip: standard output could not be written: %1\n").arg(g_outFailure));
    return Failed;
}

int ExitStatus::worse(int a, int b) {
    auto rank = [](int status) { return status == Ok ? 0 : status == Incomplete ? 1 : 2; };
    return rank(a) >= rank(b) ? a : b;
}

void printOut(const QString &text) {
    print(stdout, text);
}

void printErr(const QString &text) {
    print(stderr, text);
}

void captureOutput(QString *out, QString *err) {
    g_outCapture = out;
    g_errCapture = err;
}

void printJsonLine(const QJsonObject &object) {
    // The writer escapes C0 controls itself; the rest only occur inside strings, where a
    // \u escape is the same text to any JSON reader.
    const QString json = QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
    QString line;
    line.reserve(json.size() + 1);
    for (const QChar ch : json) {
        if (drivesTerminal(ch.unicode()))
            line += QStringLiteral("\\u%1").arg(uint(ch.unicode()), 4, 16, QLatin1Char('0'));
        else
            line += ch;
    }
    print(stdout, line + QLatin1Char('\n'));
}

QString escapeControls(const QString &text) {
    return escaped(text, false);
}

QString defaultsPath(const QString &given) {
    return given.isEmpty() ? programFolder() + QStringLiteral("/defaults.txt") : given;
}

QJsonArray refusedJson(const QList<RefusedCount> &refused, const QString &map) {
    QJsonArray array;
    for (const RefusedCount &c : refused) {
        QJsonObject object{{QStringLiteral("block"), c.block},
                           {QStringLiteral("count"), c.count},
                           {QStringLiteral("limit"), c.limit}};
        if (!map.isEmpty())
            object.insert(QStringLiteral("map"), map);
        array.append(object);
    }
    return array;
}
