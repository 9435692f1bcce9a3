// Presets for the randomised tests: the panel's state as an export makes it, with a random route
// map (12 to 16 destinations of 16 rows, now and then with routes beyond the 12 x 12 mixer, as a
// hand-edited file may have).
#pragma once

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <random>

#include "core/preset_file.h"

namespace h8::test {

template <typename Random>
QJsonObject presetWithRandomMap(Random& rng) {
    QJsonObject o = NorvExportFileHelper::shared().exportObject();
    const int columns = std::uniform_int_distribution<int>(12, 16)(rng);
    std::bernoulli_distribution routed(0.12);
    QJsonArray map;
    for (int c = 0; c < columns; ++c) {
        QJsonArray rows;
        for (int r = 0; r < 16; ++r) rows.append(routed(rng));
        map.append(rows);
    }
    o["array"] = map;
    return o;
}

// Seals `preset` into `path`; false when it cannot be written.
inline bool writePreset(const QJsonObject& preset, const QString& path) {
    QString error;
    const QByteArray bytes =
        NorvExportFileHelper::seal(QJsonDocument(preset).toJson(), &error).value_or("");
    QFile f(path);
    return !bytes.isEmpty() && f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

}  // namespace h8::test
