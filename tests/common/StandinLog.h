// Reading back what the stand-in for the main program (build/standin/Kesmo)
// recorded, and choosing how it behaves, for tests of every layer.
//
//   kestest::StandinEnvironment env(dir.filePath("kesmo.log"), /*exitCode*/ 3);
//   ... start KES_STANDIN_PATH through the code under test ...
//   ASSERT_TRUE(kestest::WaitForStandinCalls(env.LogFile(), 1));
//   const auto calls = env.Calls();   // calls[0].arguments == {...}
#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <chrono>

namespace kestest {

// One run of the stand-in: its working folder and its arguments (without
// the program itself), each recovered exactly.
struct StandinCall {
    QString workingFolder;
    QStringList arguments;
};

// Path of the stand-in program.
QString StandinProgram();

// Every run recorded in the log file, oldest first (empty when the file is
// missing).
QList<StandinCall> ReadStandinLog(const QString& logFile);

// Waits (bounded, event loop running) until the log holds at least count
// runs.
bool WaitForStandinCalls(
    const QString& logFile, int count, std::chrono::milliseconds timeout = std::chrono::seconds(10));

// Sets the stand-in's environment variables in this process (so every
// program it starts inherits them) and restores the previous values when it
// goes out of scope.
class StandinEnvironment {
public:
    explicit StandinEnvironment(const QString& logFile, int exitCode = 0, int sleepMs = 0);
    ~StandinEnvironment();
    StandinEnvironment(const StandinEnvironment&) = delete;
    StandinEnvironment& operator=(const StandinEnvironment&) = delete;

    QString LogFile() const { return m_logFile; }
    QList<StandinCall> Calls() const { return ReadStandinLog(m_logFile); }

private:
    struct Saved {
        QByteArray name;
        bool wasSet;
        QByteArray value;
    };
    QString m_logFile;
    QList<Saved> m_saved;
};

} // namespace kestest
