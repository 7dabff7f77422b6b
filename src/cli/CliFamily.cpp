#include "CliFamily.h"

#include "APIClient.h"
#include "FamilyLists.h"
#include "TerminalText.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace clipvane {

CliFamily::CliFamily(APIClient &api, QTextStream &out, QTextStream &err)
    : m_api(api)
    , m_out(out)
    , m_err(err)
{}

QCoro::Task<bool> CliFamily::list(bool json)
{
    const ApiResult<FamilyLists> lists = co_await m_api.family(true);
    if (!lists) {
        m_err << u"clipvane-cli: "_qs
              << tr("Couldn't load your family list. (%1)\n").arg(TerminalText::shown(lists.error().description()));
        co_return false;
    }
    if (json) {
        const QJsonObject object{{u"members"_qs, QJsonArray::fromStringList(lists->members)},
                                 {u"shared_with_me"_qs, QJsonArray::fromStringList(lists->sharedWithMe)},
                                 {u"declined"_qs, QJsonArray::fromStringList(lists->declined)}};
        m_out << QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Indented));
        co_return true;
    }
    printSection(tr("People who can see my library"), lists->members, tr("No one yet."));
    printSection(tr("Shared with me"), lists->sharedWithMe);
    printSection(tr("Declined"), lists->declined);
    co_return true;
}

void CliFamily::printSection(const QString &heading, const QStringList &addresses, const QString &none)
{
    if (addresses.isEmpty() && none.isEmpty())
        return;
    m_out << heading << u":\n"_qs;
    if (addresses.isEmpty())
        m_out << u"  "_qs << none << u'\n';
    for (const QString &address : addresses)
        m_out << u"  "_qs << TerminalText::shown(address) << u'\n';
}

QCoro::Task<bool> CliFamily::change(QString action, QString email)
{
    const ApiResult<void> result = co_await m_api.familyAction(action, email);
    const QString shown = TerminalText::shown(email);
    if (!result) {
        m_err << u"clipvane-cli: "_qs
              << tr("That didn't work — check the address and try again. (%1)\n")
                     .arg(TerminalText::shown(result.error().description()));
        co_return false;
    }
    if (action == u"add")
        m_out << tr("Shared your library with %1.\n").arg(shown);
    else if (action == u"remove")
        m_out << tr("Stopped sharing your library with %1.\n").arg(shown);
    else if (action == u"decline")
        m_out << tr("Declined the library of %1; its videos leave this library at the next sync.\n").arg(shown);
    else
        m_out << tr("%1 can share a library with you again.\n").arg(shown);
    co_return true;
}

} // namespace clipvane
