// A freshly seeded krevol-sandbox as a child process on a free port, for the end-to-end tests.
//
//   SandboxProcess sandbox;
//   QVERIFY2(sandbox.start(), qPrintable(sandbox.error()));
//   qputenv("KREVOL_API_HOST", sandbox.hostPort().toUtf8());
//
// The sandbox gets its own temporary data folder (database, packages, outbox, the demo tool's
// card under volumes/), removed again with this object. stop() ends it with SIGTERM (SIGKILL when
// it does not go within a few seconds); the destructor stops it too, and the child is also told
// to end when the test process dies, so a crashed test leaves no server behind.
#pragma once

#include <QByteArray>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace krevol::test {

// Demo data of the seed.
inline const QString kDemoEmail = QStringLiteral("demo@krevol.test");
inline const QString kDemoPassword = QStringLiteral("demo-pass-1");
inline const QString kDemoSerial = QStringLiteral("1001202412345678");
inline const QString kDemoVolume = QStringLiteral("KREVOL-SD");

// Calls to the sandbox on 127.0.0.1 must not go through a proxy from the environment.
inline void keepProxiesAway(QProcessEnvironment* env = nullptr) {
    QByteArray list = qgetenv("no_proxy");
    list = "127.0.0.1,localhost" + (list.isEmpty() ? QByteArray() : "," + list);
    if (env != nullptr) {
        env->insert(QStringLiteral("no_proxy"), QString::fromLatin1(list));
        env->insert(QStringLiteral("NO_PROXY"), QString::fromLatin1(list));
    } else {
        qputenv("no_proxy", list);
        qputenv("NO_PROXY", list);
    }
}

class SandboxProcess {
  public:
    static constexpr int kStartTimeoutMs = 20000;  // seeding builds the packages; the machine may be loaded

    SandboxProcess() = default;
    SandboxProcess(const SandboxProcess&) = delete;
    SandboxProcess& operator=(const SandboxProcess&) = delete;
    ~SandboxProcess() { stop(); }

    // Seeds a fresh data folder, starts serving on a free port and reads the port from the
    // "listening on 127.0.0.1:PORT" line. False (with error()) when that does not happen in time.
    bool start() {
        if (!data_.isValid()) return fail(QStringLiteral("no temporary data folder"));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        keepProxiesAway(&env);
        process_.setProcessEnvironment(env);
        process_.setProgram(QStringLiteral(KREVOL_SANDBOX_PROGRAM));
        process_.setArguments({QStringLiteral("--seed"), QStringLiteral("--serve"), QStringLiteral("--quiet"),
                               QStringLiteral("--data"), data_.path(), QStringLiteral("--port"),
                               QStringLiteral("0")});
        process_.setProcessChannelMode(QProcess::SeparateChannels);
        // The server goes when this process goes, whatever ends it.
        process_.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
        process_.start();
        if (!process_.waitForStarted(kStartTimeoutMs))
            return fail(QStringLiteral("krevol-sandbox did not start: ") + process_.errorString());

        static const QRegularExpression line(QStringLiteral("listening on 127\\.0\\.0\\.1:([0-9]+)\n"));
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < kStartTimeoutMs) {
            process_.waitForReadyRead(200);
            output_ += QString::fromUtf8(process_.readAllStandardOutput());
            const QRegularExpressionMatch m = line.match(output_);
            if (m.hasMatch()) {
                port_ = m.captured(1).toInt();
                return port_ > 0 || fail(QStringLiteral("bad port in: ") + output_);
            }
            if (process_.state() == QProcess::NotRunning) break;
        }
        return fail(QStringLiteral("krevol-sandbox is not listening; output: ") + output_ +
                    QStringLiteral(" errors: ") + QString::fromUtf8(process_.readAllStandardError()));
    }

    // SIGTERM, then SIGKILL when it is still there after 5 s.
    void stop() {
        if (process_.state() == QProcess::NotRunning) return;
        process_.terminate();
        if (!process_.waitForFinished(5000)) {
            process_.kill();
            process_.waitForFinished(5000);
        }
    }

    bool running() const { return process_.state() == QProcess::Running; }
    QString error() const { return error_; }
    int port() const { return port_; }
    QString hostPort() const { return QStringLiteral("127.0.0.1:%1").arg(port_); }
    QString dataPath() const { return data_.path(); }
    // The folder for KREVOL_VOLUMES: each sub-folder is a removable drive; the demo tool's card is
    // its sub-folder KREVOL-SD.
    QString volumesPath() const { return data_.filePath(QStringLiteral("volumes")); }

    // The newest verification code sent to `email` ("e-mail code" lines of the outbox), or empty.
    QString lastCodeFor(const QString& email) const {
        QFile outbox(data_.filePath(QStringLiteral("outbox.txt")));
        if (!outbox.open(QIODevice::ReadOnly)) return {};
        QString code;
        const QStringList lines = QString::fromUtf8(outbox.readAll()).split(QLatin1Char('\n'));
        for (const QString& l : lines) {
            const QStringList parts = l.trimmed().split(QLatin1Char(' '), Qt::SkipEmptyParts);
            if (parts.size() == 2 && parts[0] == email) code = parts[1];
        }
        return code;
    }

  private:
    bool fail(const QString& text) {
        error_ = text;
        stop();
        return false;
    }

    QTemporaryDir data_;
    QProcess process_;
    QString output_;
    QString error_;
    int port_ = 0;
};

}  // namespace krevol::test
