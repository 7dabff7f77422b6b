#pragma once

#include <string>
#include <string_view>

struct z_stream_s;

namespace clipvane::service {

// A request body taken in as it arrives, decoded from its content coding, and refused as
// soon as the decoded bytes pass the limit: a small compressed body that would inflate to
// gigabytes never gets the memory it asks for.
class RequestBody
{
public:
    enum class Coding { Identity, Gzip, Unsupported };
    enum class State { Reading, TooLarge, Malformed };

    // The coding named by a Content-Encoding value.
    static Coding codingOf(std::string_view contentEncoding);

    RequestBody(size_t limit, Coding coding);
    ~RequestBody();
    RequestBody(const RequestBody &) = delete;
    RequestBody &operator=(const RequestBody &) = delete;

    State append(std::string_view data);
    // After the last piece: a compressed body must have ended.
    State finish();
    State state() const { return m_state; }
    std::string take() { return std::move(m_text); }

private:
    void inflateSome(std::string_view data);

    size_t m_limit;
    Coding m_coding;
    State m_state = State::Reading;
    std::string m_text;
    z_stream_s *m_stream = nullptr;
    bool m_streamEnded = false;
};

} // namespace clipvane::service
