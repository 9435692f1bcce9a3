// h8-image-find HAYSTACK NEEDLE [DIFF]: finds the picture NEEDLE (a window as it paints itself)
// inside HAYSTACK (a screenshot of the whole screen taken from the compositor) and says whether
// every pixel there equals NEEDLE's. Prints "at X,Y: N of M pixels differ" (exit 0 when none
// differs, 1 otherwise) or "not found" (exit 2): the position is the one where the most pixels of
// the needle's first and last rows agree, so a window with a few differing pixels is still placed.
// DIFF, when given, is written as the needle with every differing pixel in magenta.
#include <QGuiApplication>
#include <QImage>
#include <cstdio>

namespace {

int rowAgreement(const QImage& hay, const QImage& needle, int x, int y, int row) {
    const auto* h = reinterpret_cast<const QRgb*>(hay.constScanLine(y + row)) + x;
    const auto* n = reinterpret_cast<const QRgb*>(needle.constScanLine(row));
    int same = 0;
    for (int i = 0; i < needle.width(); ++i) same += (h[i] == n[i]);
    return same;
}

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr, "usage: h8-image-find HAYSTACK NEEDLE [DIFF]\n");
        return 3;
    }
    const QImage hay =
        QImage(QString::fromLocal8Bit(argv[1])).convertToFormat(QImage::Format_RGB32);
    const QImage needle =
        QImage(QString::fromLocal8Bit(argv[2])).convertToFormat(QImage::Format_RGB32);
    if (hay.isNull() || needle.isNull() || needle.width() > hay.width() ||
        needle.height() > hay.height()) {
        std::fprintf(stderr, "h8-image-find: cannot read the pictures, or the needle is larger\n");
        return 3;
    }
    const int last = needle.height() - 1;
    int bestX = -1, bestY = -1, best = 0;
    for (int y = 0; y + needle.height() <= hay.height(); ++y) {
        for (int x = 0; x + needle.width() <= hay.width(); ++x) {
            // A quick look at a few pixels before the whole rows.
            if (reinterpret_cast<const QRgb*>(hay.constScanLine(y))[x] != needle.pixel(0, 0) &&
                reinterpret_cast<const QRgb*>(hay.constScanLine(
                    y + last))[x + needle.width() - 1] != needle.pixel(needle.width() - 1, last))
                continue;
            int same = 0;
            for (int k = 0; k <= 8; ++k) same += rowAgreement(hay, needle, x, y, last * k / 8);
            if (same > best) {
                best = same;
                bestX = x;
                bestY = y;
            }
        }
    }
    if (best < 4 * needle.width()) {
        std::printf("not found\n");
        return 2;
    }
    long differ = 0;
    QImage diff = needle;
    for (int row = 0; row < needle.height(); ++row) {
        differ += needle.width() - rowAgreement(hay, needle, bestX, bestY, row);
        for (int x = 0; argc == 4 && x < needle.width(); ++x) {
            if (hay.pixel(bestX + x, bestY + row) != needle.pixel(x, row))
                diff.setPixel(x, row, qRgb(255, 0, 255));
        }
    }
    if (argc == 4) diff.save(QString::fromLocal8Bit(argv[3]));
    std::printf("at %d,%d: %ld of %lld pixels differ\n", bestX, bestY, differ,
                static_cast<long long>(needle.width()) * needle.height());
    return differ == 0 ? 0 : 1;
}
