#include "platform/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFileInfo>
#include <cerrno>
#include <cstring>

namespace h8 {
namespace {

bool fail(QString* error, const QString& what, int err) {
    if (error) *error = what + ": " + QString::fromLocal8Bit(std::strerror(err));
    return false;
}

bool writeAll(int fd, const char* data, qsizetype size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, static_cast<size_t>(size));
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += n;
        size -= n;
    }
    return true;
}

}  // namespace

bool writeFileAtomically(const QString& path, const QByteArray& contents, QString* error) {
    const QFileInfo info(path);
    const QString folder = info.absolutePath();
    if (!QDir().mkpath(folder)) return fail(error, "cannot create folder " + folder, errno);

    QByteArray tmpl = QFile::encodeName(folder + "/." + info.fileName() + ".tmp-XXXXXX");
    const int fd = ::mkstemp(tmpl.data());
    if (fd < 0) return fail(error, "cannot create a temporary file in " + folder, errno);
    const QString tmpPath = QFile::decodeName(tmpl);

    if (!writeAll(fd, contents.constData(), contents.size()) || ::fsync(fd) != 0) {
        const int err = errno;
        ::close(fd);
        ::unlink(tmpl.constData());
        return fail(error, "cannot write " + tmpPath, err);
    }
    ::fchmod(fd, 0644);
    if (::close(fd) != 0) {
        const int err = errno;
        ::unlink(tmpl.constData());
        return fail(error, "cannot write " + tmpPath, err);
    }
    if (::rename(tmpl.constData(), QFile::encodeName(path).constData()) != 0) {
        const int err = errno;
        ::unlink(tmpl.constData());
        return fail(error, "cannot replace " + path, err);
    }
    // Make the rename itself durable.
    const int dirFd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return true;
}

}  // namespace h8
