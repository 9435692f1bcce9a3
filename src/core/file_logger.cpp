#include "core/file_logger.h"

#include <fcntl.h>
#include <unistd.h>

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

#include "platform/diagnostics.h"
#include "platform/paths.h"

namespace h8 {
namespace {

namespace fs = std::filesystem;

fs::path nativePath(const QString& path) {
    return fs::path(QFile::encodeName(path).toStdString());
}

// Prints `prefix` followed by `detail`; both are UTF-8.
void report(const char* prefix, const QString& detail) {
    diag(std::string(prefix) + detail.toStdString());
}

QString errorText(const std::error_code& ec) {
    return QString::fromLocal8Bit(ec.message());
}
QString errnoText(int err) {
    return QString::fromLocal8Bit(std::strerror(err));
}

bool somethingExistsAt(const fs::path& path) {
    std::error_code ec;
    // A dangling symbolic link, or an entry we may not inspect, still occupies the name.
    return fs::symlink_status(path, ec).type() != fs::file_type::not_found;
}

// The locale's short time format with seconds added after the minutes when it has none, which is
// what a "medium" time style shows: "h:mm AP" becomes "h:mm:ss AP", "H.mm" becomes "H.mm.ss".
QString timeFormatWithSeconds(const QString& format) {
    qsizetype hourEnd = -1, minuteStart = -1, minuteEnd = -1;
    bool inQuote = false;
    for (qsizetype i = 0; i < format.size(); ++i) {
        const QChar c = format.at(i);
        if (c == u'\'') {
            inQuote = !inQuote;
            continue;
        }
        if (inQuote) continue;
        if (c == u's') return format;
        if (c == u'h' || c == u'H') {
            while (i + 1 < format.size() && format.at(i + 1) == c) ++i;
            hourEnd = i + 1;
        } else if (c == u'm' && minuteStart < 0) {
            minuteStart = i;
            while (i + 1 < format.size() && format.at(i + 1) == u'm') ++i;
            minuteEnd = i + 1;
        }
    }
    if (minuteEnd < 0) return format;
    // Reuse the separator between hours and minutes when it is plain punctuation.
    QString separator = ":";
    if (hourEnd >= 0 && hourEnd < minuteStart) {
        const QString between = format.mid(hourEnd, minuteStart - hourEnd);
        const bool plain = std::none_of(between.begin(), between.end(), [](QChar ch) {
            return ch.isLetter() || ch == u'\'' || ch.isSpace();
        });
        if (plain) separator = between;
    }
    return format.left(minuteEnd) + separator + "ss" + format.mid(minuteEnd);
}

bool writeAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

std::unique_ptr<FileLogger> FileLogger::create(const QString& fileName) {
    const QString folder = logDir();
    if (!somethingExistsAt(nativePath(folder))) {
        std::error_code ec;
        fs::create_directories(nativePath(folder), ec);
        if (ec) {
            report("创建日志目录失败: ", errorText(ec));
            return nullptr;
        }
    }

    const QString path = folder + "/" + fileName;
    const QString shownName = QFileInfo(path).fileName();
    const fs::path file = nativePath(path);

    // The log holds this launch only: the previous launch's file goes first.
    std::error_code statError;
    const fs::file_type type = fs::symlink_status(file, statError).type();
    if (type != fs::file_type::not_found && type != fs::file_type::none &&
        type != fs::file_type::directory) {
        std::error_code ec;
        fs::remove(file, ec);
        if (ec) {
            report("删除旧日志文件失败: ", errorText(ec));
            return nullptr;
        }
        report("已删除旧日志文件: ", shownName);
    }

    const QByteArray encoded = QFile::encodeName(path);
    const int created = ::open(encoded.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (created < 0) {
        report("创建日志文件失败: ", shownName);
        return nullptr;
    }
    ::close(created);

    const int fd = ::open(encoded.constData(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd < 0) {
        report("打开日志文件失败: ", errnoText(errno));
        return nullptr;
    }
    return std::unique_ptr<FileLogger>(new FileLogger(path, fd));
}

FileLogger::FileLogger(QString filePath, int fd)
    : filePath_(std::move(filePath)),
      fd_(fd),
      locale_(QLocale::system()),
      dateFormat_(locale_.dateFormat(QLocale::ShortFormat)),
      timeFormat_(timeFormatWithSeconds(locale_.timeFormat(QLocale::ShortFormat))) {}

FileLogger::~FileLogger() {
    ::fdatasync(fd_);
    ::close(fd_);
}

void FileLogger::logIfChanged(const QString& channel, const QString& message,
                              const QString& level) {
    QString& last = lastOnChannel_[channel];
    if (message == last) return;
    last = message;
    if (!message.isEmpty()) log(message, level);
}

void FileLogger::log(const QString& message, const QString& level) {
    const QDateTime now = QDateTime::currentDateTime();
    const QString stamp = locale_.toString(now.date(), dateFormat_) + ", " +
                          locale_.toString(now.time(), timeFormat_);
    const QByteArray line = ("[" + stamp + "] [" + level + "] " + message + "\n").toUtf8();

    // A panel runs for months: rather than fill the disk, the file starts afresh.
    if (size_ + line.size() > maxBytes_ && size_ > 0 && ::ftruncate(fd_, 0) == 0) {
        size_ = 0;
        const QByteArray note =
            ("[" + stamp + "] [INFO] " +
             QStringLiteral("日志已满 %1 MiB，重新开始").arg(maxBytes_ / (1024.0 * 1024.0)) + "\n")
                .toUtf8();
        if (writeAll(fd_, note.constData(), static_cast<size_t>(note.size()))) size_ += note.size();
    }

    // Every line reaches the file at once (a crash of the program loses nothing). Syncing it
    // to the disk is limited to once a second: the hardware poll logs several lines six times
    // a second, and a sync per line would stall the panel and wear the disk.
    bool ok = writeAll(fd_, line.constData(), static_cast<size_t>(line.size()));
    if (ok) size_ += line.size();
    if (ok && (!lastSync_.isValid() || lastSync_.elapsed() >= kSyncIntervalMs)) {
        ok = ::fdatasync(fd_) == 0;
        lastSync_.restart();
    }
    if (ok) return;
    // Say so once; repeating it for every line would drown the console.
    const int err = errno;
    if (!reportedWriteFailure_) {
        reportedWriteFailure_ = true;
        report("写入日志文件失败: ", errnoText(err));
    }
}

QString FileLogger::filePath() const {
    return filePath_;
}

}  // namespace h8
