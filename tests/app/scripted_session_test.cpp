// The USB writes of a scripted session of the panel on the emulated H8 (every kind of routing
// edit, a preset import, an unplug and re-plug, a sample-rate change) are exactly those kept in
// data/scripted_session.writes: which requests the panel sends, with which bytes, in which
// order. Reads (the hardware poll) are left out: their number depends on time.
//
//   H8_RECORD_WRITES=1 scripted_session_test   writes the file anew from the panel as it is

#include <gtest/gtest.h>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "core/preset_file.h"
#include "emulated/emulated_h8.h"
#include "panel_process.h"
#include "temp_env.h"

namespace h8 {
namespace {

QString readText(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

// A preset of the emulated H8 with routes the session has not made, other mutes and the rate
// the interface already runs at (a rate change would rebuild at a time that depends on the
// clock).
bool writePreset(const QString& path) {
    QJsonArray map;
    for (int col = 1; col <= 12; ++col) {
        QJsonArray flags;
        for (int row = 1; row <= 16; ++row)
            flags.append((row == 2 && col == 1) || (row == 7 && col <= 4) ||
                         (row == 12 && col == 11) || (row == 9 && col == 12));
        map.append(flags);
    }
    const QJsonObject preset{{"version", "1.00"}, {"name", emulated::EmulatedH8::productName()},
                             {"array", map},      {"sampleRate", "48000Hz"},
                             {"micMuteState", 1}, {"mic2MuteState", 0},
                             {"hpMuteState", 1}};
    QString error;
    const auto sealed =
        NorvExportFileHelper::seal(QJsonDocument(preset).toJson(QJsonDocument::Compact), &error);
    QFile f(path);
    return sealed && f.open(QIODevice::WriteOnly) && f.write(*sealed) == sealed->size();
}

TEST(ScriptedSessionTest, TheWritesOfAScriptedSessionAreThoseKeptInTheRepository) {
    test::TempEnv env;
    const QString preset = env.root() + "/preset.norv";
    ASSERT_TRUE(writePreset(preset));
    QString script = readText(QStringLiteral(H8_TEST_DATA "/scripted_session.txt"));
    ASSERT_FALSE(script.isEmpty());
    script.replace(QStringLiteral("PRESET"), preset);
    const test::ProcessResult r =
        test::runPanelScript(H8_CONTROLLER_PATH, env.root(), script,
                             {"--simulate=" + env.root() + "/h8.json", "--trace"});
    ASSERT_TRUE(r.finished);
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QStringList writes = test::linesStartingWith(r.err, QStringLiteral("usb>"));

    const QString kept = QStringLiteral(H8_TEST_DATA "/scripted_session.writes");
    if (qEnvironmentVariableIsSet("H8_RECORD_WRITES")) {
        QFile f(kept);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write((writes.join('\n') + '\n').toUtf8());
        return;
    }
    const QStringList expected = readText(kept).split('\n', Qt::SkipEmptyParts);
    ASSERT_FALSE(expected.isEmpty());
    // The first difference, with its place, says more than two long lists.
    for (qsizetype i = 0; i < std::min(writes.size(), expected.size()); ++i)
        ASSERT_EQ(writes[i].toStdString(), expected[i].toStdString()) << "write " << i + 1;
    EXPECT_EQ(writes.size(), expected.size());
}

}  // namespace
}  // namespace h8
