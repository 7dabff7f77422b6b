#include "domain/SignInStates.h"

#include "db/Storage.h"

#include <limits>

namespace clipvane::service {

namespace {

// Each visit to the sign-in page keeps a state; a bound keeps a flood of visits from growing
// that without limit.
constexpr qint64 kMaxWaiting = 10000;

} // namespace

SignInStates::SignInStates(Storage &storage)
    : m_storage(storage)
{}

void SignInStates::remember(const QString &state, const QString &appState, qint64 lifetimeMs)
{
    m_storage.write([&](WriteTransaction &tx) {
        tx.db.prepare("DELETE FROM signin_states WHERE expires_at <= ?1").bind(1, tx.wallNow()).run();
        tx.db
            .prepare("DELETE FROM signin_states WHERE state IN (SELECT state FROM signin_states "
                     "ORDER BY expires_at DESC LIMIT ?2 OFFSET ?1)")
            .bind(1, kMaxWaiting - 1)
            .bind(2, std::numeric_limits<qint64>::max())
            .run();
        tx.db.prepare("INSERT INTO signin_states (state, app_state, expires_at) VALUES (?1, ?2, ?3)")
            .bind(1, state)
            .bind(2, appState)
            .bind(3, tx.wallNow() + lifetimeMs)
            .run();
    });
}

QString SignInStates::appState(const QString &state)
{
    return m_storage.read([&](SqlConnection &db) {
        auto query = db.prepare("SELECT app_state FROM signin_states WHERE state = ?1");
        query.bind(1, state);
        return query.step() ? query.text(0) : QString();
    });
}

bool SignInStates::consume(const QString &state)
{
    return m_storage.write([&](WriteTransaction &tx) {
        auto removed = tx.db.prepare("DELETE FROM signin_states WHERE state = ?1 RETURNING expires_at");
        removed.bind(1, state);
        return removed.step() && removed.int64(0) > tx.wallNow();
    });
}

} // namespace clipvane::service
