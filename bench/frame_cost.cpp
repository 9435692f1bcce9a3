// What showing something new twenty times a second costs on this display server, to read
// bench/cpu.sh's figures against: a bare Qt window of the panel's size in which a bar 200
// pixels long grows and shrinks by a pixel at every tick of a 50 ms timer (the panel's meter
// clock), repainted the usual way. It prints the CPU time of the whole process (every thread:
// on Wayland, Qt's two event threads take part in each frame) over a window after a warm-up,
// and each thread's wake-ups.
//
// Usage: frame_cost [SECONDS [WARMUP_SECONDS]]   (defaults 5 and 2), on the display of
//        QT_QPA_PLATFORM (xcb, wayland).

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPaintEvent>
#include <QPainter>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

namespace {

struct ThreadSample {
    std::string name;
    double cpuNs = 0;
    double sleeps = 0;  // voluntary context switches: each is a wake-up later
};

std::map<QString, ThreadSample> sampleThreads() {
    std::map<QString, ThreadSample> out;
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString& tid : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(tasks.filePath(tid + "/comm")), stat(tasks.filePath(tid + "/schedstat")),
            status(tasks.filePath(tid + "/status"));
        if (!comm.open(QIODevice::ReadOnly) || !stat.open(QIODevice::ReadOnly) ||
            !status.open(QIODevice::ReadOnly))
            continue;
        ThreadSample s;
        s.name = comm.readAll().trimmed().toStdString();
        s.cpuNs = stat.readAll().split(' ').value(0).toDouble();
        for (const QByteArray& line : status.readAll().split('\n')) {
            if (line.startsWith("voluntary_ctxt_switches:"))
                s.sleeps = line.mid(line.indexOf(':') + 1).trimmed().toDouble();
        }
        out[tid] = s;
    }
    return out;
}

class Bar : public QWidget {
public:
    explicit Bar(QWidget* parent) : QWidget(parent) {
        setAttribute(Qt::WA_OpaquePaintEvent);
        setGeometry(20, 20, 200, 10);
    }
    void step() {
        // 0 … 199 and back, a pixel per tick.
        const int next = width_ + direction_;
        if (next < 0 || next >= width()) direction_ = -direction_;
        width_ += direction_;
        update(QRect(std::min(width_, width_ - direction_), 0, 1, height()));
    }

protected:
    void paintEvent(QPaintEvent* event) override {
        QPainter p(this);
        p.fillRect(event->rect(), QColor(0x40, 0x40, 0x40));
        p.fillRect(QRect(0, 0, width_, height()) & event->rect(), QColor(0, 204, 0));
    }

private:
    int width_ = 0;
    int direction_ = 1;
};

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const int warmup = argc > 2 ? std::max(0, std::atoi(argv[2])) : 2;

    QWidget window;
    window.setAutoFillBackground(true);
    QPalette palette = window.palette();
    palette.setColor(QPalette::Window, QColor(0x1e, 0x1e, 0x24));
    window.setPalette(palette);
    window.resize(945, 750);
    Bar bar(&window);
    window.show();

    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout, &bar, &Bar::step);
    tick.start(std::chrono::milliseconds(50));

    std::map<QString, ThreadSample> before;
    std::chrono::steady_clock::time_point start;
    QTimer::singleShot(std::chrono::seconds(warmup), [&] {
        before = sampleThreads();
        start = std::chrono::steady_clock::now();
    });
    QTimer::singleShot(std::chrono::seconds(warmup + seconds), [&] {
        const std::map<QString, ThreadSample> after = sampleThreads();
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        double total = 0;
        std::string threads;
        for (const auto& [tid, a] : after) {
            const auto b = before.find(tid);
            if (b == before.end()) continue;
            const double cpu = (a.cpuNs - b->second.cpuNs) / 1e9 / wall * 100;
            total += cpu;
            if (a.sleeps - b->second.sleeps > 0) {
                char line[160];
                std::snprintf(line, sizeof line, "%s%s %.2f %% (%.0f wake-ups/s)",
                              threads.empty() ? "" : ", ", a.name.c_str(), cpu,
                              (a.sleeps - b->second.sleeps) / wall);
                threads += line;
            }
        }
        std::printf(
            "a bare Qt window showing a change 20 times a second on %s: %.2f %% of one core (%s)\n",
            qPrintable(QGuiApplication::platformName()), total, threads.c_str());
        QCoreApplication::quit();
    });
    return QCoreApplication::exec();
}
