#pragma once

#include <QCoreApplication>
#include <QString>
#include <optional>
#include <utility>
#include <variant>

namespace clipvane {

// Why a call to the service failed. The first three kinds are the service's own answers (a
// bad response may say what was wrong with it); transport failures pass through with the
// platform's description; a reply that is not JSON, and a call that ran out of time, say so
// in words of their own.
class APIError
{
    Q_DECLARE_TR_FUNCTIONS(APIError)

public:
    enum class Kind { http, badResponse, unauthorized, transport, parse, timedOut };

    static APIError http(int status) { return APIError(Kind::http, status, {}); }
    static APIError badResponse(QString why = {}) { return APIError(Kind::badResponse, 0, std::move(why)); }
    static APIError unauthorized() { return APIError(Kind::unauthorized, 0, {}); }
    static APIError transport(QString description) { return APIError(Kind::transport, 0, std::move(description)); }
    static APIError parse(QString description) { return APIError(Kind::parse, 0, std::move(description)); }
    static APIError timedOut(QString description) { return APIError(Kind::timedOut, 0, std::move(description)); }

    Kind kind() const { return m_kind; }
    int status() const { return m_status; } // the HTTP status of Kind::http, else 0

    // The text the user sees.
    QString description() const
    {
        switch (m_kind) {
        case Kind::http:
            return tr("Server error (%1)").arg(m_status);
        case Kind::badResponse:
            if (m_description.isEmpty())
                return tr("Unexpected server response");
            return tr("Unexpected server response: %1").arg(m_description);
        case Kind::unauthorized:
            return tr("Signed out — check your password");
        case Kind::transport:
        case Kind::parse:
        case Kind::timedOut:
            break;
        }
        return m_description;
    }

    bool operator==(const APIError &) const = default;

private:
    APIError(Kind kind, int status, QString description)
        : m_kind(kind)
        , m_status(status)
        , m_description(std::move(description))
    {}

    Kind m_kind;
    int m_status;
    QString m_description;
};

// The outcome of one call: a value or the error that prevented it.
template<typename T> class ApiResult
{
public:
    ApiResult(T value)
        : m_outcome(std::in_place_index<0>, std::move(value))
    {}
    ApiResult(APIError error)
        : m_outcome(std::in_place_index<1>, std::move(error))
    {}

    bool ok() const { return m_outcome.index() == 0; }
    explicit operator bool() const { return ok(); }

    const T &value() const & { return std::get<0>(m_outcome); }
    T &value() & { return std::get<0>(m_outcome); }
    T &&value() && { return std::get<0>(std::move(m_outcome)); }
    const T *operator->() const { return &value(); }
    const T &operator*() const { return value(); }

    const APIError &error() const { return std::get<1>(m_outcome); }

private:
    std::variant<T, APIError> m_outcome;
};

template<> class ApiResult<void>
{
public:
    ApiResult() = default;
    ApiResult(APIError error)
        : m_error(std::move(error))
    {}

    bool ok() const { return !m_error.has_value(); }
    explicit operator bool() const { return ok(); }
    const APIError &error() const { return *m_error; }

private:
    std::optional<APIError> m_error;
};

} // namespace clipvane
