#include "core/file_logger.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <cstdio>
#include <cstdlib>

#include "captured_diagnostics.h"
#include "platform/diagnostics.h"
#include "temp_env.h"

namespace h8 {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

class FileLoggerTest : public ::testing::Test {
protected:
    // Everything printed through diag() so far, as UTF-8.
    std::string diagnostics() const { return captured_.text().toStdString(); }

    test::TempEnv env;

private:
    test::CapturedDiagnostics captured_;
};

TEST_F(FileLoggerTest, EachLaunchStartsAFreshFile) {
    {
        auto first = FileLogger::create("myapp.log");
        ASSERT_NE(first, nullptr);
        EXPECT_EQ(first->filePath(), env.logDir() + "/myapp.log");
        first->log("from the first launch", "INFO");
    }
    EXPECT_EQ(diagnostics(), "") << "nothing to delete on the first launch";

    auto second = FileLogger::create("myapp.log");
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(diagnostics(), "已删除旧日志文件: myapp.log\n");
    EXPECT_EQ(readFile(second->filePath()), "");
    second->log("from the second launch", "INFO");

    const QString text = QString::fromUtf8(readFile(second->filePath()));
    EXPECT_FALSE(text.contains("first launch"));
    EXPECT_TRUE(text.contains("from the second launch"));
}

TEST_F(FileLoggerTest, CreatesTheMissingLogFolder) {
    qunsetenv("H8_LOG_DIR");
    const QString expectedFolder = env.stateHome() + "/H8Controller/Logs";
    ASSERT_FALSE(QFileInfo::exists(expectedFolder));

    auto logger = FileLogger::create("myapp.log");
    ASSERT_NE(logger, nullptr);
    EXPECT_EQ(logger->filePath(), expectedFolder + "/myapp.log");
    EXPECT_TRUE(QFileInfo(expectedFolder).isDir());
    EXPECT_TRUE(QFileInfo(logger->filePath()).isFile());
    EXPECT_EQ(diagnostics(), "");
}

TEST_F(FileLoggerTest, PlainFileWhereTheFolderShouldBe) {
    QDir().mkpath(env.root());
    QFile blocker(env.logDir());
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.write("not a folder");
    blocker.close();

    EXPECT_EQ(FileLogger::create("myapp.log"), nullptr);
    EXPECT_EQ(diagnostics(), "创建日志文件失败: myapp.log\n");
    EXPECT_EQ(readFile(env.logDir()), "not a folder");
}

TEST_F(FileLoggerTest, FolderThatCannotBeCreated) {
    QFile blocker(env.root() + "/file");
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    qputenv("H8_LOG_DIR", (env.root() + "/file/Logs").toUtf8());

    EXPECT_EQ(FileLogger::create("myapp.log"), nullptr);
    const std::string printed = diagnostics();
    EXPECT_THAT(printed, StartsWith("创建日志目录失败: "));
    EXPECT_THAT(printed, HasSubstr("Not a directory"));
    EXPECT_EQ(std::count(printed.begin(), printed.end(), '\n'), 1);
}

TEST_F(FileLoggerTest, LineFormat) {
    auto logger = FileLogger::create("myapp.log");
    ASSERT_NE(logger, nullptr);
    const QDate before = QDate::currentDate();
    logger->log("设备已连接 ✓", "INFO");
    const QDate after = QDate::currentDate();

    // en_US (set in main): short date, then the short time with seconds, e.g.
    // "[12/8/26, 5:58:22 AM] [INFO] ...". Recent locale data puts a narrow no-break space before
    // AM/PM.
    const QString text = QString::fromUtf8(readFile(logger->filePath()));
    static const QRegularExpression line(
        R"(^\[(\d{1,2})/(\d{1,2})/(\d{2}), (\d{1,2}):(\d{2}):(\d{2})[ \x{202F}][AP]M\] \[INFO\] 设备已连接 ✓\n$)");
    const auto match = line.match(text);
    ASSERT_TRUE(match.hasMatch()) << text.toStdString();

    const QDate logged(2000 + match.captured(3).toInt(), match.captured(1).toInt(),
                       match.captured(2).toInt());
    EXPECT_TRUE(logged == before || logged == after) << match.captured(0).toStdString();
    EXPECT_GE(match.captured(4).toInt(), 1);
    EXPECT_LE(match.captured(4).toInt(), 12);
    EXPECT_LT(match.captured(6).toInt(), 60);
}

TEST_F(FileLoggerTest, LinesAreAppendedAsIsAndVisibleImmediately) {
    auto logger = FileLogger::create("myapp.log");
    ASSERT_NE(logger, nullptr);
    logger->log("first line\nsecond line", "WARN");
    // Read while the logger is still open: nothing may be held back in a buffer.
    QStringList lines = QString::fromUtf8(readFile(logger->filePath())).split('\n');
    ASSERT_EQ(lines.size(), 3);  // two lines and the empty rest after the final line feed
    EXPECT_TRUE(lines[0].endsWith("] [WARN] first line"));
    EXPECT_EQ(lines[1], "second line");
    EXPECT_EQ(lines[2], "");

    logger->log("%s \\n \"quoted\"", "ERROR");
    lines = QString::fromUtf8(readFile(logger->filePath())).split('\n');
    ASSERT_EQ(lines.size(), 4);
    EXPECT_TRUE(lines[2].endsWith("] [ERROR] %s \\n \"quoted\"")) << lines[2].toStdString();
}

TEST_F(FileLoggerTest, RepeatedLinesOfAPeriodicTaskAreWrittenOnceAndChangesShow) {
    auto logger = FileLogger::create("myapp.log");
    ASSERT_NE(logger, nullptr);
    for (int tick = 0; tick < 1000; ++tick) logger->logIfChanged("step", "reading", "INFO");
    logger->logIfChanged("step", "", "INFO");  // a tick that did not get there
    logger->logIfChanged("step", "reading", "INFO");
    logger->logIfChanged("other", "reading", "INFO");  // channels are independent
    logger->logIfChanged("step", "writing", "INFO");
    const QList<QByteArray> lines = readFile(logger->filePath()).split('\n');
    ASSERT_EQ(lines.size(), 5);  // four lines and the empty rest after the last line feed
    EXPECT_THAT(lines[0].toStdString(), HasSubstr("] [INFO] reading"));
    EXPECT_THAT(lines[1].toStdString(), HasSubstr("] [INFO] reading"));
    EXPECT_THAT(lines[2].toStdString(), HasSubstr("] [INFO] reading"));
    EXPECT_THAT(lines[3].toStdString(), HasSubstr("] [INFO] writing"));
}

TEST_F(FileLoggerTest, TheFileStartsAfreshInsteadOfGrowingPastItsLimit) {
    auto logger = FileLogger::create("myapp.log");
    ASSERT_NE(logger, nullptr);
    EXPECT_EQ(FileLogger::kDefaultMaxBytes, 16 * 1024 * 1024);
    logger->setMaxBytes(4096);
    for (int i = 0; i < 500; ++i) {
        logger->log(QStringLiteral("line %1").arg(i), "INFO");
        ASSERT_LE(QFileInfo(logger->filePath()).size(), 4096) << "after line " << i;
    }
    const QByteArray text = readFile(logger->filePath());
    EXPECT_EQ(text.size(), logger->size());
    // Afresh, as at launch, with one line saying so, and the newest lines kept.
    EXPECT_THAT(text.left(text.indexOf('\n')).toStdString(), HasSubstr("[INFO] 日志已满"));
    EXPECT_THAT(text.toStdString(), HasSubstr("] [INFO] line 499\n"));
    EXPECT_EQ(text.count("日志已满"), 1);
}

}  // namespace
}  // namespace h8

int main(int argc, char** argv) {
    // Fix the system locale so that the date format is known; Qt reads it on first use.
    setenv("LC_ALL", "en_US.UTF-8", 1);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
