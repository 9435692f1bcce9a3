#include "platform/file_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <thread>

namespace h8 {

FileLock::FileLock(QString path) : path_(std::move(path)) {}

FileLock::~FileLock() {
    release();
}

bool FileLock::open() {
    if (fd_ >= 0) return true;
    QDir().mkpath(QFileInfo(path_).absolutePath());
    fd_ = ::open(QFile::encodeName(path_).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ < 0) {
        error_ = QStringLiteral("cannot open %1: %2")
                     .arg(path_, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    return true;
}

bool FileLock::tryLock() {
    if (isLocked()) return true;
    error_.clear();
    if (!open()) return false;
    if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK)
            error_ = QStringLiteral("cannot lock %1: %2")
                         .arg(path_, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    locked_ = true;
    const QByteArray pid = QByteArray::number(static_cast<qint64>(::getpid())) + '\n';
    if (::ftruncate(fd_, 0) == 0) {
        [[maybe_unused]] const ssize_t n =
            ::pwrite(fd_, pid.constData(), static_cast<size_t>(pid.size()), 0);
    }
    return true;
}

bool FileLock::lock(std::chrono::milliseconds timeout) {
    // flock() cannot wait with a time-out: look again every few milliseconds. The holders are
    // short commands (or a panel, for which the caller gives a short time-out).
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!tryLock()) {
        if (!error_.isEmpty() || std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

void FileLock::release() {
    if (fd_ < 0) return;
    // Closing the descriptor releases the lock; the file stays, for the next holder.
    ::close(fd_);
    fd_ = -1;
    locked_ = false;
}

std::optional<qint64> FileLock::holder() const {
    QFile file(path_);
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    bool ok = false;
    const qint64 pid = file.readLine().trimmed().toLongLong(&ok);
    if (!ok || pid <= 0) return std::nullopt;
    return pid;
}

}  // namespace h8
