#include "core/share_helper.h"

#include <cstring>

#include "core/vendor_requests.h"
#include "platform/user_defaults.h"

namespace h8 {
namespace {
bool g_logFileDisabled = false;
QString g_logFileName = QStringLiteral("myapp.log");

// Piecewise-linear segments of the decoding tables: codes first..last map to
// (code - offset) / span * scale + base, computed in this order in double precision.
struct Segment {
    int last;
    double offset, span, scale, base;
};

double decode(uint8_t code, const Segment* segments, size_t count, double top) {
    if (code == 0) return 0;
    for (size_t i = 0; i < count; ++i) {
        const Segment& s = segments[i];
        if (code <= s.last) return (code - s.offset) / s.span * s.scale + s.base;
    }
    return top;
}
}  // namespace

NorvShareHelper::NorvShareHelper() {
    if (!g_logFileDisabled) logger = FileLogger::create(g_logFileName);
}

NorvShareHelper& NorvShareHelper::shared() {
    static NorvShareHelper* instance = new NorvShareHelper();  // never destroyed
    return *instance;
}

void NorvShareHelper::disableLogFile() {
    g_logFileDisabled = true;
}

void NorvShareHelper::setLogFileName(const QString& name) {
    g_logFileName = name;
}

void NorvShareHelper::resetForTesting() {
    std::unique_ptr<FileLogger> keep = std::move(logger);
    *this = NorvShareHelper(NoLogFile{});
    logger = std::move(keep);
}

const std::array<std::array<bool, 16>, 16>& NorvShareHelper::boolArray() {
    static const auto rows = [] {
        std::array<std::array<bool, 16>, 16> a{};
        a[0][4] = true;
        a[1][5] = true;
        return a;
    }();
    return rows;
}

QVariantList NorvShareHelper::channelMapArray() const {
    if (auto stored = UserDefaults::standard().arrayForKey(kChannelMapKey)) return *stored;
    return defaultChannelMap();
}

QVariantList NorvShareHelper::defaultChannelMap() {
    QVariantList rows;
    for (const auto& row : boolArray()) {
        QVariantList r;
        for (bool b : row) r.append(b);
        rows.append(QVariant(r));
    }
    return rows;
}

void NorvShareHelper::setChannelMapArray(const QVariantList& map) {
    UserDefaults::standard().setObject(kChannelMapKey, map);
}

bool NorvShareHelper::getHardWareState() {
    uint32_t raw = 0;
    // A failed read decodes the zeros it leaves (the poll then keeps the display as it was).
    const bool read = NorvaltUSBAudioGetHWState(raw);
    std::array<uint8_t, 4> bytes;
    std::memcpy(bytes.data(), &raw, 4);
    applyHardwareState(bytes);
    return read;
}

void NorvShareHelper::applyHardwareState(const std::array<uint8_t, 4>& bytes) {
    // Byte 0 in base 2 without leading zeros, padded to six digits at the front: digit 0 is
    // input 1's input type, 1 input 2's, 2 and 3 the instrument modes, 4 and 5 the 48 V.
    const std::vector<int> d = binaryStringToArrayWithBinaryString(QString::number(bytes[0], 2));
    micInChangeState = d[0];
    mic2InChangeState = d[1];
    micInstState = d[2];
    mic2InstState = d[3];
    mic48VState = d[4];
    mic248VState = d[5];
    micIn1Volume = getVolume1(bytes[1]);
    micIn2Volume = getVolume1(bytes[2]);
    micOutVolume = getVolume(bytes[3]);
    hpratio = static_cast<float>(micOutVolume / 100);
}

double NorvShareHelper::getVolume1(uint8_t code) {
    static constexpr Segment kSegments[] = {
        {14, 0, 14, 6, 0},     {39, 14, 25, 5, 6},    {66, 39, 27, 5, 11},   {95, 66, 29, 6, 16},
        {124, 95, 29, 6, 22},  {153, 124, 29, 6, 28}, {180, 153, 27, 6, 34}, {210, 180, 30, 5, 40},
        {235, 210, 25, 5, 45}, {249, 235, 14, 6, 50},
    };
    return decode(code, kSegments, std::size(kSegments), 56);
}

double NorvShareHelper::getVolume(uint8_t code) {
    static constexpr Segment kSegments[] = {
        {15, 0, 15, 10, 0},     {43, 15, 28, 10, 10},   {71, 43, 28, 10, 20},
        {97, 71, 28, 10, 30},   {124, 97, 27, 10, 40},  {154, 124, 30, 10, 50},
        {184, 154, 30, 10, 60}, {210, 184, 26, 10, 70}, {239, 210, 29, 10, 80},
        {249, 239, 10, 10, 90},
    };
    return decode(code, kSegments, std::size(kSegments), 100);
}

std::vector<int> NorvShareHelper::binaryStringToArrayWithBinaryString(const QString& text) {
    std::vector<int> digits;
    for (const QChar c : text) {
        if (c >= u'0' && c <= u'9') digits.push_back(c.unicode() - u'0');
    }
    if (digits.size() < 6) digits.insert(digits.begin(), 6 - digits.size(), 0);
    return digits;
}

void NorvShareHelper::logInfo(const QString& message) {
    if (logger) logger->log(message, QStringLiteral("INFO"));
}

void NorvShareHelper::logInfoIfChanged(const QString& channel, const QString& message) {
    if (logger) logger->logIfChanged(channel, message, QStringLiteral("INFO"));
}

uint8_t HexPercentageConverter::percentToLevel(int percent) {
    const unsigned p = static_cast<unsigned>(percent);  // a negative percent counts as too large
    if (p == 0 || p > 100) return 0xFF;
    return static_cast<uint8_t>(((100 - p) * 126 + 50) / 100 - 127);
}

}  // namespace h8
