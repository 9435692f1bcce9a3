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

std::function<int(const QString&)>& injectedFault() {
    static std::function<int(const QString&)> fault;
    return fault;
}

}  // namespace

void injectWriteFaults(std::function<int(const QString& path)> fault) {
    injectedFault() = std::move(fault);
}

QString writeTarget(const QString& path) {
    QString target = path;
    // A chain of links, followed link by link (a loop ends after a few dozen).
    for (int hops = 0; hops < 40 && QFileInfo(target).isSymLink(); ++hops) {
        const QString next = QFileInfo(target).symLinkTarget();  // absolute
        if (next.isEmpty()) break;
        target = next;
    }
    return target;
}

bool writeFileAtomically(const QString& linkPath, const QByteArray& contents, QString* error) {
    // Replacing a link by a plain file would cut the user's link (a dotfiles repository, a
    // synced folder): its target is replaced instead.
    const QString path = writeTarget(linkPath);
    if (injectedFault()) {
        if (const int err = injectedFault()(path)) return fail(error, "cannot write " + path, err);
    }
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
