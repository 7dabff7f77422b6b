#pragma once

#include "assistant/Assistant.h"
#include "domain/Accounts.h"
#include "domain/Library.h"
#include "outbound/TelegramBot.h"

#include <QJsonObject>

#include "http/ServerRequest.h"

namespace clipvane::service {

// The JSON endpoints under /api, each given the signed-in account. They return the reply
// object (the pull and the edits: their JSON text) or throw ApiError or DomainError; the
// server turns all of them into HTTP.
class ApiEndpoints
{
public:
    ApiEndpoints(Accounts &accounts, Library &library, const Assistant &assistant, TelegramBot &telegram,
                 bool telegramConfigured, qint64 telegramCodeLifetimeMs);

    std::string videos(const Account &user, const ServerRequest &request);
    std::string upsert(const Account &user, const ServerRequest &request);
    QJsonObject remove(const Account &user, const ServerRequest &request);
    QJsonObject family(const Account &user, const ServerRequest &request);
    QJsonObject account(const Account &user, const ServerRequest &request);
    QJsonObject assistant(const Account &user, const ServerRequest &request);
    QJsonObject telegramCode(const Account &user, const ServerRequest &request);

private:
    std::string add(const Account &user, const QJsonObject &body);
    std::string patch(const Account &user, const QJsonObject &body);

    Accounts &m_accounts;
    Library &m_library;
    const Assistant &m_assistant;
    TelegramBot &m_telegram;
    bool m_telegramConfigured;
    qint64 m_telegramCodeLifetimeMs;
};

} // namespace clipvane::service
