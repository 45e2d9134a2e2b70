#pragma once

#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QString>

#include <map>
#include <memory>
#include <optional>

namespace velt
{

// One drawable part of a skin object ("SplitterBox", "Backbround", "Window" ...).
struct SkinPart
{
    std::optional<QColor> m_color; // filled over the whole rectangle
    QImage m_image;                // stretched over the rectangle, over the colour
    std::optional<QColor> m_edge;  // one-pixel frame along the rectangle's inside
};

// A named skin object ("MainFrame", "SkinGfxSplitter1") and its parts.
struct SkinObject
{
    QString m_name;
    std::map<QString, SkinPart> m_parts;
};

struct SkinData
{
    QString m_name;
    std::map<QString, std::shared_ptr<const SkinObject>> m_objects;
};

// Reads skin files (".smf"). The format is small INI-like UTF-8 text:
//
//   ; comment                          (also "#"; blank lines are ignored)
//   [Skin]                             the first section, required
//   Format=VELT Skin 1                 required, exactly this
//   Name=Zeno                          optional
//   [SkinGfxSplitter1]                 a skin object, 1 to 50 characters
//   SplitterBox.Color=#5A6F8A          part "SplitterBox": fill colour #RRGGBB
//   SplitterBox.Edge=#2E3A48           part "SplitterBox": one-pixel frame colour
//   SplitterBox.Image=bar.png          part "SplitterBox": image, relative to the skin file
//
// Anything else (an unknown property, a malformed line, a colour that is not #RRGGBB, an image
// that is absolute, climbs out of the skin's folder, is missing or does not decode, a file
// larger than kMaxFileBytes, a duplicate object) makes the whole file broken: it does not load.
class CSkinFile
{
public:
    static constexpr qint64 kMaxFileBytes = 256 * 1024;
    static constexpr int kMaxObjectNameLength = 50;
    static constexpr int kMaxImageSide = 4096;

    // Reads and parses a file; images are looked up beside it. Qt resource paths (":/...") work.
    static std::optional<SkinData> Load(const QString& path, QString* error = nullptr);
    // Parses text; baseDir is where images are looked up.
    static std::optional<SkinData> Parse(const QByteArray& text, const QString& baseDir,
                                         QString* error = nullptr);
};

} // namespace velt
