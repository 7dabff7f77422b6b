#pragma once

#include <QDialog>
#include <QUrl>

namespace clipvane {

// What the application is: its name, version, licence and where the project lives.
class AboutSheet : public QDialog
{
    Q_OBJECT

public:
    static constexpr int kWidth = 360;

    // version: as the build gives it (QCoreApplication::applicationVersion), shown as it is.
    AboutSheet(const QString &version, const QString &licence, const QUrl &projectLink, QWidget *parent = nullptr);
};

} // namespace clipvane
