// The program's preferences: a typed key/value store kept in one JSON file that the panel and the
// command-line tool share.
//
// Every change is written to disk atomically (at once, or with a short delay that gathers a burst
// of changes, see setWriteDelay), so a crash leaves either the old file or
// the new one. Before writing, a file changed by another process is re-read and the change is
// applied on top of it, so neither program loses the other's keys. A file that cannot be read or
// parsed is moved aside (never overwritten) and the program goes on with empty preferences.
//
// Main thread only, except standard(), which may be called from any thread.
#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QJsonObject>
#include <QString>
#include <QTimer>
#include <QVariant>
#include <QVariantList>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace h8 {

// Tells the window when the preferences stop (or start again) being saved.
class UserDefaultsNotifier : public QObject {
    Q_OBJECT
signals:
    void saveStateChanged();
};

class UserDefaults {
public:
    // Loads `filePath`; a missing file gives empty preferences.
    explicit UserDefaults(QString filePath);
    ~UserDefaults();  // writes what is pending
    UserDefaults(const UserDefaults&) = delete;
    UserDefaults& operator=(const UserDefaults&) = delete;

    // Writes at most once per `ms` milliseconds: a burst of changes (typing a name, scrolling a
    // level) is kept in memory, where every read sees it at once, and written together, on top
    // of what another program may have written meanwhile. 0 (the default) writes each change at
    // once. A delay needs the thread's event loop.
    void setWriteDelay(int ms);
    // Writes pending changes now (quit, a signal, the interface removed).
    void flush();
    // Times the file was written (tests, benchmarks).
    int writeCount() const { return writes_; }

    // Why the last write failed (a full disk, a read-only folder, no permission); empty while
    // the preferences are saved. A failed write keeps every change and is tried again after
    // kFirstRetryMs, pausing longer each time up to kLastRetryMs (with an event loop), and at
    // once on flush(): when writing works again, everything changed meanwhile is written once.
    QString saveProblem() const { return saveProblem_; }
    UserDefaultsNotifier* notifier() const { return notifier_.get(); }
    static constexpr int kFirstRetryMs = 1000;
    static constexpr int kLastRetryMs = 30000;

    // The program's preferences in configDir() + "/defaults.json", created on first use.
    static UserDefaults& standard();
    // Replaces the object standard() returns. nullptr makes the next standard() create a fresh
    // one from the current configDir(). References to the previous object become invalid.
    static void setStandard(std::unique_ptr<UserDefaults> defaults);

    QString filePath() const;

    // The stored value (qlonglong, double, bool, QString, QVariantList or QVariantMap), or an
    // invalid QVariant when absent. A double with an integral value may come back as qlonglong
    // after a reload; doubleForKey() is unaffected.
    QVariant objectForKey(const QString& key) const;
    // Absent → 0; double → truncated toward zero (clamped); bool → 0/1; string → its leading
    // decimal integer, or 0; anything else → 0.
    qint64 integerForKey(const QString& key) const;
    // Same rules as integerForKey(); a string gives its leading decimal number.
    double doubleForKey(const QString& key) const;
    float floatForKey(const QString& key) const;
    // integerForKey(key) != 0, except that a string starting with Y, y, T or t ("YES", "true")
    // also counts as true.
    bool boolForKey(const QString& key) const;
    // Absent → nullopt; a number is returned as its text, a bool as "1" or "0"; list or map →
    // nullopt.
    std::optional<QString> stringForKey(const QString& key) const;
    // Absent or not a list → nullopt.
    std::optional<QVariantList> arrayForKey(const QString& key) const;

    // Stores numbers, bools, strings and QVariantList/QVariantMap nesting them. An invalid
    // QVariant removes the key. Other types, and infinite or NaN numbers, are refused with a
    // diagnostic and nothing changes.
    void setObject(const QString& key, const QVariant& value);
    void setInteger(const QString& key, qint64 value);
    void setDouble(const QString& key, double value);
    // Stored as the double with the float's shortest decimal text, so "0.1f" is written as 0.1.
    void setFloat(const QString& key, float value);
    void setBool(const QString& key, bool value);
    void setString(const QString& key, const QString& value);
    void removeObjectForKey(const QString& key);

private:
    enum class FileState { Missing, Valid, Unusable };
    struct DiskRead {
        FileState state = FileState::Missing;
        QByteArray bytes;
        QJsonObject values;
        QString problem;  // why the file is unusable
    };

    DiskRead readDisk() const;
    // Adopts what is on disk: valid contents replace the values in memory; an unusable file is
    // moved aside (the values in memory are kept).
    void adopt(const DiskRead& disk, bool keepValuesWhenUnusable);
    void moveAside(const DiskRead& disk);
    // Re-reads the file if another process changed it, applies `edit` and writes the result.
    void change(const std::function<void(QJsonObject&)>& edit);
    bool write();
    void saveFailed(const QString& error);
    void removeStaleTemporaryFiles() const;

    QString filePath_;
    QJsonObject values_;
    // The file as this object last read or wrote it; nullopt when there was no file.
    std::optional<QByteArray> knownBytes_;
    // An unusable file could not be moved aside: changes stay in memory so that the file, which
    // may be the only copy of the user's data, is not overwritten.
    bool memoryOnly_ = false;
    int writeDelayMs_ = 0;
    // The changes not yet written: those of the current burst, and those of writes that failed.
    std::vector<std::function<void(QJsonObject&)>> pending_;
    std::unique_ptr<QTimer> flushTimer_;
    std::unique_ptr<QTimer> retryTimer_;
    int retryDelayMs_ = kFirstRetryMs;
    QString saveProblem_;
    std::unique_ptr<UserDefaultsNotifier> notifier_;
    QElapsedTimer lastWrite_;
    int writes_ = 0;
};

}  // namespace h8
