// The application's diagnostic log: one file in logDir(), started afresh at each launch. Every
// line is in the file when log() returns, so the log survives a crash of the program right
// after it; the file is synced to the disk at most once a second (and when it is closed).
#pragma once

#include <QElapsedTimer>
#include <QHash>
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

    // For a line that a periodic task writes on each run: written only when `message` differs
    // from what the previous run wrote on `channel`. An empty message writes nothing and makes
    // the next non-empty one count as a change (a step that did not run this time).
    void logIfChanged(const QString& channel, const QString& message, const QString& level);

    // The file never grows past this: a line that would cross it starts the file afresh, as
    // at launch, with one line saying so.
    static constexpr qint64 kDefaultMaxBytes = 16 * 1024 * 1024;
    void setMaxBytes(qint64 bytes) { maxBytes_ = bytes; }  // tests
    qint64 size() const { return size_; }

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
    qint64 size_ = 0;
    qint64 maxBytes_ = kDefaultMaxBytes;
    QHash<QString, QString> lastOnChannel_;
};

}  // namespace h8
