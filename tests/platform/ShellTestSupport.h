#pragma once
// A child process running the shell test helper, read line by line.

#include <QEventLoop>
#include <QProcess>
#include <QStringList>
#include <QTimer>

#include <csignal>
#include <functional>

class HelperProcess
{
public:
    explicit HelperProcess(const QStringList& arguments, const QString& workingDirectory = QString(),
                           const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment())
    {
        m_process.setProgram(QStringLiteral(QUILLARY_SHELL_TEST_HELPER));
        m_process.setArguments(arguments);
        m_process.setProcessEnvironment(environment);
        if (!workingDirectory.isEmpty())
            m_process.setWorkingDirectory(workingDirectory);
        m_process.start();
        m_process.waitForStarted();
    }
    ~HelperProcess()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished();
        }
    }

    // Waits until the helper has printed `line` (true) or has ended without it.
    bool waitForLine(const QString& line)
    {
        for (;;) {
            read();
            if (m_lines.contains(line))
                return true;
            if (m_process.state() == QProcess::NotRunning)
                return false;
            if (!m_process.waitForReadyRead(30000) && m_process.state() != QProcess::NotRunning)
                return false;
        }
    }
    bool waitForExit()
    {
        const bool ended = m_process.state() == QProcess::NotRunning || m_process.waitForFinished(30000);
        read();
        return ended;
    }
    // Waits for the end while this process's own event loop keeps running,
    // for a helper that needs an answer from this process.
    bool waitForExitServingEvents()
    {
        if (m_process.state() != QProcess::NotRunning) {
            QEventLoop loop;
            QObject::connect(&m_process, &QProcess::finished, &loop, &QEventLoop::quit);
            QTimer::singleShot(30000, &loop, &QEventLoop::quit);
            loop.exec();
        }
        read();
        return m_process.state() == QProcess::NotRunning;
    }
    // Runs this process's event loop until `done` holds or the helper has
    // ended (30 s at most), for a helper that needs answers from this process
    // on the way. Output read so far is in lines() and errors().
    bool serveEventsUntil(const std::function<bool()>& done)
    {
        read();
        if (!done() && m_process.state() != QProcess::NotRunning) {
            QEventLoop loop;
            auto check = [&] {
                read();
                errors();
                if (done() || m_process.state() == QProcess::NotRunning)
                    loop.quit();
            };
            QObject::connect(&m_process, &QProcess::readyReadStandardOutput, &loop, check);
            QObject::connect(&m_process, &QProcess::readyReadStandardError, &loop, check);
            QObject::connect(&m_process, &QProcess::finished, &loop, check);
            QTimer::singleShot(30000, &loop, &QEventLoop::quit);
            loop.exec();
        }
        read();
        return done();
    }
    void signal(int number) { ::kill(pid_t(m_process.processId()), number); }

    const QStringList& lines() const { return m_lines; }
    // What the helper has printed by now, for a caller running its own loop.
    const QStringList& linesSoFar()
    {
        read();
        return m_lines;
    }
    bool running() const { return m_process.state() != QProcess::NotRunning; }
    QString errors() { return m_errors += QString::fromLocal8Bit(m_process.readAllStandardError()); }
    int exitCode() const { return m_process.exitCode(); }
    bool exitedNormally() const { return m_process.exitStatus() == QProcess::NormalExit; }

private:
    void read()
    {
        m_pending += QString::fromLocal8Bit(m_process.readAllStandardOutput());
        qsizetype end;
        while ((end = m_pending.indexOf(QLatin1Char('\n'))) >= 0) {
            m_lines << m_pending.left(end);
            m_pending.remove(0, end + 1);
        }
    }

    QProcess m_process;
    QString m_pending;
    QString m_errors;
    QStringList m_lines;
};
