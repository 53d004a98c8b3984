#include "ConfigFile.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>

#include "AreaControlArray.h"
#include "AreaErrors.h"
#include "ConfigFileError.h"
#include "DetectionArea.h"
#include "Reporter.h"
#include "Rounding.h"
#include "ctlDetArea.h"
#include "mdlSub.h"

namespace ostrel::shell {

namespace {

using areas::ctlDetArea;
using areas::DetectionArea;

const QString kHeader = QStringLiteral("OstrelConfig");
const QString kLineEnd = QStringLiteral("\r\n");
const QString kBlockEnd = QStringLiteral("End,") + QString(40, u'-');
constexpr qint64 kReadChunkBytes = 64 * 1024;

// The geometry lines in file order, with the place of each value in Size's argument list.
struct GeometryLine {
    QLatin1String name;
    double (ctlDetArea::*get)() const;
    int slot;  // 0 left, 1 top, 2 width, 3 height
};
const std::array<GeometryLine, 4> kGeometryLines{{
    {QLatin1String("Left"), &ctlDetArea::Arealeft, 0},
    {QLatin1String("Width"), &ctlDetArea::AreaWidth, 2},
    {QLatin1String("Top"), &ctlDetArea::AreaTop, 1},
    {QLatin1String("Height"), &ctlDetArea::AreaHeight, 3},
}};

// The settings lines in file order: on/off settings (written -1 / 0) and whole numbers.
struct SettingLine {
    QLatin1String name;
    bool (ctlDetArea::*getFlag)() const = nullptr;
    void (DetectionArea::*setFlag)(bool) = nullptr;
    std::int32_t (ctlDetArea::*getWhole)() const = nullptr;
    void (DetectionArea::*setWhole)(std::int32_t) = nullptr;
};
SettingLine flag(const char* name, bool (ctlDetArea::*get)() const,
                 void (DetectionArea::*set)(bool)) {
    return {QLatin1String(name), get, set, nullptr, nullptr};
}
SettingLine whole(const char* name, std::int32_t (ctlDetArea::*get)() const,
                  void (DetectionArea::*set)(std::int32_t)) {
    return {QLatin1String(name), nullptr, nullptr, get, set};
}
const std::array<SettingLine, 13> kSettingLines{{
    flag("MotionActive", &ctlDetArea::MotionActive, &DetectionArea::setMotionActive),
    whole("MotionSens", &ctlDetArea::MotionSens, &DetectionArea::setMotionSens),
    flag("MotionEvent", &ctlDetArea::MotionEvent, &DetectionArea::setMotionEvent),
    whole("MotionThreshold", &ctlDetArea::MotionThreshold, &DetectionArea::setMotionThreshold),
    flag("ColorActive", &ctlDetArea::ColorActive, &DetectionArea::setColorActive),
    whole("ColorSens", &ctlDetArea::ColorSens, &DetectionArea::setColorSens),
    flag("ColorEvent", &ctlDetArea::ColorEvent, &DetectionArea::setColorEvent),
    whole("ColorThreshold", &ctlDetArea::ColorThreshold, &DetectionArea::setColorThreshold),
    whole("DetColor", &ctlDetArea::DetColor, &DetectionArea::setDetColor),
    flag("ShowPicture", &ctlDetArea::ShowPicture, &DetectionArea::setShowPicture),
    whole("ShowLabel", &ctlDetArea::ShowLabel, &DetectionArea::setShowLabel),
    flag("ShowFrame", &ctlDetArea::ShowFrame, &DetectionArea::setShowFrame),
    whole("ForeColor", &ctlDetArea::ForeColor, &DetectionArea::setForeColor),
}};

[[noreturn]] void fail(const QString& fileName, const QString& what) {
    throw ConfigFileError(
        QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(fileName), what).toStdString());
}

bool isBlank(QChar c) {
    return c == u' ' || c == u'\t';
}
bool isLineEnd(QChar c) {
    return c == u'\r' || c == u'\n';
}
bool isDigit(QChar c) {
    return c >= u'0' && c <= u'9';
}

// ---- Writing ---------------------------------------------------------------------------------

// Up to 15 significant digits and "." as the decimal separator, whatever the user's locale.
QString fractionText(double value) {
    return QString::number(value + 0.0, 'G', 15);
}

// Keys are written bare, as they always were, unless the reader would take them differently:
// a comma or a line end would end the field, leading blanks would be skipped and a leading
// double quote would open a quoted field. Such keys go in double quotes, inner quotes doubled.
QString keyField(const QString& key) {
    const bool quote = (!key.isEmpty() && isBlank(key.front())) ||
                       std::any_of(key.begin(), key.end(),
                                   [](QChar c) { return c == u',' || c == u'"' || isLineEnd(c); });
    if (!quote) {
        return key;
    }
    QString inner = key;
    inner.replace(u'"', QStringLiteral("\"\""));
    return u'"' + inner + u'"';
}

// Refuses, before anything is written, a key whose file would not load it back.
void checkStorable(const QString& fileName, const QString& key, const QString& line) {
    if (key.contains(QChar(0)) || !key.isValidUtf16()) {
        fail(fileName,
             QStringLiteral("the key \"%1\" holds characters a file cannot keep").arg(key));
    }
    if (line.size() > kMaxConfigLineLength) {
        fail(fileName, QStringLiteral("the key \"%1...\" is too long").arg(key.left(40)));
    }
}

void appendBlock(QString& text, const ctlDetArea& area, const QString& fileName) {
    const QString keyLine = QStringLiteral("Area,") + keyField(area.Key());
    checkStorable(fileName, area.Key(), keyLine);
    text += keyLine + kLineEnd;
    for (const GeometryLine& line : kGeometryLines) {
        text += line.name + u',' + fractionText((area.*line.get)()) + kLineEnd;
    }
    for (const SettingLine& line : kSettingLines) {
        const QString value = line.getFlag
                                  ? QString::fromLatin1((area.*line.getFlag)() ? "-1" : "0")
                                  : QString::number((area.*line.getWhole)());
        text += line.name + u',' + value + kLineEnd;
    }
    text += kBlockEnd + kLineEnd;
}

// Writes beside the target and renames over it, so a failed save leaves the old file whole.
// The explicit flush matters: QSaveFile::commit ignores a failure of its own final flush (a
// full disk) and would put the cut-off file in place of the old one.
void writeReplacing(const QString& fileName, const QByteArray& bytes) {
    // The rename would put an ordinary file in the place of whatever is there.
    const QFileInfo target(fileName);
    if ((target.exists() || target.isSymLink()) && !target.isFile()) {
        fail(fileName, QStringLiteral("not an ordinary file"));
    }
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly)) {
        fail(fileName, QStringLiteral("cannot create the file: ") + file.errorString());
    }
    if (file.write(bytes) != bytes.size() || !file.flush() || !file.commit()) {
        fail(fileName, QStringLiteral("cannot write the file: ") + file.errorString());
    }
}

// ---- Reading ---------------------------------------------------------------------------------

// Bytes 0x80..0x9F of Windows-1252; the others are those of Latin-1. The five unused bytes keep
// their control characters, as Windows itself decodes them.
QString fromWindows1252(const QByteArray& bytes) {
    static constexpr std::array<char16_t, 32> kHigh{
        0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
    QString text(bytes.size(), Qt::Uninitialized);
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        text[i] = (byte >= 0x80 && byte < 0xA0) ? QChar(kHigh[byte - 0x80]) : QChar(byte);
    }
    return text;
}

// The whole file as text, read in chunks up to the size limit. UTF-8 when it is valid UTF-8,
// else Windows-1252, the code page the older program wrote in.
QString readText(const QString& fileName) {
    const QFileInfo info(fileName);
    if (info.exists() && !info.isFile()) {
        fail(fileName, QStringLiteral("not an ordinary file"));
    }
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        fail(fileName, QStringLiteral("cannot open the file: ") + file.errorString());
    }
    const QString tooLarge =
        QStringLiteral("the file is larger than %1 bytes").arg(kMaxConfigFileBytes);
    if (file.size() > kMaxConfigFileBytes) {
        fail(fileName, tooLarge);
    }
    QByteArray bytes;
    for (;;) {
        const QByteArray chunk = file.read(kReadChunkBytes);
        if (chunk.isEmpty()) {
            if (file.error() != QFileDevice::NoError) {
                fail(fileName, QStringLiteral("cannot read the file: ") + file.errorString());
            }
            break;
        }
        if (bytes.size() + chunk.size() > kMaxConfigFileBytes) {
            fail(fileName, tooLarge);
        }
        bytes += chunk;
    }
    if (bytes.contains('\0')) {
        fail(fileName, QStringLiteral("not a text file"));
    }
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8(bytes);
    if (utf8.hasError()) {
        text = fromWindows1252(bytes);
    }
    if (text.startsWith(QChar(0xFEFF))) {
        text.remove(0, 1);
    }
    return text;
}

// Splits the text into fields separated by commas and line ends (CR LF, LF or CR). Leading
// blanks of a field are skipped and blank lines give no field. A field that starts with a double
// quote runs to the next lone double quote ("" stands for one) and may hold commas and line ends.
class FieldReader {
  public:
    FieldReader(const QString& text, const QString& fileName) : text_(text), fileName_(fileName) {
        checkLineLengths();
    }

    // The next field, or nothing at the end of the text.
    std::optional<QString> next() {
        for (;;) {
            skipBlanks();
            if (!lineStart_ || !(atEnd() || isLineEnd(peek()))) {
                break;
            }
            if (atEnd()) {
                return std::nullopt;
            }
            skipLineEnd();  // a blank line
        }
        fieldLine_ = line_;
        QString field;
        if (!atEnd() && peek() == u'"') {
            field = quoted();
            skipBlanks();
            if (!atEnd() && !isLineEnd(peek()) && peek() != u',') {
                failHere(QStringLiteral("text after the closing double quote"));
            }
        } else {
            const qsizetype start = pos_;
            while (!atEnd() && !isLineEnd(peek()) && peek() != u',') {
                ++pos_;
            }
            field = text_.mid(start, pos_ - start);
        }
        if (atEnd()) {
            lineStart_ = true;
        } else if (peek() == u',') {
            ++pos_;
            lineStart_ = false;
        } else {
            skipLineEnd();
            lineStart_ = true;
        }
        return field;
    }

    // Fails with the line of the field last read.
    [[noreturn]] void failHere(const QString& what) const {
        fail(fileName_, QStringLiteral("line %1: %2").arg(fieldLine_).arg(what));
    }

  private:
    bool atEnd() const { return pos_ >= text_.size(); }
    QChar peek() const { return text_[pos_]; }
    void skipBlanks() {
        while (!atEnd() && isBlank(peek())) {
            ++pos_;
        }
    }
    void skipLineEnd() {
        if (text_[pos_++] == u'\r' && !atEnd() && peek() == u'\n') {
            ++pos_;
        }
        ++line_;
    }

    QString quoted() {
        ++pos_;
        QString field;
        for (;;) {
            if (atEnd()) {
                failHere(QStringLiteral("a double quote that is never closed"));
            }
            if (peek() == u'"') {
                ++pos_;
                if (atEnd() || peek() != u'"') {
                    return field;
                }
            } else if (isLineEnd(peek())) {
                const qsizetype start = pos_;
                skipLineEnd();
                field += text_.mid(start, pos_ - start);
                continue;
            }
            field += text_[pos_++];
            if (field.size() > kMaxConfigLineLength) {
                failHere(
                    QStringLiteral("a field longer than %1 characters").arg(kMaxConfigLineLength));
            }
        }
    }

    void checkLineLengths() const {
        int line = 1;
        qsizetype start = 0;
        for (qsizetype i = 0; i <= text_.size(); ++i) {
            if (i < text_.size() && !isLineEnd(text_[i])) {
                continue;
            }
            if (i - start > kMaxConfigLineLength) {
                fail(fileName_, QStringLiteral("line %1 is longer than %2 characters")
                                    .arg(line)
                                    .arg(kMaxConfigLineLength));
            }
            if (i < text_.size() &&
                !(text_[i] == u'\r' && i + 1 < text_.size() && text_[i + 1] == u'\n')) {
                ++line;
            }
            start = i + 1;
        }
    }

    const QString& text_;
    const QString& fileName_;
    qsizetype pos_ = 0;
    int line_ = 1;
    int fieldLine_ = 1;
    bool lineStart_ = true;  // no field yet on this line
};

// A value as a number: an optional sign, digits with an optional decimal point, an optional
// exponent. "." is the decimal separator in every locale; surrounding blanks are allowed.
double number(const FieldReader& fields, const QString& name, const QString& value) {
    QStringView text(value);
    while (!text.isEmpty() && isBlank(text.front())) {
        text = text.mid(1);
    }
    while (!text.isEmpty() && isBlank(text.back())) {
        text.chop(1);
    }
    qsizetype i = 0;
    const auto digits = [&] {
        const qsizetype start = i;
        while (i < text.size() && isDigit(text[i])) {
            ++i;
        }
        return i - start;
    };
    const bool positiveSign = !text.isEmpty() && text[0] == u'+';
    if (!text.isEmpty() && (text[0] == u'+' || text[0] == u'-')) {
        ++i;
    }
    qsizetype mantissa = digits();
    if (i < text.size() && text[i] == u'.') {
        ++i;
        mantissa += digits();
    }
    bool valid = mantissa > 0;
    if (valid && i < text.size() && (text[i] == u'e' || text[i] == u'E')) {
        ++i;
        if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
            ++i;
        }
        valid = digits() > 0;
    }
    if (!valid || i != text.size()) {
        fields.failHere(QStringLiteral("%1 needs a number, not \"%2\"").arg(name, value));
    }
    const QByteArray ascii = text.mid(positiveSign ? 1 : 0).toLatin1();
    double result = 0;
    const auto [end, error] = std::from_chars(ascii.data(), ascii.data() + ascii.size(), result);
    if (error != std::errc() || end != ascii.data() + ascii.size() || !std::isfinite(result)) {
        fields.failHere(QStringLiteral("the number %1 of %2 is out of range").arg(value, name));
    }
    return result;
}

// A whole number: rounded to the nearest, halves to the even one, within the 32-bit range.
std::int32_t wholeNumber(const FieldReader& fields, const QString& name, const QString& value) {
    const double x = number(fields, name, value);
    const double rounded = std::nearbyint(x);
    if (rounded < double(std::numeric_limits<std::int32_t>::min()) ||
        rounded > double(std::numeric_limits<std::int32_t>::max())) {
        fields.failHere(QStringLiteral("the number %1 of %2 is out of range").arg(value, name));
    }
    return engine::nearest(x);
}

// A geometry value as far as the scan needs it: one the load will refuse counts as 0 here.
double scannedFraction(const FieldReader& fields, const QString& name, const QString& value) {
    try {
        return number(fields, name, value);
    } catch (const ConfigFileError&) {
        return 0;
    }
}

// Walks the pairs once before anything changes, so that a file with a broken field structure,
// or with more areas or larger ones than the registry holds, is refused as a whole. The areas'
// buffers are counted at the size each End gives them, as the load will.
void checkStructure(FieldReader scan, const areas::mdlSub& registry, const QString& fileName) {
    std::int64_t areas = 0;
    std::int64_t bytes = 0;
    std::int64_t currentBytes = 0;
    std::array<double, 4> kept{};  // left, top, width, height
    while (const std::optional<QString> name = scan.next()) {
        const std::optional<QString> value = scan.next();
        if (!value) {
            scan.failHere(QStringLiteral("%1 has no value").arg(*name));
        }
        if (*name == u"Area") {
            if (++areas > areas::kMaxAreas) {
                break;  // refused below, without reading the rest
            }
            currentBytes = registry.newAreaBytes();
            bytes += currentBytes;
        } else if (*name == u"End" && areas > 0) {
            bytes -= currentBytes;
            currentBytes = registry.bufferBytesFor(kept[0], kept[1], kept[2], kept[3]);
            bytes += currentBytes;
        }
        for (const GeometryLine& line : kGeometryLines) {
            if (*name == line.name) {
                kept[std::size_t(line.slot)] = scannedFraction(scan, *name, *value);
            }
        }
    }
    try {
        registry.ensureRoomFor(areas, bytes, true);
    } catch (const areas::AreaLimitError& e) {
        fail(fileName, QString::fromUtf8(e.what()));
    }
}

// Reads name/value pairs to the end. Settings before the first Area line have no area to go
// to and are dropped; the four geometry values are kept across blocks until End applies them.
void loadAreas(areas::mdlSub& registry, FieldReader& fields,
               const std::function<bool()>& stopRequested) {
    std::shared_ptr<DetectionArea> current;
    std::array<double, 4> kept{};  // left, top, width, height
    while (const std::optional<QString> name = fields.next()) {
        const std::optional<QString> value = fields.next();
        if (!value) {
            fields.failHere(QStringLiteral("%1 has no value").arg(*name));
        }
        if (*name == u"Area") {
            if (stopRequested && stopRequested()) {
                throw ConfigFileError("loading stopped: the program is ending");
            }
            try {
                current = registry.AddArea(*value);
            } catch (const areas::AreaError& e) {
                fields.failHere(QStringLiteral("the area \"%1\" cannot be added: %2")
                                    .arg(*value, QString::fromUtf8(e.what())));
            }
            continue;
        }
        if (*name == u"End") {
            if (current) {
                current->Size(kept[0], kept[1], kept[2], kept[3]);
            }
            continue;
        }
        for (const GeometryLine& line : kGeometryLines) {
            if (*name == line.name) {
                kept[std::size_t(line.slot)] = number(fields, *name, *value);
            }
        }
        for (const SettingLine& line : kSettingLines) {
            if (*name != line.name) {
                continue;
            }
            if (line.setFlag) {
                const bool on = number(fields, *name, *value) != 0;
                if (current) {
                    ((*current).*line.setFlag)(on);
                }
            } else {
                const std::int32_t whole = wholeNumber(fields, *name, *value);
                if (current) {
                    ((*current).*line.setWhole)(whole);
                }
            }
        }
    }
}

}  // namespace

bool SaveConfig(areas::mdlSub& registry, const QString& FileName) {
    if (registry.EditMode()) {
        return false;
    }
    QString text = kHeader + kLineEnd;
    const int count = registry.areaCollection().Count();
    for (int i = 1; i <= count; ++i) {
        appendBlock(text, registry.controls().element(registry.FindAreaPosition(i)), FileName);
    }
    writeReplacing(FileName, text.toUtf8());
    return true;
}

bool LoadConfig(areas::mdlSub& registry, const QString& FileName, Reporter& reporter,
                const std::function<bool()>& stopRequested) {
    if (registry.EditMode()) {
        return false;
    }
    const QString text = readText(FileName);
    FieldReader fields(text, FileName);
    if (!text.isEmpty() && fields.next().value_or(QString()) != kHeader) {
        reporter.report(Level::Warning, QStringLiteral("Error: Wrong File!"),
                        QMessageBox::Information);
        return false;
    }
    checkStructure(fields, registry, FileName);
    registry.ClearAreas();
    loadAreas(registry, fields, stopRequested);
    registry.RebuildIndexMenu();
    if (registry.areaCollection().Count() >= 1) {
        registry.SelectArea(0);
    }
    return true;
}

}  // namespace ostrel::shell
