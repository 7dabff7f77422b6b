// The assistant's reader of questions, fed any text (a question and a follow-up, split at the
// first newline). It must never crash, and what it reads must be consistent.
#include "Duration.h"
#include "assistant/AssistantQuery.h"

#include <cstddef>
#include <cstdint>

using namespace clipvane::service;

namespace {

void require(bool condition)
{
    if (!condition)
        __builtin_trap();
}

constexpr int kNowYear = 2026;

void check(const AssistantQuery &query)
{
    if (query.minSeconds)
        require(*query.minSeconds >= 0);
    if (query.maxSeconds)
        require(*query.maxSeconds >= 0);
    if (query.period == AssistantQuery::Period::LastDays)
        require(query.lastDays > 0);
    (void)query.describe();
    const QString folded = AssistantQuery::fold(query.words.join(u' '));
    const QStringList titleTokens = AssistantQuery::tokens(folded);
    for (const QString &word : query.words)
        (void)AssistantQuery::titleHasWord(titleTokens, folded, word);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    const qsizetype newline = text.indexOf(u'\n');
    const QString question = newline < 0 ? text : text.left(newline);
    const AssistantQuery first = AssistantQuery::parse(question, kNowYear);
    check(first);
    if (newline >= 0) {
        const AssistantQuery followUp = AssistantQuery::parse(text.mid(newline + 1), kNowYear);
        check(followUp);
        check(first.refinedBy(followUp));
    }
    // The one reader of stored lengths, which the assistant's length questions compare with.
    (void)AssistantQuery::spokenLength(std::max<qint64>(0, clipvane::Duration::seconds(question).value_or(0)));
    return 0;
}
