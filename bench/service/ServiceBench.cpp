// Prints: rows per second served to one client pulling a 100,000-video library in pages of
// 600; adds per second without metadata (one client in sequence, and four at once); peak RSS.
// The service runs in-process on a loopback port; the clients speak HTTP to it.

#include "LibraryFill.h"
#include "Service.h"

#include <QTemporaryDir>

#include <httplib.h>

#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

using namespace clipvane::service;
using clipvane::service::bench::fillLibrary;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kLibrarySize = 100'000;
constexpr int kPageLimit = 600;
constexpr int kPullRounds = 3;
constexpr int kSequentialAdds = 3000;
constexpr int kParallelClients = 4;
constexpr int kParallelAddsEach = 750;

// Offline: every fetch finds nothing at once.
class NoMetadata : public MetadataProvider
{
public:
    std::optional<VideoMetadata> fetch(const QString &, const QString &) override { return std::nullopt; }
};

double seconds(Clock::time_point since)
{
    return std::chrono::duration<double>(Clock::now() - since).count();
}

long peakRssKb()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

httplib::Headers bearer(const QString &token)
{
    httplib::Headers headers;
    headers.emplace("Authorization", "Bearer " + token.toStdString());
    return headers;
}

// One whole pull; returns the number of rows, or -1 on an error.
long pull(int port, const QString &token)
{
    httplib::Client client("127.0.0.1", port);
    client.set_keep_alive(true);
    client.set_tcp_nodelay(true);
    client.set_read_timeout(60, 0);
    const httplib::Headers headers = bearer(token);
    long rows = 0;
    std::string since = "0";
    std::string afterId = "0";
    for (;;) {
        const auto reply = client.Get(
            ("/api/videos.php?since=" + since + "&after_id=" + afterId + "&limit=" + std::to_string(kPageLimit))
                .c_str(),
            headers);
        if (!reply || reply->status != 200)
            return -1;
        // Only the cursor is read here, as cheaply as a client could: the last row's fields.
        const std::string &body = reply->body;
        const size_t count = [&] {
            size_t n = 0;
            for (size_t at = body.find("\"youtube_id\""); at != std::string::npos;
                 at = body.find("\"youtube_id\"", at + 1))
                ++n;
            return n;
        }();
        rows += long(count);
        if (count < size_t(kPageLimit))
            return rows;
        auto field = [&](const char *name) {
            const std::string key = std::string("\"") + name + "\":";
            const size_t at = body.rfind(key);
            size_t end = at + key.size();
            while (end < body.size() && (std::isdigit(static_cast<unsigned char>(body[end])) || body[end] == '-'))
                ++end;
            return body.substr(at + key.size(), end - at - key.size());
        };
        since = field("updated_at");
        afterId = field("id");
    }
}

int addMany(int port, const QString &token, int first, int count)
{
    httplib::Client client("127.0.0.1", port);
    client.set_keep_alive(true);
    client.set_tcp_nodelay(true);
    const httplib::Headers headers = bearer(token);
    int failures = 0;
    for (int i = first; i < first + count; ++i) {
        const std::string body =
            "{\"url\":\"https://youtu.be/added" + std::to_string(1'000'000 + i) + "\",\"title\":\"\"}";
        const auto reply = client.Post("/api/upsert.php", headers, body, "application/json");
        if (!reply || reply->status != 200)
            ++failures;
    }
    return failures;
}

} // namespace

int main(int argc, char **argv)
{
    const bool pullOnly = argc > 1 && std::string(argv[1]) == "--pull-only";
    QTemporaryDir data;
    ServiceConfig config;
    config.dataDir = data.path();
    config.listenPort = 0;
    config.logRequests = false;
    config.metadataRetry = MetadataRetry{5, 3'600'000, 4}; // the worker stays idle during the run
    if (qEnvironmentVariable("CLIPVANE_SERVICE_SYNC") == u"full"_qs)
        config.durability = Storage::Durability::Commit;
    Service service(config, std::make_unique<NoMetadata>());
    const int port = service.start();

    struct Library
    {
        const char *what;
        QString email;
        int perTransaction;
    };
    for (const Library &library : {Library{"one stamp for all (a new share)", u"shared@example.com"_qs, kLibrarySize},
                                   Library{"a stamp per 50 videos", u"grown@example.com"_qs, 50}}) {
        const QString token = service.accounts().issueToken(library.email);
        const Account reader = *service.accounts().authenticate(token);
        auto started = Clock::now();
        fillLibrary(service.storage(), reader, kLibrarySize, library.perTransaction);
        std::printf("library with %s: %d videos written in %.2f s\n", library.what, kLibrarySize, seconds(started));
        double best = 0;
        for (int round = 0; round < kPullRounds; ++round) {
            started = Clock::now();
            const long rows = pull(port, token);
            const double elapsed = seconds(started);
            const double rate = double(rows) / elapsed;
            best = std::max(best, rate);
            std::printf("  pull %d: %ld rows in %.3f s = %.0f rows/s\n", round + 1, rows, elapsed, rate);
        }
        std::printf("  best: %.0f rows/s (target >= 50000)\n", best);
    }

    if (pullOnly) {
        service.stop();
        return 0;
    }
    const QString adderToken = service.accounts().issueToken(u"adder@example.com"_qs);
    auto started = Clock::now();
    const int sequentialFailures = addMany(port, adderToken, 0, kSequentialAdds);
    double elapsed = seconds(started);
    std::printf("adds, one client in sequence: %d in %.3f s = %.0f adds/s (%d failed)\n", kSequentialAdds, elapsed,
                kSequentialAdds / elapsed, sequentialFailures);

    std::vector<QString> tokens;
    for (int c = 0; c < kParallelClients; ++c)
        tokens.push_back(service.accounts().issueToken(u"adder%1@example.com"_qs.arg(c)));
    std::atomic<int> parallelFailures{0};
    std::vector<std::thread> clients;
    started = Clock::now();
    for (int c = 0; c < kParallelClients; ++c)
        clients.emplace_back(
            [&, c] { parallelFailures += addMany(port, tokens[size_t(c)], 100'000 * (c + 1), kParallelAddsEach); });
    for (std::thread &client : clients)
        client.join();
    elapsed = seconds(started);
    const int parallelTotal = kParallelClients * kParallelAddsEach;
    std::printf("adds, %d clients at once: %d in %.3f s = %.0f adds/s (%d failed)\n", kParallelClients, parallelTotal,
                elapsed, parallelTotal / elapsed, parallelFailures.load());

    service.stop();
    std::printf("peak RSS: %.1f MB (target <= 60)\n", double(peakRssKb()) / 1024.0);
    return 0;
}
