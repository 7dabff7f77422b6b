#include "outbound/CircuitBreaker.h"

namespace clipvane::service {

CircuitBreaker::CircuitBreaker(int failuresToOpen, Clock::duration openFor)
    : m_failuresToOpen(failuresToOpen)
    , m_openFor(openFor)
{}

bool CircuitBreaker::allow()
{
    std::lock_guard lock(m_mutex);
    if (m_failures < m_failuresToOpen)
        return true;
    if (m_trying || Clock::now() < m_openUntil)
        return false;
    m_trying = true;
    return true;
}

void CircuitBreaker::succeeded()
{
    std::lock_guard lock(m_mutex);
    m_failures = 0;
    m_trying = false;
}

bool CircuitBreaker::failed()
{
    std::lock_guard lock(m_mutex);
    const bool trial = m_trying;
    m_trying = false;
    if (++m_failures < m_failuresToOpen)
        return false;
    m_openUntil = Clock::now() + m_openFor;
    // Failures while already open only lengthen the pause.
    return m_failures == m_failuresToOpen || trial;
}

} // namespace clipvane::service
