#pragma once

#include <QObject>
#include <QStringList>
#include <optional>
#include <qcorotask.h>

namespace clipvane {

class APIClient;

// The family tab without its window: who can see the user's library, whose libraries the user
// can see, and the requests that change them. Nothing is stored locally; every
// request runs without blocking and reports one fixed sentence on failure.
class FamilySettingsModel : public QObject
{
    Q_OBJECT

public:
    // api must outlive the model.
    explicit FamilySettingsModel(APIClient &api, QObject *parent = nullptr);
    ~FamilySettingsModel() override;

    const QStringList &members() const { return m_members; }
    const QStringList &sharedWithMe() const { return m_sharedWithMe; }
    bool busy() const { return m_busy; }
    const std::optional<QString> &error() const { return m_error; }

    // Fetches both lists; a failure keeps them and reports its sentence (an earlier error stays
    // otherwise).
    QCoro::Task<> load();
    // Invites the typed address. Returns the address sent, or none when only spaces and tabs
    // were typed (the field then keeps its text).
    std::optional<QString> invite(const QString &typed);
    void remove(const QString &email);
    // Stops seeing the library an owner shares with the user; the service keeps the owner from
    // sharing it again.
    void decline(const QString &owner);
    // Forgets both lists, the error and any request still out: they belong to an account that
    // is no longer signed in here.
    void reset();

Q_SIGNALS:
    // Any of the four values above changed.
    void changed();
    // A load or a change finished (for waiting in tests and for accessibility announcements).
    void settled();
    // The service took a decline: the owner's videos are to leave the local library.
    void shareDeclined();

private:
    QCoro::Task<> fetch();
    QCoro::Task<> change(QString action, QString email);

    APIClient &m_api;
    QStringList m_members;
    QStringList m_sharedWithMe;
    bool m_busy = false;
    std::optional<QString> m_error;
    // Counts resets; a request that answers after one is dropped.
    quint64 m_generation = 0;
};

} // namespace clipvane
