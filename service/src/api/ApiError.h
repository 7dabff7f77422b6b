#pragma once

#include "domain/DomainError.h"

#include <stdexcept>
#include <string>

namespace clipvane::service {

// A request the service refuses: the reply carries this status and {"error": message}.
class ApiError : public std::runtime_error
{
public:
    ApiError(int status, const std::string &message)
        : std::runtime_error(message)
        , m_status(status)
    {}
    int status() const { return m_status; }

private:
    int m_status;
};

// The status of a refusal by the rules. Bounds on what an account holds are a plain 400:
// asking again will not help, and a 429 would tell clients to retry.
constexpr int httpStatus(DomainError::Kind kind)
{
    switch (kind) {
    case DomainError::Kind::InvalidInput:
    case DomainError::Kind::TooMany:
        return 400;
    case DomainError::Kind::UnknownAccount:
        return 401;
    case DomainError::Kind::Forbidden:
        return 403;
    case DomainError::Kind::NotFound:
        return 404;
    case DomainError::Kind::Conflict:
        return 409;
    }
    return 500;
}

} // namespace clipvane::service
