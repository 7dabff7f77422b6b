#pragma once

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

} // namespace clipvane::service
