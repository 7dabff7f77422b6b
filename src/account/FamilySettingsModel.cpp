#include "FamilySettingsModel.h"

#include "APIClient.h"
#include "FamilyInvite.h"

#include <QPointer>
#include <chrono>

namespace clipvane {

FamilySettingsModel::FamilySettingsModel(APIClient &api, QObject *parent)
    : QObject(parent)
    , m_api(api)
{}

FamilySettingsModel::~FamilySettingsModel() = default;

QCoro::Task<> FamilySettingsModel::load()
{
    QPointer<FamilySettingsModel> self(this);
    co_await fetch();
    if (self)
        Q_EMIT settled();
}

QCoro::Task<> FamilySettingsModel::fetch()
{
    // The tab may close, and the model go, while the request is out.
    QPointer<FamilySettingsModel> self(this);
    const quint64 generation = m_generation;
    const ApiResult<FamilyLists> lists = co_await m_api.family();
    if (!self || generation != m_generation)
        co_return;
    if (lists) {
        m_members = lists->members;
        m_sharedWithMe = lists->sharedWithMe;
    } else {
        m_error = tr("Couldn't load your family list.");
    }
    Q_EMIT changed();
}

void FamilySettingsModel::reset()
{
    ++m_generation;
    m_members.clear();
    m_sharedWithMe.clear();
    m_busy = false;
    m_error.reset();
    Q_EMIT changed();
}

std::optional<QString> FamilySettingsModel::invite(const QString &typed)
{
    const QString address = FamilyInvite::address(typed);
    if (address.isEmpty())
        return std::nullopt;
    change(QStringLiteral("add"), address);
    return address;
}

void FamilySettingsModel::remove(const QString &email)
{
    change(QStringLiteral("remove"), email);
}

void FamilySettingsModel::decline(const QString &owner)
{
    change(QStringLiteral("decline"), owner);
}

QCoro::Task<> FamilySettingsModel::change(QString action, QString email)
{
    QPointer<FamilySettingsModel> self(this);
    const quint64 generation = m_generation;
    m_busy = true;
    m_error.reset();
    Q_EMIT changed();
    const ApiResult<void> result = co_await m_api.familyAction(action, email);
    if (!self || generation != m_generation)
        co_return;
    if (result) {
        if (action == u"decline")
            Q_EMIT shareDeclined();
        co_await fetch();
        if (!self || generation != m_generation)
            co_return;
    } else {
        m_error = tr("That didn't work \u2014 check the address and try again.");
    }
    m_busy = false;
    Q_EMIT changed();
    Q_EMIT settled();
}

} // namespace clipvane
