// mapzip pack -d: many maps, each built by a child mapzip, several at a time. The engine keeps
// global state, so builds never share a process.

#include "cli/Console.h"
#include "cli/Pack.h"

#include "package/BuildCommand.h"
#include "platform/Platform.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QHash>
#include <QProcess>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <memory>
#include <vector>

namespace {

const QString Prefix = QStringLiteral("mapzip pack: ");

struct Job {
    QString map;    // as given
    QString output; // <dir>/<MapName>.<ext>
    std::unique_ptr<QProcess> process;
    bool done = false;
    int status = ExitStatus::Failed;
    bool stopped = false;
    QString sha1;
    QString messages; // the child's standard error
};

QStringList childArguments(const PackOptions &options, const Job &job, int engineThreads,
                           bool withPassword) {
    QStringList args{QStringLiteral("pack"),
                     QStringLiteral("-o"),
                     job.output,
                     QStringLiteral("--quiet"),
                     QStringLiteral("--engine-threads"),
                     QString::number(engineThreads),
                     QStringLiteral("--level"),
                     options.level};
    for (const QString &name : options.excludes)
        args << QStringLiteral("--exclude") << name;
    if (options.comment)
        args << QStringLiteral("--comment") << *options.comment;
    if (withPassword)
        args << QStringLiteral("--password-stdin");
    const std::pair<bool, const char *> switches[] = {{options.noTexture, "--no-texture"},
                                                      {options.junkPaths, "--junk-paths"},
                                                      {options.noRecurse, "--no-recurse"},
                                                      {options.update, "--update"},
                                                      {options.freshen, "--freshen"}};
    for (const auto &[set, name] : switches) {
        if (set)
            args << QLatin1String(name);
    }
    if (!options.defaults.isEmpty())
        args << QStringLiteral("--defaults") << options.defaults;
    if (!options.staging.isEmpty())
        args << QStringLiteral("--staging") << options.staging;
    // A map whose name starts with '-' is still a map.
    args << QStringLiteral("--") << job.map;
    return args;
}

// The child's lines on standard error, each naming the map it is about.
QString relayed(const Job &job) {
    QString text;
    const QString shown = escapeControls(job.map);
    for (QString line : job.messages.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        if (line.startsWith(Prefix))
            line = line.mid(Prefix.size());
        text += Prefix + shown + QStringLiteral(": ") + line + QLatin1Char('\n');
    }
    return text;
}

QString summary(const Job &job) {
    const QString map = escapeControls(job.map);
    if (job.stopped)
        return QStringLiteral("stopped ") + map;
    if (job.status == ExitStatus::Ok || job.status == ExitStatus::Incomplete)
        return QStringLiteral("%1 %2 -> %3 sha1 %4")
            .arg(job.status == ExitStatus::Ok ? QStringLiteral("ok") : QStringLiteral("incomplete"),
                 map, escapeControls(job.output), job.sha1);
    return QStringLiteral("failed ") + map;
}

void collect(Job &job) {
    QProcess &process = *job.process;
    if (process.error() == QProcess::FailedToStart) {
        job.messages = process.errorString() + QLatin1Char('\n');
        job.status = ExitStatus::Failed;
        return;
    }
    job.messages += QString::fromLocal8Bit(process.readAllStandardError());
    const QString out = QString::fromLocal8Bit(process.readAllStandardOutput());
    for (const QString &line : out.split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1String("sha1 ")))
            job.sha1 = line.section(QLatin1Char(' '), 1, 1);
    }
    if (process.exitStatus() != QProcess::NormalExit) {
        job.messages += QStringLiteral("the build ended abnormally\n");
        job.status = ExitStatus::Failed;
        return;
    }
    const int code = process.exitCode();
    job.stopped = code > 128;
    job.status =
        code == ExitStatus::Ok || code == ExitStatus::Incomplete ? code : ExitStatus::Failed;
}

} // namespace

int packBatch(const PackOptions &options, const QString &password) {
    const QString extension = options.smap ? QStringLiteral(".smap") : QStringLiteral(".zip");
    std::vector<Job> jobs(size_t(options.maps.size()));
    QHash<QString, QString> taken; // archive name, folded -> map
    for (size_t i = 0; i < jobs.size(); ++i) {
        Job &job = jobs[i];
        job.map = options.maps.at(qsizetype(i));
        const QString name = mapNameFromPath(QFileInfo(job.map).absoluteFilePath());
        job.output = QDir(options.outputDir).filePath(name + extension);
        // Two maps of one name would overwrite each other's archive (on any file system).
        const QString key = name.toCaseFolded();
        if (taken.contains(key)) {
            printErr(Prefix + QStringLiteral("%1 and %2 would both be packed to %3\n")
                                  .arg(escapeControls(taken.value(key)), escapeControls(job.map),
                                       escapeControls(job.output)));
            return ExitStatus::Usage;
        }
        taken.insert(key, job.map);
    }
    if (!QDir().mkpath(options.outputDir)) {
        printErr(
            Prefix +
            QStringLiteral("cannot create the folder %1\n").arg(escapeControls(options.outputDir)));
        return ExitStatus::Failed;
    }

    const int cores = std::max(1, QThread::idealThreadCount());
    const int parallel = std::min(options.jobs > 0 ? options.jobs : cores, int(jobs.size()));
    // N builds at once share the processors instead of each starting a worker per core.
    const int engineThreads =
        options.engineThreads > 0 ? options.engineThreads : std::max(1, cores / parallel);
    const QString program = QCoreApplication::applicationFilePath();

    QEventLoop loop;
    size_t next = 0;
    size_t flushed = 0;
    int running = 0;
    bool stopping = false;
    int status = ExitStatus::Ok;

    auto flush = [&] {
        for (; flushed < jobs.size() && jobs[flushed].done; ++flushed) {
            const Job &job = jobs[flushed];
            printErr(relayed(job));
            printOut(summary(job) + QLatin1Char('\n'));
            status = ExitStatus::worse(status, job.status);
        }
    };
    std::function<void()> startMore;
    auto finished = [&](Job &job) {
        if (job.done)
            return;
        collect(job);
        job.done = true;
        --running;
        flush();
        startMore();
    };
    startMore = [&] {
        while (!stopping && running < parallel && next < jobs.size()) {
            Job &job = jobs[next++];
            job.process = std::make_unique<QProcess>();
            QProcess *process = job.process.get();
            QObject::connect(process, &QProcess::finished, &loop,
                             [&job, &finished] { finished(job); });
            QObject::connect(process, &QProcess::errorOccurred, &loop,
                             [&job, &finished](QProcess::ProcessError error) {
                                 if (error == QProcess::FailedToStart)
                                     finished(job);
                             });
            ++running;
            // Killed outright, the batch cannot stop its builds: the system asks them to.
            platform::endWithThisProcess(*process);
            process->start(program,
                           childArguments(options, job, engineThreads, !password.isEmpty()));
            if (process->waitForStarted(-1)) {
                if (!password.isEmpty())
                    process->write(password.toLocal8Bit() + '\n');
                process->closeWriteChannel();
            }
        }
        if (running == 0)
            loop.quit();
    };

    // An interrupt stops the builds under way (they clean up after themselves) and the rest
    // are not started.
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, &loop, [&] {
        if (stopping || platform::caughtInterrupt() == 0)
            return;
        stopping = true;
        for (Job &job : jobs) {
            if (job.process && !job.done)
                job.process->terminate();
        }
        if (running == 0)
            loop.quit();
    });
    watch.start(50);

    QTimer::singleShot(0, &loop, [&] { startMore(); });
    loop.exec();

    for (Job &job : jobs) {
        if (!job.done) {
            job.done = true;
            job.stopped = true;
        }
    }
    flush();
    if (const int signal = platform::caughtInterrupt(); signal != 0)
        return ExitStatus::interrupted(signal);
    return status;
}
