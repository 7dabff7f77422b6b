#pragma once

#include <stdexcept>
#include <string>

namespace clipvane::service {

// A change the rules refuse. The message is for the person asking (the API sends it as it
// is); the kind says why, and the API alone decides what status that is.
class DomainError : public std::runtime_error
{
public:
    enum class Kind {
        InvalidInput,   // the request asks for something that can never be done
        UnknownAccount, // the account is gone (deleted, so its tokens revoked)
        NotFound,
        Forbidden, // not the asker's to change
        Conflict,  // clashes with what is stored
        TooMany,   // past a bound on what one account may hold
    };

    DomainError(Kind kind, const std::string &message)
        : std::runtime_error(message)
        , m_kind(kind)
    {}
    Kind kind() const { return m_kind; }

private:
    Kind m_kind;
};

} // namespace clipvane::service
