// The built KrevolRegist as its own process, headless, pointed at a freshly seeded krevol-sandbox:
// it starts, takes the single-instance lock, keeps running with its sign-in window, and ends on
// SIGTERM, which lets the lock go.
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QTest>

#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>

#include "sandbox_process.h"

namespace {

constexpr int kWait = 20000;  // generous: the machine may be loaded

// True when process `pid` holds a flock() lock on `path` (read from /proc/locks, so that looking
// never competes with the program for the lock).
bool holdsLock(qint64 pid, const QString& path) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0) return false;
    QFile locks(QStringLiteral("/proc/locks"));
    if (!locks.open(QIODevice::ReadOnly | QIODevice::Text)) return false;
    const QString inode = QString::number(static_cast<qulonglong>(st.st_ino));
    // "1: FLOCK  ADVISORY  WRITE 4711 08:01:123456 0 EOF"
    for (const QByteArray& line : locks.readAll().split('\n')) {
        const QStringList f = QString::fromLatin1(line).split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (f.size() < 6 || f[1] != QLatin1String("FLOCK")) continue;
        if (f[4] == QString::number(pid) && f[5].section(QLatin1Char(':'), 2) == inode) return true;
    }
    return false;
}

}  // namespace

class E2eProgramSmokeTest : public QObject {
    Q_OBJECT

  private:
    krevol::test::SandboxProcess sandbox_;

  private slots:
    void initTestCase() { QVERIFY2(sandbox_.start(), qPrintable(sandbox_.error())); }
    void cleanupTestCase() { sandbox_.stop(); }

    void programRunsHeadlessAndEndsOnSigterm() {
        QTemporaryDir config;
        QTemporaryDir runtime;  // created closed to others, as a runtime folder must be
        QVERIFY(config.isValid() && runtime.isValid());

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        krevol::test::keepProxiesAway(&env);
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("KREVOL_API_HOST"), sandbox_.hostPort());
        env.insert(QStringLiteral("KREVOL_VOLUMES"), sandbox_.volumesPath());
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), config.path());
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());

        QProcess program;
        program.setProcessEnvironment(env);
        program.setProgram(QStringLiteral(KREVOL_PROGRAM));
        program.setProcessChannelMode(QProcess::SeparateChannels);
        program.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
        program.start();
        QVERIFY2(program.waitForStarted(kWait), qPrintable(program.errorString()));
        const qint64 pid = program.processId();
        const auto output = [&program] {
            return QString::fromLocal8Bit(program.readAllStandardOutput() + program.readAllStandardError());
        };

        // The normal run takes the lock "KrevolRegist" right before the sign-in window runs.
        const QString lock = runtime.filePath(QStringLiteral("KrevolRegist.lock"));
        QTRY_VERIFY2_WITH_TIMEOUT(holdsLock(pid, lock) || program.state() == QProcess::NotRunning,
                                  "the program did not take its lock", kWait);
        QVERIFY2(
            program.state() == QProcess::Running,
            qPrintable(QStringLiteral("the program ended (exit %1): ").arg(program.exitCode()) + output()));
        QVERIFY(holdsLock(pid, lock));

        // It keeps running with its window: no crash, no exit of its own.
        QVERIFY2(
            !program.waitForFinished(2000),
            qPrintable(QStringLiteral("the program ended (exit %1): ").arg(program.exitCode()) + output()));
        QCOMPARE(program.state(), QProcess::Running);
        QVERIFY(holdsLock(pid, lock));
        QVERIFY2(sandbox_.running(), "the sandbox has gone");

        // SIGTERM ends it, and the lock is free for the next run.
        program.terminate();
        QVERIFY2(program.waitForFinished(kWait), "the program did not end on SIGTERM");
        QVERIFY(!holdsLock(pid, lock));
    }
};

QTEST_GUILESS_MAIN(E2eProgramSmokeTest)
#include "e2e_program_smoke_test.moc"
