#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QFontDatabase>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <thread>

namespace testsupport {

QString scratchDir()
{
    static QTemporaryDir dir(QDir::tempPath() + "/kantelo-test-XXXXXX");
    return dir.path();
}

bool waitUntil(const std::function<bool()> &done, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    return true;
}

bool waitPastTimersDue(int ms)
{
    bool fired = false;
    QTimer::singleShot(ms, Qt::PreciseTimer, [&fired] { fired = true; });
    const bool ok = waitUntil([&fired] { return fired; }, ms + 60000);
    QCoreApplication::sendPostedEvents();
    return ok;
}

QString dataDir()
{
    return QString::fromUtf8(qgetenv("KANTELO_TEST_DATA"));
}

QString testFontName()
{
    static const bool loaded =
        QFontDatabase::addApplicationFont(dataDir() + QStringLiteral("/KanteloTestSans.ttf")) >= 0;
    return loaded ? QStringLiteral("KanteloTestSans") : QString();
}

QString python3()
{
    const QString system = QStringLiteral("/usr/bin/python3");
    return QFileInfo(system).isExecutable() ? system : QStringLiteral("python3");
}

int run(const QString &cwd, const QString &program, const QStringList &args, QString *out)
{
    const ProgramRun r = runProgram(program, args, cwd, 30000, true);
    if (out)
        *out = QString::fromLocal8Bit(r.out);
    return r.exitCode;
}

ProgramRun runProgram(const QString &program, const QStringList &args, const QString &cwd, int timeoutMs,
                      bool mergeErrors)
{
    ProgramRun r;
    std::thread starter([&] {
        QProcess p;
        if (!cwd.isEmpty())
            p.setWorkingDirectory(cwd);
        p.setProcessChannelMode(mergeErrors ? QProcess::MergedChannels : QProcess::SeparateChannels);
        p.start(program, args);
        if (!p.waitForFinished(timeoutMs)) {
            p.kill();
            p.waitForFinished(5000);
            return;
        }
        r.out = p.readAllStandardOutput();
        r.err = p.readAllStandardError();
        if (p.exitStatus() == QProcess::NormalExit)
            r.exitCode = p.exitCode();
    });
    starter.join();
    return r;
}

} // namespace testsupport
