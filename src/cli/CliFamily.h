#pragma once

#include <QCoreApplication>
#include <QString>
#include <QTextStream>
#include <qcorotask.h>

namespace clipvane {

class APIClient;

// The family commands of clipvane-cli: the lists of who shares with whom, and the changes the
// service offers. Nothing is stored locally; a declined library leaves the local one through
// the next sync, which learns of the change from the service's family revision.
class CliFamily
{
    Q_DECLARE_TR_FUNCTIONS(CliFamily)

public:
    // Everything must outlive the object.
    CliFamily(APIClient &api, QTextStream &out, QTextStream &err);

    // False after telling why on err.
    QCoro::Task<bool> list(bool json);
    // action: "add", "remove", "decline" or "unblock".
    QCoro::Task<bool> change(QString action, QString email);

private:
    void printSection(const QString &heading, const QStringList &addresses, const QString &none = QString());

    APIClient &m_api;
    QTextStream &m_out;
    QTextStream &m_err;
};

} // namespace clipvane
