#include "skin/CSkinEngine.h"

#include "res/GuiResources.h"

#include <QApplication>
#include <QPainter>
#include <QPalette>
#include <QWidget>

namespace velt
{

namespace
{

// The parts of a look object and the palette roles they colour.
struct LookRole
{
    const char* m_part;
    QPalette::ColorRole m_role;
};

constexpr LookRole kLookRoles[] = {
    {"Window", QPalette::Window},
    {"WindowText", QPalette::WindowText},
    {"Button", QPalette::Button},
    {"ButtonText", QPalette::ButtonText},
    {"Base", QPalette::Base},
    {"Text", QPalette::Text},
    {"Highlight", QPalette::Highlight},
    {"HighlightedText", QPalette::HighlightedText},
    {"AlternateBase", QPalette::AlternateBase},
    {"ToolTipBase", QPalette::ToolTipBase},
    {"ToolTipText", QPalette::ToolTipText},
    {"PlaceholderText", QPalette::PlaceholderText},
};

// Kind 3 of SkinEngineAttachChild: a form view, which takes the look's window colours.
constexpr int kChildKindFormView = 3;

} // namespace

CSkinEngine::CSkinEngine()
{
    InitGuiResources();
}

CSkinEngine::~CSkinEngine()
{
    SkinEngineStop();
}

bool CSkinEngine::SkinEngineStart()
{
    if (m_started)
        return true;
    m_started = true;
    if (qApp != nullptr)
        qApp->installEventFilter(this);
    return true;
}

int CSkinEngine::SkinEngineOpenFile(const QString& fileName)
{
    return Open(fileName);
}

int CSkinEngine::SkinEngineOpenResource(const QString& resourceName)
{
    return Open(QLatin1String(kResourceFolder) + resourceName + QLatin1String(".smf"));
}

int CSkinEngine::Open(const QString& path)
{
    if (!m_started)
        return 0;
    auto skin = CSkinFile::Load(path);
    if (!skin)
        return 0;
    m_skin = std::move(skin);
    return 1;
}

void CSkinEngine::SkinEngineDialogLook(const QString& objectName)
{
    m_dialogLook = objectName.left(kMaxObjectNameLength);
}

void CSkinEngine::SkinEngineAttach(QWidget* window, const QString& objectName)
{
    if (window != nullptr)
        ApplyLook(window, objectName.left(kMaxObjectNameLength));
}

bool CSkinEngine::SkinEngineSubscribe(QObject* target, int message)
{
    if (!m_started || !m_skin || target == nullptr)
        return false;
    const auto type =
        message == 0 ? kSkinMessageEvent : static_cast<QEvent::Type>(QEvent::User + message);
    QEvent event(type);
    QCoreApplication::sendEvent(target, &event);
    return true;
}

void CSkinEngine::SkinEngineAttachChild(QWidget* child, int kind)
{
    if (child != nullptr && kind == kChildKindFormView)
        ApplyLook(child, m_dialogLook);
}

SkinObjectHandle CSkinEngine::SkinEngineFindObject(const QString& objectName) const
{
    if (!m_skin)
        return nullptr;
    const auto found = m_skin->m_objects.find(objectName.left(kMaxObjectNameLength));
    return found == m_skin->m_objects.end() ? nullptr : found->second;
}

void CSkinEngine::SkinEngineReleaseObject(SkinObjectHandle& handle)
{
    handle.reset();
}

int CSkinEngine::SkinEngineDrawBackground(const SkinObjectHandle& handle, const QString& part,
                                          QPainter* painter, const QRect& rect) const
{
    return DrawPart(handle, part, painter, rect, false);
}

int CSkinEngine::SkinEngineDrawBox(const SkinObjectHandle& handle, const QString& part,
                                   QPainter* painter, const QRect& rect) const
{
    return DrawPart(handle, part, painter, rect, true);
}

void CSkinEngine::SkinEngineStop()
{
    if (!m_started)
        return;
    if (qApp != nullptr)
        qApp->removeEventFilter(this);
    for (const QPointer<QWidget>& window : m_skinnedWindows)
    {
        if (window)
            window->setPalette(QPalette());
    }
    m_skinnedWindows.clear();
    m_skin.reset();
    m_started = false;
}

bool CSkinEngine::eventFilter(QObject* watched, QEvent* event)
{
    // Every top-level window gets the dialog look before it is first shown, as a window hook would.
    if (event->type() == QEvent::Show && m_skin && !m_dialogLook.isEmpty() &&
        watched->isWidgetType())
    {
        auto* widget = static_cast<QWidget*>(watched);
        if (widget->isWindow() && !widget->property("veltSkinned").toBool())
            ApplyLook(widget, m_dialogLook);
    }
    return QObject::eventFilter(watched, event);
}

void CSkinEngine::ApplyLook(QWidget* window, const QString& objectName)
{
    const SkinObjectHandle look = SkinEngineFindObject(objectName);
    if (!look)
        return;
    const auto colorOf = [&look](const char* part) -> std::optional<QColor>
    {
        const auto found = look->m_parts.find(QLatin1String(part));
        return found == look->m_parts.end() ? std::nullopt : found->second.m_color;
    };
    // A look with its own window and button colours starts from a whole palette made of them,
    // not from the desktop's: a dark desktop theme would otherwise leave its light text, bevels
    // and list colours beside the skin's light window.
    QPalette palette = window->palette();
    const std::optional<QColor> windowColor = colorOf("Window");
    const std::optional<QColor> buttonColor = colorOf("Button");
    if (windowColor && buttonColor)
        palette = QPalette(*buttonColor, *windowColor);
    for (const LookRole& role : kLookRoles)
    {
        if (const std::optional<QColor> color = colorOf(role.m_part))
            palette.setColor(role.m_role, *color);
    }
    window->setPalette(palette);
    window->setProperty("veltSkinned", true);
    m_skinnedWindows.emplace_back(window);
}

int CSkinEngine::DrawPart(const SkinObjectHandle& handle, const QString& part, QPainter* painter,
                          const QRect& rect, bool withEdge)
{
    if (!handle || painter == nullptr || rect.isEmpty())
        return 0;
    const auto found = handle->m_parts.find(part);
    if (found == handle->m_parts.end())
        return 0;
    const SkinPart& skinPart = found->second;
    bool drawn = false;
    if (skinPart.m_color)
    {
        painter->fillRect(rect, *skinPart.m_color);
        drawn = true;
    }
    if (!skinPart.m_image.isNull())
    {
        painter->drawImage(rect, skinPart.m_image);
        drawn = true;
    }
    if (withEdge && skinPart.m_edge)
    {
        painter->save();
        painter->setPen(*skinPart.m_edge);
        painter->setBrush(Qt::NoBrush);
        painter->drawRect(rect.adjusted(0, 0, -1, -1));
        painter->restore();
        drawn = true;
    }
    return drawn ? 1 : 0;
}

} // namespace velt
