// Writes a SQLite library of one account with COUNT videos, for figures of programs that read
// whole databases (migrate).
//   clipvane_fill_library PATH COUNT

#include "LibraryFill.h"
#include "domain/Accounts.h"

#include <QString>

#include <cstdio>
#include <cstdlib>

using namespace clipvane::service;

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: clipvane_fill_library PATH COUNT\n");
        return 2;
    }
    constexpr int kPerTransaction = 1000;
    const auto storage = Storage::open(u"sqlite:"_qs + QString::fromLocal8Bit(argv[1]));
    Accounts accounts(*storage);
    const auto user = accounts.authenticate(accounts.issueToken(u"reader@example.com"_qs));
    bench::fillLibrary(*storage, *user, std::atoi(argv[2]), kPerTransaction);
    return 0;
}
