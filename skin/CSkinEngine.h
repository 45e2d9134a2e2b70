#pragma once

#include "skin/CSkinFile.h"

#include <QEvent>
#include <QObject>
#include <QPointer>
#include <QRect>
#include <QString>

#include <memory>
#include <optional>
#include <vector>

class QPainter;
class QWidget;

namespace velt
{

// A handle of a skin object; empty when the skin has no such object. Holding it keeps the
// object alive even when another skin is loaded meanwhile.
using SkinObjectHandle = std::shared_ptr<const SkinObject>;

// The event that a subscriber receives when a skin is in force (the engine's WM_USER + 1).
inline const QEvent::Type kSkinMessageEvent = static_cast<QEvent::Type>(QEvent::User + 1);

// The skinning engine: the operations that the application shell, the match list view and the
// splitter need, under their own names. A skin is a set of named objects with coloured or
// pictured parts (see CSkinFile). Without a loaded skin every operation is harmless: nothing is
// drawn, nothing is subscribed, and the windows keep the platform's plain look.
class CSkinEngine final : public QObject
{
    Q_OBJECT

public:
    static constexpr int kMaxObjectNameLength = 50;
    // Where the embedded skins live: a resource name "DEFAULT" is ":/skins/DEFAULT.smf".
    static constexpr const char* kResourceFolder = ":/skins/";

    CSkinEngine();
    ~CSkinEngine() override;

    bool SkinEngineStart();
    // 1 when the file loaded; 0 when it is missing or broken (nothing changes then).
    int SkinEngineOpenFile(const QString& fileName);
    int SkinEngineOpenResource(const QString& resourceName);
    // The object whose colours every top-level window of the program is given.
    void SkinEngineDialogLook(const QString& objectName);
    void SkinEngineAttach(QWidget* window, const QString& objectName);
    // Sends kSkinMessageEvent (or QEvent::User + message) to the target at once when a skin is
    // loaded; false, sending nothing, without one.
    bool SkinEngineSubscribe(QObject* target, int message);
    void SkinEngineAttachChild(QWidget* child, int kind);
    SkinObjectHandle SkinEngineFindObject(const QString& objectName) const;
    void SkinEngineReleaseObject(SkinObjectHandle& handle);
    // Non-zero when something was drawn: the part exists and the rectangle is not empty.
    int SkinEngineDrawBackground(const SkinObjectHandle& handle, const QString& part,
                                 QPainter* painter, const QRect& rect) const;
    int SkinEngineDrawBox(const SkinObjectHandle& handle, const QString& part, QPainter* painter,
                          const QRect& rect) const;
    void SkinEngineStop();

    bool IsStarted() const { return m_started; }
    bool IsLoaded() const { return m_skin.has_value(); }
    QString SkinName() const { return m_skin ? m_skin->m_name : QString(); }
    QString DialogLook() const { return m_dialogLook; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    int Open(const QString& path);
    void ApplyLook(QWidget* window, const QString& objectName);
    static int DrawPart(const SkinObjectHandle& handle, const QString& part, QPainter* painter,
                        const QRect& rect, bool withEdge);

    bool m_started = false;
    std::optional<SkinData> m_skin;
    QString m_dialogLook;
    std::vector<QPointer<QWidget>> m_skinnedWindows;
};

} // namespace velt
