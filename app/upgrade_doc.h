#pragma once

#include <QObject>
#include <QString>

namespace fieldkit::app {

// The document holds no data of its own; its title is what the caption shows before the
// frame title, and the progress display borrows it for the percentage during an upgrade.
class CUpgradeDoc final : public QObject {
    Q_OBJECT
public:
    // Starts a fresh document: the title returns to " FieldKit".
    bool OnNewDocument();

    const QString& GetTitle() const { return m_strTitle; }
    void SetTitle(const QString& title);

signals:
    void titleChanged(const QString& title);

private:
    QString m_strTitle;
};

} // namespace fieldkit::app
