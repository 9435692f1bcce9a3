// h8ctl through its real libusb path: the unmodified binary runs as the child of the umockdev
// harness, which serves it an emulated H8.

#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include "temp_env.h"

namespace {

struct Result {
    int exitCode;
    QString out, err;
};

Result harness(const QStringList& harnessArgs, const QStringList& h8ctlArgs) {
    QProcess p;
    p.start("umockdev-wrapper",
            QStringList{H8_USB_HARNESS} + harnessArgs + QStringList{"--", H8CTL_PATH} + h8ctlArgs);
    EXPECT_TRUE(p.waitForFinished(60000));
    return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}

TEST(H8ctlLibusbTest, StatusAndMuteThroughRealLibusb) {
    h8::test::TempEnv env;
    const QString state = env.root() + "/device.json";
    Result r = harness({"--state", state}, {"--json", "status"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QJsonObject s = QJsonDocument::fromJson(r.out.toUtf8()).object();
    EXPECT_EQ(s["device"].toString(), "H8");
    EXPECT_EQ(s["serialNumber"].toString(), "1234ABCD");
    EXPECT_EQ(s["firmwareVersion"].toString(), "1.02");

    r = harness({"--state", state, "--save", state}, {"--trace", "mute", "input1", "on"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("usb> 40 03 01 01 01 00 01 00 | 01")) << r.err.toStdString();
    QFile f(state);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(QJsonDocument::fromJson(f.readAll()).object()["mute"].toObject()["1:1"].toInt(), 1);
}

}  // namespace
