#include "platform/user_defaults.h"

#include <sys/stat.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocale>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <mutex>

#include "platform/atomic_file.h"
#include "platform/diagnostics.h"
#include "platform/paths.h"

namespace h8 {
namespace {

// Temporary files older than this are left over from a writer that was killed mid-write; a live
// writer renames its temporary file within milliseconds.
constexpr qint64 kStaleTemporaryFileSeconds = 10 * 60;

std::mutex g_standardMutex;
std::unique_ptr<UserDefaults> g_standard;

void warn(const QString& message) {
    diag(message.toStdString());
}

QString errnoText(int err) {
    return QString::fromLocal8Bit(std::strerror(err));
}

qint64 truncateToInteger(double d) {
    if (std::isnan(d)) return 0;
    // 2^63 is exactly representable; anything at or beyond it does not fit.
    constexpr double kLimit = 9223372036854775808.0;
    if (d >= kLimit) return std::numeric_limits<qint64>::max();
    if (d < -kLimit) return std::numeric_limits<qint64>::min();
    return static_cast<qint64>(d);
}

qsizetype skipSpaces(const QString& s, qsizetype i) {
    while (i < s.size() && s.at(i).isSpace()) ++i;
    return i;
}

bool isAsciiDigit(QChar c) {
    return c >= u'0' && c <= u'9';
}

// The decimal integer at the start of `s` (after white space), clamped to the qint64 range.
qint64 leadingInteger(const QString& s) {
    qsizetype i = skipSpaces(s, 0);
    bool negative = false;
    if (i < s.size() && (s.at(i) == u'-' || s.at(i) == u'+')) negative = s.at(i++) == u'-';
    quint64 magnitude = 0;
    const quint64 limit = negative ? quint64(std::numeric_limits<qint64>::max()) + 1
                                   : quint64(std::numeric_limits<qint64>::max());
    for (; i < s.size() && isAsciiDigit(s.at(i)); ++i) {
        const quint64 digit = s.at(i).unicode() - u'0';
        if (magnitude > (limit - digit) / 10) {
            magnitude = limit;
            break;
        }
        magnitude = magnitude * 10 + digit;
    }
    if (!negative) return qint64(magnitude);
    return magnitude == limit ? std::numeric_limits<qint64>::min() : -qint64(magnitude);
}

// The decimal number (sign, digits, fraction, exponent) at the start of `s`, or 0.
double leadingDouble(const QString& s) {
    qsizetype i = skipSpaces(s, 0);
    const qsizetype start = i;
    if (i < s.size() && (s.at(i) == u'-' || s.at(i) == u'+')) ++i;
    qsizetype digits = 0;
    for (; i < s.size() && isAsciiDigit(s.at(i)); ++i) ++digits;
    if (i < s.size() && s.at(i) == u'.') {
        ++i;
        for (; i < s.size() && isAsciiDigit(s.at(i)); ++i) ++digits;
    }
    if (digits == 0) return 0;
    if (i < s.size() && (s.at(i) == u'e' || s.at(i) == u'E')) {
        qsizetype j = i + 1;
        if (j < s.size() && (s.at(j) == u'-' || s.at(j) == u'+')) ++j;
        if (j < s.size() && isAsciiDigit(s.at(j))) {
            while (j < s.size() && isAsciiDigit(s.at(j))) ++j;
            i = j;
        }
    }
    // QByteArray::toDouble always reads the C locale's format.
    return s.mid(start, i - start).toLatin1().toDouble();
}

// The double with the float's shortest decimal text: 0.1f becomes 0.1 rather than
// 0.100000001490116, which keeps the file readable and still gives back the same float.
double floatAsDouble(float f) {
    if (!std::isfinite(f)) return f;
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text, f);
    return QByteArray(text, result.ptr - text).toDouble();
}

// Converts a value of the supported kinds to JSON; nullopt (with the reason) for anything else.
std::optional<QJsonValue> toJsonValue(const QVariant& value, QString* why) {
    switch (value.typeId()) {
        case QMetaType::Bool:
            return QJsonValue(value.toBool());
        case QMetaType::Short:
        case QMetaType::UShort:
        case QMetaType::Int:
        case QMetaType::UInt:
        case QMetaType::Long:
        case QMetaType::LongLong:
            return QJsonValue(value.toLongLong());
        case QMetaType::ULong:
        case QMetaType::ULongLong: {
            const quint64 u = value.toULongLong();
            if (u <= quint64(std::numeric_limits<qint64>::max())) return QJsonValue(qint64(u));
            return QJsonValue(double(u));
        }
        case QMetaType::Float:
        case QMetaType::Double: {
            const double d = value.typeId() == QMetaType::Float ? floatAsDouble(value.toFloat())
                                                                : value.toDouble();
            if (!std::isfinite(d)) {
                *why = "infinite and NaN numbers cannot be stored";
                return std::nullopt;
            }
            return QJsonValue(d);
        }
        case QMetaType::QString:
            return QJsonValue(value.toString());
        case QMetaType::QStringList:
            return QJsonValue(QJsonArray::fromStringList(value.toStringList()));
        case QMetaType::QVariantList: {
            QJsonArray array;
            for (const QVariant& item : value.toList()) {
                auto json = toJsonValue(item, why);
                if (!json) return std::nullopt;
                array.append(*json);
            }
            return QJsonValue(array);
        }
        case QMetaType::QVariantMap:
        case QMetaType::QVariantHash: {
            QJsonObject object;
            const QVariantMap map = value.toMap();
            for (auto it = map.begin(); it != map.end(); ++it) {
                auto json = toJsonValue(it.value(), why);
                if (!json) return std::nullopt;
                object.insert(it.key(), *json);
            }
            return QJsonValue(object);
        }
        default:
            *why = QString("values of type %1 cannot be stored")
                       .arg(QString::fromLatin1(value.isValid() ? value.typeName() : "invalid"));
            return std::nullopt;
    }
}

}  // namespace

UserDefaults::UserDefaults(QString filePath)
    : filePath_(std::move(filePath)), notifier_(std::make_unique<UserDefaultsNotifier>()) {
    adopt(readDisk(), /*keepValuesWhenUnusable=*/false);
    removeStaleTemporaryFiles();
}

UserDefaults::~UserDefaults() {
    flush();
}

void UserDefaults::setWriteDelay(int ms) {
    writeDelayMs_ = std::max(0, ms);
    if (writeDelayMs_ == 0) {
        flush();
        return;
    }
    if (!flushTimer_) {
        flushTimer_ = std::make_unique<QTimer>();
        flushTimer_->setSingleShot(true);
        QObject::connect(flushTimer_.get(), &QTimer::timeout, flushTimer_.get(),
                         [this] { flush(); });
    }
}

void UserDefaults::flush() {
    if (pending_.empty()) return;
    if (flushTimer_) flushTimer_->stop();
    if (retryTimer_) retryTimer_->stop();
    // Another program may have written meanwhile: its keys are kept, and every change not yet
    // written (also those of writes that failed) goes on top.
    const DiskRead disk = readDisk();
    const bool unchanged = disk.state == FileState::Missing
                               ? !knownBytes_.has_value()
                               : knownBytes_.has_value() && *knownBytes_ == disk.bytes;
    if (!unchanged) {
        adopt(disk, /*keepValuesWhenUnusable=*/true);
        for (const auto& edit : pending_) edit(values_);
    }
    if (write()) pending_.clear();
}

bool UserDefaults::write() {
    if (memoryOnly_) return true;
    const QByteArray bytes = QJsonDocument(values_).toJson(QJsonDocument::Indented);
    QString error;
    lastWrite_.restart();
    ++writes_;
    if (!writeFileAtomically(filePath_, bytes, &error)) {
        saveFailed(error);
        return false;
    }
    knownBytes_ = bytes;
    if (!saveProblem_.isEmpty()) {
        warn(QString("The preferences are saved to %1 again").arg(filePath_));
        saveProblem_.clear();
        retryDelayMs_ = kFirstRetryMs;
        emit notifier_->saveStateChanged();
    }
    return true;
}

void UserDefaults::saveFailed(const QString& error) {
    // The changes stay (in memory, and in the list of edits to write): the next attempt, a
    // little later each time, or the one at quit, writes them all.
    const bool news = saveProblem_ != error;
    saveProblem_ = error;
    if (news) {
        warn(QString("Warning: could not save preferences to %1: %2; the changes are kept and "
                     "saved again in %3 s")
                 .arg(filePath_, error)
                 .arg(retryDelayMs_ / 1000));
        emit notifier_->saveStateChanged();
    }
    if (!QCoreApplication::instance()) return;
    if (!retryTimer_) {
        retryTimer_ = std::make_unique<QTimer>();
        retryTimer_->setSingleShot(true);
        QObject::connect(retryTimer_.get(), &QTimer::timeout, retryTimer_.get(),
                         [this] { flush(); });
    }
    retryTimer_->start(retryDelayMs_);
    retryDelayMs_ = std::min(retryDelayMs_ * 2, kLastRetryMs);
}

UserDefaults& UserDefaults::standard() {
    std::lock_guard lock(g_standardMutex);
    if (!g_standard) g_standard = std::make_unique<UserDefaults>(configDir() + "/defaults.json");
    return *g_standard;
}

void UserDefaults::setStandard(std::unique_ptr<UserDefaults> defaults) {
    std::unique_ptr<UserDefaults> previous;
    std::lock_guard lock(g_standardMutex);
    previous = std::exchange(g_standard, std::move(defaults));
}

QString UserDefaults::filePath() const {
    return filePath_;
}

QVariant UserDefaults::objectForKey(const QString& key) const {
    const auto it = values_.constFind(key);
    return it == values_.constEnd() ? QVariant() : it->toVariant();
}

qint64 UserDefaults::integerForKey(const QString& key) const {
    const QVariant v = objectForKey(key);
    switch (v.typeId()) {
        case QMetaType::LongLong:
            return v.toLongLong();
        case QMetaType::Double:
            return truncateToInteger(v.toDouble());
        case QMetaType::Bool:
            return v.toBool() ? 1 : 0;
        case QMetaType::QString:
            return leadingInteger(v.toString());
        default:
            return 0;
    }
}

double UserDefaults::doubleForKey(const QString& key) const {
    const QVariant v = objectForKey(key);
    switch (v.typeId()) {
        case QMetaType::LongLong:
            return double(v.toLongLong());
        case QMetaType::Double:
            return v.toDouble();
        case QMetaType::Bool:
            return v.toBool() ? 1 : 0;
        case QMetaType::QString:
            return leadingDouble(v.toString());
        default:
            return 0;
    }
}

float UserDefaults::floatForKey(const QString& key) const {
    return static_cast<float>(doubleForKey(key));
}

bool UserDefaults::boolForKey(const QString& key) const {
    const QVariant v = objectForKey(key);
    if (v.typeId() == QMetaType::QString) {
        const QString s = v.toString();
        const qsizetype i = skipSpaces(s, 0);
        if (i < s.size() && QStringView(u"YyTt").contains(s.at(i))) return true;
    }
    return integerForKey(key) != 0;
}

std::optional<QString> UserDefaults::stringForKey(const QString& key) const {
    const QVariant v = objectForKey(key);
    switch (v.typeId()) {
        case QMetaType::QString:
            return v.toString();
        case QMetaType::LongLong:
            return QString::number(v.toLongLong());
        case QMetaType::Double:
            return QString::number(v.toDouble(), 'g', QLocale::FloatingPointShortest);
        case QMetaType::Bool:
            return QString(v.toBool() ? "1" : "0");
        default:
            return std::nullopt;
    }
}

std::optional<QVariantList> UserDefaults::arrayForKey(const QString& key) const {
    const auto it = values_.constFind(key);
    if (it == values_.constEnd() || !it->isArray()) return std::nullopt;
    return it->toArray().toVariantList();
}

void UserDefaults::setObject(const QString& key, const QVariant& value) {
    if (!value.isValid()) {
        removeObjectForKey(key);
        return;
    }
    QString why;
    const auto json = toJsonValue(value, &why);
    if (!json) {
        warn(QString("Preference \"%1\" was not changed: %2.").arg(key, why));
        return;
    }
    change([key, value = *json](QJsonObject& values) { values.insert(key, value); });
}

void UserDefaults::setInteger(const QString& key, qint64 value) {
    setObject(key, value);
}
void UserDefaults::setDouble(const QString& key, double value) {
    setObject(key, value);
}
void UserDefaults::setFloat(const QString& key, float value) {
    setObject(key, value);
}
void UserDefaults::setBool(const QString& key, bool value) {
    setObject(key, value);
}
void UserDefaults::setString(const QString& key, const QString& value) {
    setObject(key, value);
}

void UserDefaults::removeObjectForKey(const QString& key) {
    change([key](QJsonObject& values) { values.remove(key); });
}

UserDefaults::DiskRead UserDefaults::readDisk() const {
    DiskRead disk;
    const QByteArray nativePath = QFile::encodeName(filePath_);
    struct stat st;
    if (::stat(nativePath.constData(), &st) != 0) {
        if (errno == ENOENT) return disk;  // Missing
        disk.state = FileState::Unusable;
        disk.problem = "cannot be read: " + errnoText(errno);
        return disk;
    }
    disk.state = FileState::Unusable;
    QFile file(filePath_);
    if (!file.open(QIODevice::ReadOnly)) {
        disk.problem = "cannot be read: " + file.errorString();
        return disk;
    }
    disk.bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        disk.problem = "cannot be read: " + file.errorString();
        return disk;
    }
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(disk.bytes, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        disk.problem = QString("is not valid JSON (%1 at byte %2)")
                           .arg(parseError.errorString())
                           .arg(parseError.offset);
        return disk;
    }
    if (!document.isObject()) {
        disk.problem = "does not hold a JSON object";
        return disk;
    }
    disk.state = FileState::Valid;
    disk.values = document.object();
    return disk;
}

void UserDefaults::adopt(const DiskRead& disk, bool keepValuesWhenUnusable) {
    if (memoryOnly_ && disk.state != FileState::Unusable && !saveProblem_.isEmpty()) {
        // The file that could not be moved aside is gone or readable again: saving resumes.
        saveProblem_.clear();
        emit notifier_->saveStateChanged();
    }
    switch (disk.state) {
        case FileState::Missing:
            // Values held only in memory never reached the file, so its absence says nothing
            // about them; otherwise a removed file means the preferences were reset.
            if (!memoryOnly_) values_ = {};
            knownBytes_.reset();
            memoryOnly_ = false;
            break;
        case FileState::Valid:
            values_ = disk.values;
            knownBytes_ = disk.bytes;
            memoryOnly_ = false;
            break;
        case FileState::Unusable:
            if (!keepValuesWhenUnusable) values_ = {};
            moveAside(disk);
            break;
    }
}

void UserDefaults::moveAside(const DiskRead& disk) {
    const QString stamp = QDateTime::currentDateTime().toString("yyyyMMdd'T'HHmmss");
    QString target = filePath_ + ".corrupt-" + stamp;
    for (int n = 2; QFileInfo::exists(target) || QFileInfo(target).isSymLink(); ++n) {
        target = filePath_ + ".corrupt-" + stamp + "-" + QString::number(n);
    }
    if (::rename(QFile::encodeName(filePath_).constData(), QFile::encodeName(target).constData()) ==
        0) {
        warn(QString("Warning: the preferences file %1 %2; moved it to %3 and continuing with "
                     "%4 preferences.")
                 .arg(filePath_, disk.problem, target,
                      values_.isEmpty() ? "empty" : "the last known"));
        knownBytes_.reset();
        memoryOnly_ = false;
        return;
    }
    const int err = errno;
    if (err == ENOENT) {
        // Someone else (the other program) moved or removed it first: nothing left to protect.
        knownBytes_.reset();
        memoryOnly_ = false;
        return;
    }
    warn(QString("Warning: the preferences file %1 %2 and could not be moved to %3 (%4); "
                 "preferences will be kept in memory only and the file is left untouched.")
             .arg(filePath_, disk.problem, target, errnoText(err)));
    // Remember these bytes so that later changes neither warn again nor overwrite them.
    knownBytes_ = disk.bytes;
    memoryOnly_ = true;
    // Nothing is saved from now on: the window says so.
    saveProblem_ = QString("%1 %2 and cannot be moved aside (%3); changes are kept in memory only")
                       .arg(filePath_, disk.problem, errnoText(err));
    emit notifier_->saveStateChanged();
}

void UserDefaults::change(const std::function<void(QJsonObject&)>& edit) {
    if (pending_.empty()) {
        // Adopt what another program wrote before this change goes on top of it.
        const DiskRead disk = readDisk();
        const bool unchanged = disk.state == FileState::Missing
                                   ? !knownBytes_.has_value()
                                   : knownBytes_.has_value() && *knownBytes_ == disk.bytes;
        if (!unchanged) adopt(disk, /*keepValuesWhenUnusable=*/true);
    }
    // Seen at once by every read.
    edit(values_);
    pending_.push_back(edit);
    // While writes fail, the retry writes this one too.
    if (!saveProblem_.isEmpty() && retryTimer_ && retryTimer_->isActive()) return;
    if (writeDelayMs_ > 0) {
        // Written with the others of the burst.
        if (!flushTimer_->isActive()) {
            const qint64 since = lastWrite_.isValid() ? lastWrite_.elapsed() : writeDelayMs_;
            flushTimer_->start(static_cast<int>(std::max<qint64>(0, writeDelayMs_ - since)));
        }
        return;
    }
    flush();
}

void UserDefaults::removeStaleTemporaryFiles() const {
    const QFileInfo info(filePath_);
    const QDir folder = info.absoluteDir();
    const QString pattern = "." + info.fileName() + ".tmp-*";
    const QDateTime cutoff = QDateTime::currentDateTime().addSecs(-kStaleTemporaryFileSeconds);
    const auto entries = folder.entryInfoList(
        {pattern}, QDir::Files | QDir::Hidden | QDir::System | QDir::NoSymLinks);
    for (const QFileInfo& entry : entries) {
        if (entry.lastModified() < cutoff) QFile::remove(entry.absoluteFilePath());
    }
}

}  // namespace h8
