#include "skin/CSkinFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QList>
#include <QRegularExpression>

#include "platform/FileSystem.h"

namespace velt
{

namespace
{

constexpr const char* kFormatLine = "VELT Skin 1";
constexpr const char* kHeaderSection = "Skin";

bool Fail(QString* error, const QString& why)
{
    if (error != nullptr)
        *error = why;
    return false;
}

std::optional<QColor> ParseColor(const QString& text)
{
    static const QRegularExpression kPattern(QStringLiteral("^#[0-9A-Fa-f]{6}$"));
    if (!kPattern.match(text).hasMatch())
        return std::nullopt;
    return QColor(text);
}

bool LoadImage(const QString& baseDir, const QString& relative, QImage& image, QString* error)
{
    if (relative.isEmpty() || QDir::isAbsolutePath(relative) ||
        relative.startsWith(QLatin1Char(':')))
        return Fail(error, QStringLiteral("image path must be relative: %1").arg(relative));
    const QString clean = QDir::cleanPath(relative);
    if (clean == QLatin1String("..") || clean.startsWith(QLatin1String("../")))
        return Fail(error, QStringLiteral("image path leaves the skin folder: %1").arg(relative));
    const QString file = baseDir + QLatin1Char('/') + clean;
    if (IsNonRegularFile(file.toStdString()))
        return Fail(error, QStringLiteral("image is not a regular file: %1").arg(relative));
    QImageReader reader(file);
    const QSize size = reader.size();
    if (size.isValid() &&
        (size.width() > CSkinFile::kMaxImageSide || size.height() > CSkinFile::kMaxImageSide))
        return Fail(error, QStringLiteral("image too large: %1").arg(relative));
    image = reader.read();
    if (image.isNull())
        return Fail(error, QStringLiteral("image does not load: %1").arg(relative));
    return true;
}

// One "Part.Property=Value" line into the current object.
bool ApplyProperty(SkinObject& object, const QString& key, const QString& value,
                   const QString& baseDir, QString* error)
{
    const qsizetype dot = key.lastIndexOf(QLatin1Char('.'));
    if (dot <= 0 || dot == key.size() - 1)
        return Fail(error, QStringLiteral("expected Part.Property: %1").arg(key));
    const QString partName = key.left(dot);
    const QString property = key.mid(dot + 1);
    SkinPart& part = object.m_parts[partName];
    if (property == QLatin1String("Color") || property == QLatin1String("Edge"))
    {
        const auto color = ParseColor(value);
        if (!color)
            return Fail(error, QStringLiteral("not a #RRGGBB colour: %1").arg(value));
        (property == QLatin1String("Color") ? part.m_color : part.m_edge) = color;
        return true;
    }
    if (property == QLatin1String("Image"))
        return LoadImage(baseDir, value, part.m_image, error);
    return Fail(error, QStringLiteral("unknown property: %1").arg(property));
}

} // namespace

std::optional<SkinData> CSkinFile::Load(const QString& path, QString* error)
{
    if (path.startsWith(QLatin1Char(':')))
    {
        // A skin built into the program: its own bytes, not a file of the user's.
        QFile resource(path);
        if (!resource.open(QIODevice::ReadOnly))
        {
            Fail(error, QStringLiteral("cannot open %1").arg(path));
            return std::nullopt;
        }
        const QByteArray text = resource.read(kMaxFileBytes + 1);
        return Parse(text, QFileInfo(path).absolutePath(), error);
    }
    // Bounded and without waiting: a FIFO or a device named like the skin file is refused.
    LocalFileRead read = ReadLocalFile(path.toStdString(), static_cast<std::size_t>(kMaxFileBytes));
    switch (read.m_status)
    {
    case LocalFileRead::Status::kRead:
        break;
    case LocalFileRead::Status::kTooLarge:
        Fail(error, QStringLiteral("skin file too large"));
        return std::nullopt;
    case LocalFileRead::Status::kNotRegular:
        Fail(error, QStringLiteral("not a regular file: %1").arg(path));
        return std::nullopt;
    case LocalFileRead::Status::kMissing:
        Fail(error, QStringLiteral("cannot open %1").arg(path));
        return std::nullopt;
    }
    const QByteArray text(read.m_bytes.data(), static_cast<qsizetype>(read.m_bytes.size()));
    return Parse(text, QFileInfo(path).absolutePath(), error);
}

namespace
{

// Where the reading of a skin file stands, line by line.
struct SkinReading
{
    SkinData m_data;
    bool m_headerSeen = false;
    bool m_inHeader = false;
    bool m_formatSeen = false;
    std::shared_ptr<SkinObject> m_current;
};

// A "[name]" line: the header first, then one object each. Why it is refused, or nothing.
std::optional<QString> ReadSection(const QString& line, SkinReading& reading)
{
    if (!line.endsWith(QLatin1Char(']')))
        return QStringLiteral("unclosed section");
    const QString name = line.mid(1, line.size() - 2).trimmed();
    if (name.isEmpty() || name.size() > CSkinFile::kMaxObjectNameLength ||
        name.contains(QLatin1Char('[')) || name.contains(QLatin1Char(']')))
        return QStringLiteral("bad section name");
    if (!reading.m_headerSeen)
    {
        if (name != QLatin1String(kHeaderSection))
            return QStringLiteral("the file must begin with [Skin]");
        reading.m_headerSeen = true;
        reading.m_inHeader = true;
        return std::nullopt;
    }
    if (!reading.m_formatSeen)
        return QStringLiteral("Format missing");
    if (reading.m_data.m_objects.count(name) != 0 || name == QLatin1String(kHeaderSection))
        return QStringLiteral("duplicate object %1").arg(name);
    reading.m_inHeader = false;
    reading.m_current = std::make_shared<SkinObject>();
    reading.m_current->m_name = name;
    reading.m_data.m_objects[name] = reading.m_current;
    return std::nullopt;
}

// A "key=value" line of the header or of the current object.
std::optional<QString> ReadKeyValue(const QString& line, const QString& baseDir,
                                    SkinReading& reading)
{
    const qsizetype equals = line.indexOf(QLatin1Char('='));
    if (equals <= 0)
        return QStringLiteral("expected key=value");
    const QString key = line.left(equals).trimmed();
    const QString value = line.mid(equals + 1).trimmed();
    if (reading.m_inHeader)
    {
        if (key == QLatin1String("Format") && value == QLatin1String(kFormatLine))
            reading.m_formatSeen = true;
        else if (key == QLatin1String("Name"))
            reading.m_data.m_name = value;
        else
            return QStringLiteral("unknown header line");
        return std::nullopt;
    }
    if (!reading.m_current)
        return QStringLiteral("the file must begin with [Skin]");
    QString why;
    if (!ApplyProperty(*reading.m_current, key, value, baseDir, &why))
        return why;
    return std::nullopt;
}

} // namespace

std::optional<SkinData> CSkinFile::Parse(const QByteArray& text, const QString& baseDir,
                                         QString* error)
{
    if (text.size() > kMaxFileBytes)
    {
        Fail(error, QStringLiteral("skin file too large"));
        return std::nullopt;
    }
    const QString decoded = QString::fromUtf8(text);
    if (decoded.contains(QChar::ReplacementCharacter) || decoded.contains(QChar(0)))
    {
        Fail(error, QStringLiteral("not UTF-8 text"));
        return std::nullopt;
    }
    SkinReading reading;
    int lineNumber = 0;
    for (const QString& rawLine : decoded.split(QLatin1Char('\n')))
    {
        ++lineNumber;
        const QString line = rawLine.trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char(';')) ||
            line.startsWith(QLatin1Char('#')))
            continue;
        const std::optional<QString> why = line.startsWith(QLatin1Char('['))
                                               ? ReadSection(line, reading)
                                               : ReadKeyValue(line, baseDir, reading);
        if (why)
        {
            Fail(error, QStringLiteral("line %1: %2").arg(lineNumber).arg(*why));
            return std::nullopt;
        }
    }
    if (!reading.m_formatSeen)
    {
        Fail(error, QStringLiteral("not a VELT skin file"));
        return std::nullopt;
    }
    return std::move(reading.m_data);
}

} // namespace velt
