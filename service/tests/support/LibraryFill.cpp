#include "LibraryFill.h"

#include "domain/FeedWriter.h"

namespace clipvane::service::bench {

void fillLibrary(Storage &storage, const Account &user, int count, int perTransaction)
{
    for (int first = 0; first < count; first += perTransaction)
        storage.write([&](WriteTransaction &tx) {
            FeedWriter feed(tx);
            for (int i = first; i < std::min(count, first + perTransaction); ++i) {
                const QString id = u"bench%1"_qs.arg(i, 7, 10, QLatin1Char('0'));
                tx.db
                    .prepare("INSERT INTO videos (user_id, youtube_id, title, url, upload_date, duration, source, "
                             "created_at, updated_at) VALUES (?1, ?2, ?3, ?4, '2021-03-04', '12:34', 'app', ?5, ?5)")
                    .bind(1, user.id)
                    .bind(2, id)
                    .bind(3, u"A video with a title of ordinary length, number %1"_qs.arg(i))
                    .bind(4, u"https://youtu.be/"_qs + id)
                    .bind(5, tx.stamp())
                    .run();
                feed.refresh(user, id);
            }
        });
}

} // namespace clipvane::service::bench
