// The application's diagnostic log: one file in logDir(), started afresh at each launch. Every
// line is in the file when log() returns, so the log survives a crash of the program right
// after it; the file is synced to the disk at most once a second (and when it is closed).
#pragma once

#include <QElapsedTimer>
#include <QLocale>
#include <QString>
#include <memory>

namespace h8 {

class FileLogger {
public:
    // Creates the log file logDir()/fileName, removing the previous launch's file. Returns
    // nullptr (after printing why) when any step fails.
    static std::unique_ptr<FileLogger> create(const QString& fileName);
    ~FileLogger();  // closes the file
    FileLogger(const FileLogger&) = delete;
    FileLogger& operator=(const FileLogger&) = delete;

    // Appends "[<date>, <time>] [<level>] <message>\n" to the file. The date and time
    // are local, in the system locale's short date and medium (with seconds) time styles. The
    // message is written as is: a line feed in it continues the entry on the next line.
    void log(const QString& message, const QString& level);

    QString filePath() const;

private:
    FileLogger(QString filePath, int fd);

    QString filePath_;
    int fd_;
    QLocale locale_;  // the system locale at creation, as the formats below
    QString dateFormat_;
    QString timeFormat_;
    bool reportedWriteFailure_ = false;
    static constexpr qint64 kSyncIntervalMs = 1000;
    QElapsedTimer lastSync_;
};

}  // namespace h8
