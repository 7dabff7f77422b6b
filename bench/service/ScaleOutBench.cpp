// The service spread over instances that share one database: a 100,000-video library pulled
// in pages of 600 with the pages going round the instances in turn (3 rounds, rows per second),
// adds per second from 8 keep-alive clients at once (client c on instance c % N), and the peak
// RSS of every instance. The last line ("summary") is for the scale-out script.
//
//   clipvane_scale_out_bench [--database URL] [--instances N] [--binary PATH]

#include "LibraryFill.h"
#include "db/Storage.h"
#include "domain/Accounts.h"

#include <QTemporaryDir>

#include <httplib.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

using namespace clipvane::service;
using clipvane::service::bench::fillLibrary;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kLibrarySize = 100'000;
constexpr int kPerTransaction = 50;
constexpr int kPageLimit = 600;
constexpr int kPullRounds = 3;
constexpr int kAddClients = 8;
constexpr int kAddsEach = 500;
// Nothing leaves the machine: a closed local port answers every metadata lookup at once.
constexpr const char *kClosedPort = "http://127.0.0.1:9";

struct Options
{
    std::string database;
    int instances = 1;
    std::string binary = CLIPVANE_SERVICE_BINARY;
};

// A clipvane-service process; its log is read until it names its port, then drained.
struct Instance
{
    pid_t pid = -1;
    int port = 0;
    std::thread drain;
};

double seconds(Clock::time_point since)
{
    return std::chrono::duration<double>(Clock::now() - since).count();
}

long peakRssKb(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0)
            return std::atol(line.c_str() + 6);
    return 0;
}

std::unique_ptr<httplib::Client> connect(int port)
{
    auto client = std::make_unique<httplib::Client>("127.0.0.1", port);
    client->set_keep_alive(true);
    client->set_tcp_nodelay(true);
    client->set_read_timeout(60, 0);
    return client;
}

bool start(const Options &options, Instance &instance)
{
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) // a later instance must not hold an earlier one's log open
        return false;
    instance.pid = fork();
    if (instance.pid == 0) {
        setenv("CLIPVANE_OEMBED_BASE", kClosedPort, 1);
        setenv("CLIPVANE_YOUTUBE_API_BASE", kClosedPort, 1);
        unsetenv("CLIPVANE_TELEGRAM_BOT_TOKEN");
        dup2(pipeFds[1], STDERR_FILENO);
        close(pipeFds[0]);
        close(pipeFds[1]);
        execl(options.binary.c_str(), options.binary.c_str(), "serve", "--listen", "127.0.0.1:0", "--database",
              options.database.c_str(), static_cast<char *>(nullptr));
        _exit(127);
    }
    close(pipeFds[1]);
    FILE *log = fdopen(pipeFds[0], "r");
    char line[1024];
    while (instance.port == 0 && fgets(line, sizeof line, log)) {
        const std::string text = line;
        if (text.find("listening on") != std::string::npos)
            instance.port = std::atoi(text.c_str() + text.rfind(':') + 1);
    }
    // The rest of the log is read so the service never blocks on it; only its failures are shown.
    instance.drain = std::thread([log] {
        char rest[4096];
        while (fgets(rest, sizeof rest, log))
            if (std::strstr(rest, " failed"))
                std::fputs(rest, stderr);
        fclose(log);
    });
    return instance.port > 0;
}

// Peak RSS in kB, read just before the instance is asked to stop.
long stop(Instance &instance)
{
    const long peak = peakRssKb(instance.pid);
    kill(instance.pid, SIGTERM);
    waitpid(instance.pid, nullptr, 0);
    if (instance.drain.joinable())
        instance.drain.join();
    return peak;
}

std::string lastNumber(const std::string &body, const std::string &name)
{
    const std::string key = "\"" + name + "\":";
    const size_t at = body.rfind(key);
    if (at == std::string::npos)
        return "0";
    size_t end = at + key.size();
    while (end < body.size() && (std::isdigit(static_cast<unsigned char>(body[end])) || body[end] == '-'))
        ++end;
    return body.substr(at + key.size(), end - at - key.size());
}

// One whole pull, page k from instance k % N; the number of rows, or -1 on an error.
long pull(const std::vector<Instance> &instances, const std::string &token)
{
    std::vector<std::unique_ptr<httplib::Client>> clients;
    for (const Instance &instance : instances)
        clients.push_back(connect(instance.port));
    const httplib::Headers headers{{"Authorization", "Bearer " + token}};
    long rows = 0;
    std::string since = "0";
    std::string afterId = "0";
    for (size_t page = 0;; ++page) {
        const auto reply = clients[page % clients.size()]->Get(
            "/api/videos.php?since=" + since + "&after_id=" + afterId + "&limit=" + std::to_string(kPageLimit),
            headers);
        if (!reply || reply->status != 200)
            return -1;
        long count = 0;
        for (size_t at = reply->body.find("\"youtube_id\""); at != std::string::npos;
             at = reply->body.find("\"youtube_id\"", at + 1))
            ++count;
        rows += count;
        if (count < kPageLimit)
            return rows;
        since = lastNumber(reply->body, "updated_at");
        afterId = lastNumber(reply->body, "id");
    }
}

int addMany(int port, const std::string &token, int client)
{
    const auto http = connect(port);
    const httplib::Headers headers{{"Authorization", "Bearer " + token}};
    int failures = 0;
    for (int i = 0; i < kAddsEach; ++i) {
        char id[16];
        std::snprintf(id, sizeof id, "sc%d%08d", client, i); // 11 characters, like a video ID
        const std::string body = std::string("{\"url\":\"https://youtu.be/") + id + "\",\"title\":\"\"}";
        const auto reply = http->Post("/api/upsert.php", headers, body, "application/json");
        if (reply && reply->status == 200)
            continue;
        if (failures++ == 0) // the first of a client's failures, so the cause can be seen
            std::fprintf(stderr, "add %s failed: %s\n", id,
                         reply ? (std::to_string(reply->status) + " " + reply->body.substr(0, 200)).c_str()
                               : httplib::to_string(reply.error()).c_str());
    }
    return failures;
}

bool parse(int argc, char **argv, Options &options)
{
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        if (name == "--database")
            options.database = argv[i + 1];
        else if (name == "--instances")
            options.instances = std::atoi(argv[i + 1]);
        else if (name == "--binary")
            options.binary = argv[i + 1];
        else
            return false;
    }
    return argc % 2 == 1 && options.instances >= 1;
}

} // namespace

int main(int argc, char **argv)
{
    Options options;
    if (!parse(argc, argv, options)) {
        std::fprintf(stderr, "usage: %s [--database URL] [--instances N] [--binary PATH]\n", argv[0]);
        return 2;
    }
    QTemporaryDir data;
    if (options.database.empty())
        options.database = Storage::sqliteIn(data.path()).toStdString();
    if (options.instances > 1 && options.database.rfind("sqlite:", 0) == 0) {
        std::fprintf(stderr, "a SQLite database has one instance: it is one process's file\n");
        return 2;
    }

    std::string readerToken;
    std::vector<std::string> adderTokens;
    try {
        const auto storage = Storage::open(QString::fromStdString(options.database));
        Accounts accounts(*storage);
        const QString token = accounts.issueToken(u"reader@example.com"_qs);
        const auto started = Clock::now();
        fillLibrary(*storage, *accounts.authenticate(token), kLibrarySize, kPerTransaction);
        std::printf("%s: %d videos written in %.2f s\n", options.database.c_str(), kLibrarySize, seconds(started));
        readerToken = token.toStdString();
        for (int c = 0; c < kAddClients; ++c)
            adderTokens.push_back(accounts.issueToken(u"adder%1@example.com"_qs.arg(c)).toStdString());
    } catch (const SqlError &error) {
        std::fprintf(stderr, "cannot fill %s: %s\n", options.database.c_str(), error.what());
        return 1;
    }

    std::vector<Instance> instances(size_t(options.instances));
    bool started = true;
    for (Instance &instance : instances)
        started = start(options, instance) && started;
    int failures = 0;
    double bestPull = 0;
    double addsPerSecond = 0;
    if (started) {
        for (int round = 0; round < kPullRounds; ++round) {
            const auto since = Clock::now();
            const long rows = pull(instances, readerToken);
            const double elapsed = seconds(since);
            if (rows != kLibrarySize)
                ++failures;
            bestPull = std::max(bestPull, double(std::max(rows, 0L)) / elapsed);
            std::printf("pull %d over %d instance(s): %ld rows in %.3f s = %.0f rows/s\n", round + 1, options.instances,
                        rows, elapsed, double(std::max(rows, 0L)) / elapsed);
        }
        std::atomic<int> addFailures{0};
        std::vector<std::thread> clients;
        const auto since = Clock::now();
        for (int c = 0; c < kAddClients; ++c)
            clients.emplace_back([&, c] {
                addFailures += addMany(instances[size_t(c % options.instances)].port, adderTokens[size_t(c)], c);
            });
        for (std::thread &client : clients)
            client.join();
        const double elapsed = seconds(since);
        addsPerSecond = kAddClients * kAddsEach / elapsed;
        failures += addFailures;
        std::printf("adds, %d clients at once: %d in %.3f s = %.0f adds/s (%d failed)\n", kAddClients,
                    kAddClients * kAddsEach, elapsed, addsPerSecond, addFailures.load());
    } else {
        std::fprintf(stderr, "an instance of %s did not start\n", options.binary.c_str());
    }

    std::string peaks;
    for (size_t i = 0; i < instances.size(); ++i) {
        if (instances[i].pid <= 0)
            continue;
        const double megabytes = double(stop(instances[i])) / 1024.0;
        std::printf("instance %zu: peak RSS %.1f MB\n", i + 1, megabytes);
        char figure[32];
        std::snprintf(figure, sizeof figure, "%s%.1f", peaks.empty() ? "" : " / ", megabytes);
        peaks += figure;
    }
    std::printf("summary\t%.0f\t%.0f\t%s\t%d\n", bestPull, addsPerSecond, peaks.c_str(), failures);
    return started ? 0 : 1;
}
