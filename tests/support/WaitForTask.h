#pragma once

#include <QEventLoop>
#include <optional>
#include <qcorotask.h>

namespace clipvane::test {

namespace detail {

template<typename T> QCoro::Task<> completeInto(QCoro::Task<T> task, std::optional<T> &result, QEventLoop &loop)
{
    result.emplace(co_await std::move(task));
    loop.quit();
}

} // namespace detail

// Runs the event loop until `task` finishes and returns its result. Unlike QCoro::waitFor it
// needs no default constructor, so it works for ApiResult<T>.
template<typename T> T waitForTask(QCoro::Task<T> task)
{
    QEventLoop loop;
    std::optional<T> result;
    detail::completeInto(std::move(task), result, loop);
    if (!result) // not finished at once
        loop.exec();
    return std::move(*result);
}

} // namespace clipvane::test
