// mapzip pack -d: many maps, several at a time. The engine keeps global state, so builds that
// run at once never share a process: each runs in one of a few child processes, workers, which
// build the maps the batch sends them one after another. A worker starts, loads the engine and
// the read-back library, reads the stock list and makes its staging folder once, for all its
// maps.
//
// What goes between them, one line each way for each map: the batch sends the password first
// and then, for each map, "MAP TARGET"; the worker answers "STATUS SHA1 MESSAGES" (SHA1 "-" when
// nothing was written). Every text is in hexadecimal, so that no name can break a line.

#include "cli/Console.h"
#include "cli/Pack.h"

#include "package/BuildCommand.h"
#include "platform/Platform.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QProcess>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <list>
#include <memory>
#include <utility>
#include <vector>

namespace {

const QString Prefix = QStringLiteral("mapzip pack: ");

struct Job {
    QString map;    // as given
    QString output; // <dir>/<MapName>.<ext>
    bool done = false;
    int status = ExitStatus::Failed;
    bool stopped = false;
    QString sha1;
    QString messages; // the child's standard error
};

struct Worker {
    std::unique_ptr<QProcess> process;
    QByteArray answers; // what it wrote that is not a whole line yet
    int job = -1;       // the index of the map it builds, -1 while it waits
};

QStringList workerArguments(const PackOptions &options, int engineThreads) {
    QStringList args{QStringLiteral("pack"),
                     QStringLiteral("--worker"),
                     QStringLiteral("--quiet"),
                     QStringLiteral("--engine-threads"),
                     QString::number(engineThreads),
                     QStringLiteral("--level"),
                     options.level};
    for (const QString &name : options.excludes)
        args << QStringLiteral("--exclude") << name;
    if (options.comment)
        args << QStringLiteral("--comment") << *options.comment;
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
    return args;
}

QByteArray hexLine(const QList<QByteArray> &fields) {
    QByteArray line;
    for (const QByteArray &field : fields)
        line += (line.isEmpty() ? QByteArray() : QByteArray(" ")) + field.toHex();
    return line + '\n';
}

// The worker's answer for `job`: false when the line is not one.
bool takeAnswer(const QByteArray &line, Job &job) {
    const QList<QByteArray> fields = line.split(' ');
    bool ok = false;
    const int status = fields.value(0).toInt(&ok);
    if (fields.size() != 3 || !ok)
        return false;
    job.stopped = status > 128;
    job.status =
        status == ExitStatus::Ok || status == ExitStatus::Incomplete ? status : ExitStatus::Failed;
    if (fields.at(1) != "-")
        job.sha1 = QString::fromLatin1(fields.at(1));
    job.messages += QString::fromUtf8(QByteArray::fromHex(fields.at(2)));
    return true;
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

// One line of standard input, without its end; false at the end of the input.
bool readLine(QByteArray &line) {
    line.clear();
    int c;
    while ((c = std::getc(stdin)) != EOF && c != '\n')
        line += char(c);
    return c != EOF || !line.isEmpty();
}

// The worker's answer, written and flushed at once: its batch waits for it.
void answer(int status, const QByteArray &sha1, const QString &messages) {
    const QByteArray line = QByteArray::number(status) + ' ' +
                            (sha1.isEmpty() ? QByteArray("-") : sha1.toHex()) + ' ' +
                            messages.toUtf8().toHex() + '\n';
    std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
    std::fflush(stdout);
}

// The batch's side: workers started, maps handed out one at a time to whichever worker is free,
// answers taken, summaries printed in the order the maps were given.
class BatchRun {
public:
    BatchRun(std::vector<Job> &jobs, QStringList arguments, const QString &password)
        : m_jobs(jobs), m_arguments(std::move(arguments)), m_password(password) {}

    // Runs until every map is answered, or, after an interrupt, until the workers are gone.
    int run(int workers);

private:
    void startWorker();
    void handOut(Worker &worker);
    void send(Worker &worker);
    void readAnswers(Worker &worker);
    void workerEnded(Worker &worker);
    void finish(int index);
    void flush();
    void stop();
    bool mapsLeft() const { return !m_stopping && m_next < m_jobs.size(); }

    std::vector<Job> &m_jobs;
    const QStringList m_arguments;
    const QString m_password;
    std::list<Worker> m_workers;
    QEventLoop m_loop;
    size_t m_next = 0;
    size_t m_flushed = 0;
    int m_running = 0;
    bool m_stopping = false;
    int m_status = ExitStatus::Ok;
};

int BatchRun::run(int workers) {
    // An interrupt stops the builds under way (they clean up after themselves) and the rest
    // are not started.
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, &m_loop, [this] {
        if (!m_stopping && platform::caughtInterrupt() != 0)
            stop();
    });
    watch.start(50);
    QTimer::singleShot(0, &m_loop, [this, workers] {
        for (int i = 0; i < workers; ++i)
            startWorker();
    });
    m_loop.exec();
    for (Job &job : m_jobs) {
        if (!job.done) {
            job.done = true;
            job.stopped = true;
        }
    }
    flush();
    return m_status;
}

void BatchRun::startWorker() {
    if (!mapsLeft())
        return;
    Worker &worker = m_workers.emplace_back();
    worker.process = std::make_unique<QProcess>();
    QProcess *process = worker.process.get();
    QObject::connect(process, &QProcess::readyReadStandardOutput, &m_loop,
                     [this, &worker] { readAnswers(worker); });
    QObject::connect(process, &QProcess::readyReadStandardError, &m_loop, [&worker, this] {
        // Whatever the worker says outside its answers belongs to the map it builds.
        const QString text = QString::fromLocal8Bit(worker.process->readAllStandardError());
        if (worker.job >= 0)
            m_jobs[size_t(worker.job)].messages += text;
    });
    QObject::connect(process, &QProcess::finished, &m_loop,
                     [this, &worker] { workerEnded(worker); });
    QObject::connect(process, &QProcess::errorOccurred, &m_loop,
                     [this, &worker](QProcess::ProcessError error) {
                         if (error == QProcess::FailedToStart)
                             workerEnded(worker);
                     });
    ++m_running;
    // Killed outright, the batch cannot stop its workers: the system asks them to.
    platform::endWithThisProcess(*process);
    worker.job = int(m_next++); // a worker that cannot start fails this map (workerEnded)
    process->start(QCoreApplication::applicationFilePath(), m_arguments);
    if (worker.process && worker.process->waitForStarted(-1)) {
        process->write(hexLine({m_password.toLocal8Bit()}));
        send(worker);
    }
}

void BatchRun::send(Worker &worker) {
    const Job &job = m_jobs[size_t(worker.job)];
    worker.process->write(hexLine({QFile::encodeName(job.map), QFile::encodeName(job.output)}));
}

void BatchRun::handOut(Worker &worker) {
    worker.job = -1;
    if (!mapsLeft()) {
        worker.process->closeWriteChannel(); // the worker ends once it has answered
        return;
    }
    worker.job = int(m_next++);
    send(worker);
}

void BatchRun::readAnswers(Worker &worker) {
    worker.answers += worker.process->readAllStandardOutput();
    for (qsizetype end; (end = worker.answers.indexOf('\n')) >= 0;) {
        const QByteArray line = worker.answers.left(end);
        worker.answers.remove(0, end + 1);
        if (worker.job < 0 || !takeAnswer(line, m_jobs[size_t(worker.job)]))
            continue; // not an answer: nothing the batch asked for
        const int answered = worker.job;
        handOut(worker);
        finish(answered);
    }
}

void BatchRun::workerEnded(Worker &worker) {
    if (!worker.process)
        return;          // both signals came
    readAnswers(worker); // what it said before it ended
    QProcess &process = *worker.process;
    const bool unstarted = process.error() == QProcess::FailedToStart;
    if (worker.job >= 0) {
        // It ended in the middle of a map: that map failed (or stopped), the others go on.
        Job &job = m_jobs[size_t(worker.job)];
        job.messages += QString::fromLocal8Bit(process.readAllStandardError());
        job.stopped = m_stopping ||
                      (process.exitStatus() == QProcess::NormalExit && process.exitCode() > 128);
        if (unstarted)
            job.messages += process.errorString() + QLatin1Char('\n');
        else if (!job.stopped)
            job.messages += QStringLiteral("the build ended abnormally\n");
        job.status = ExitStatus::Failed;
        finish(std::exchange(worker.job, -1));
    }
    const QString cause = process.errorString();
    worker.process.release()->deleteLater();
    --m_running;
    if (!unstarted) {
        startWorker(); // in its place, for the maps left, if any
    } else {
        // A start can fail for a while (too many processes): the workers running take the maps
        // left. With none running, the program cannot be started, and they fail the same way.
        while (m_running == 0 && mapsLeft()) {
            m_jobs[m_next].messages = cause + QLatin1Char('\n');
            finish(int(m_next++));
        }
    }
    if (m_running == 0)
        m_loop.quit();
}

void BatchRun::finish(int index) {
    m_jobs[size_t(index)].done = true;
    flush();
}

void BatchRun::flush() {
    for (; m_flushed < m_jobs.size() && m_jobs[m_flushed].done; ++m_flushed) {
        const Job &job = m_jobs[m_flushed];
        printErr(relayed(job));
        printOut(summary(job) + QLatin1Char('\n'));
        m_status = ExitStatus::worse(m_status, job.status);
    }
}

void BatchRun::stop() {
    m_stopping = true;
    for (Worker &worker : m_workers) {
        if (worker.process) {
            worker.process->closeWriteChannel();
            worker.process->terminate();
        }
    }
    if (m_running == 0)
        m_loop.quit();
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
    // What runs that are gone left, once for all the workers.
    if (options.staging.isEmpty())
        PrivateStagingFolder::removeAbandoned();
    BatchRun batch(jobs, workerArguments(options, engineThreads), password);
    const int status = batch.run(parallel);
    if (const int signal = platform::caughtInterrupt(); signal != 0)
        return ExitStatus::interrupted(signal);
    return status;
}

int runPackWorker(const PackOptions &options) {
    QByteArray line;
    if (!readLine(line))
        return ExitStatus::Ok;
    const QString password = QString::fromLocal8Bit(QByteArray::fromHex(line));
    PackSession session;
    while (platform::caughtInterrupt() == 0 && readLine(line)) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() != 2)
            return ExitStatus::Usage;
        QString out;
        QString messages;
        captureOutput(&out, &messages);
        QByteArray sha1;
        const int status =
            session.build(options, password, QFile::decodeName(QByteArray::fromHex(fields.at(0))),
                          QFile::decodeName(QByteArray::fromHex(fields.at(1))), sha1);
        captureOutput(nullptr, nullptr);
        answer(status, sha1, messages);
    }
    const int signal = platform::caughtInterrupt();
    return signal != 0 ? ExitStatus::interrupted(signal) : ExitStatus::Ok;
}
