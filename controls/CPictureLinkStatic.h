#pragma once

#include <QLabel>
#include <QPixmap>
#include <QString>

namespace velt
{

// A static area that shows a picture and opens a link when clicked. Without a picture it stays
// blank; without a link clicks do nothing and the cursor stays as it is.
class CPictureLinkStatic final : public QLabel
{
    Q_OBJECT

public:
    explicit CPictureLinkStatic(QWidget* parent = nullptr);

    void SetPicture(const QPixmap& picture);
    void SetLink(const QString& url);
    const QString& Link() const { return m_link; }

signals:
    void LinkClicked(const QString& url);

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    QString m_link;
};

} // namespace velt
