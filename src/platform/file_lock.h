// An advisory lock on a file (flock), held from a successful tryLock() or lock() until the
// object goes or release() is called. The kernel drops it when the process ends, however it
// ends, so a crash never leaves a stale lock. The holder's process id is written into the file
// for messages ("in use by process N").
#pragma once

#include <QString>
#include <chrono>
#include <optional>

namespace h8 {

class FileLock {
public:
    explicit FileLock(QString path);
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    // Takes the lock when nobody holds it; creates the file (and its folder) as needed.
    // False when another holds it or the file cannot be opened (error() says which).
    bool tryLock();
    // Takes the lock, waiting at most `timeout` for its holder to release it.
    bool lock(std::chrono::milliseconds timeout);
    void release();

    bool isLocked() const { return fd_ >= 0 && locked_; }
    // Why the last tryLock() or lock() failed; empty when another process holds the lock.
    QString error() const { return error_; }
    // The process that holds the lock, as it wrote itself into the file.
    std::optional<qint64> holder() const;
    QString path() const { return path_; }

private:
    bool open();

    QString path_;
    int fd_ = -1;
    bool locked_ = false;
    QString error_;
};

}  // namespace h8
