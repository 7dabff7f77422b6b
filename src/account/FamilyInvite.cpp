#include "FamilyInvite.h"

namespace clipvane {

namespace {

bool isSpaceOrTab(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t');
}

} // namespace

QString FamilyInvite::address(const QString &typed)
{
    qsizetype begin = 0;
    qsizetype end = typed.size();
    while (begin < end && isSpaceOrTab(typed.at(begin)))
        ++begin;
    while (end > begin && isSpaceOrTab(typed.at(end - 1)))
        --end;
    return typed.mid(begin, end - begin);
}

bool FamilyInvite::canInvite(const QString &typed, bool busy)
{
    return !typed.isEmpty() && !busy;
}

} // namespace clipvane
