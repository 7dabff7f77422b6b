// A whole library imported from one device: N adds (5,000 unless told) pushed through HTTP
// by one account, one request each, one at a time and four in flight, against a
// clipvane-service binary whose metadata provider is a local fake answering each call after
// 50 ms (oEmbed, or the Data API with a key). For each run it prints the time until every add
// is acknowledged, the time until every title is filled (as a client pulls them), the
// provider calls made and the breaker openings the service reported. The baseline of the same
// run: the same adds of other web links, which get no metadata at all. With --before PATH the
// acknowledgement times of another build (main's) follow.
//
//   clipvane_service_import_bench [--binary PATH] [--before PATH] [--videos N] [--modes baseline,oembed,data]

#include <httplib.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kProviderLatency = std::chrono::milliseconds(50);
constexpr auto kFillTimeout = std::chrono::minutes(20);
constexpr auto kPollEvery = std::chrono::milliseconds(250);
constexpr char kBreakerLine[] = "metadata provider keeps failing";

struct Options
{
    std::string binary = CLIPVANE_SERVICE_BINARY;
    std::string before;
    int videos = 5000;
    std::vector<std::string> modes{"baseline", "oembed", "data"};
};

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

int freePort()
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    const bool found = bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0 &&
                       getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) == 0;
    close(fd);
    return found ? ntohs(address.sin_port) : 0;
}

std::string runOutput(const std::string &command)
{
    std::string out;
    if (FILE *pipe = popen(command.c_str(), "r")) {
        char buffer[256];
        while (fgets(buffer, sizeof buffer, pipe))
            out += buffer;
        pclose(pipe);
    }
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r'))
        out.pop_back();
    return out;
}

// An 11-character YouTube-like ID for video n.
std::string videoId(int n)
{
    char id[16];
    std::snprintf(id, sizeof id, "imp%08d", n);
    return id;
}

// Both providers at once on one local port, each call answered after the latency.
class FakeProviders
{
public:
    FakeProviders()
    {
        m_server.new_task_queue = [] { return new httplib::ThreadPool(16); };
        m_server.Get("/oembed", [this](const httplib::Request &request, httplib::Response &response) {
            ++m_calls;
            std::this_thread::sleep_for(kProviderLatency);
            const std::string url = request.get_param_value("url");
            const std::string id = url.substr(url.find("v=") + 2);
            response.set_content("{\"title\":\"Title of " + id + "\"}", "application/json");
        });
        m_server.Get("/youtube/v3/videos", [this](const httplib::Request &request, httplib::Response &response) {
            ++m_calls;
            std::this_thread::sleep_for(kProviderLatency);
            std::stringstream ids(request.get_param_value("id"));
            std::string items;
            for (std::string id; std::getline(ids, id, ',');)
                items += std::string(items.empty() ? "" : ",") + "{\"id\":\"" + id +
                         "\",\"snippet\":{\"title\":\"Title of " + id +
                         "\",\"publishedAt\":\"2020-01-02T03:04:05Z\"},\"contentDetails\":{\"duration\":\"PT3M4S\"}}";
            response.set_content("{\"items\":[" + items + "]}", "application/json");
        });
        m_port = m_server.bind_to_any_port("127.0.0.1");
        m_thread = std::thread([this] { m_server.listen_after_bind(); });
    }
    ~FakeProviders()
    {
        m_server.stop();
        m_thread.join();
    }
    std::string base() const { return "http://127.0.0.1:" + std::to_string(m_port); }
    long takeCalls() { return m_calls.exchange(0); }

private:
    httplib::Server m_server;
    int m_port = 0;
    std::atomic<long> m_calls{0};
    std::thread m_thread;
};

struct Figures
{
    double ackSeconds = 0;
    double fillSeconds = -1; // not measured
    long failedAdds = 0;
    long providerCalls = 0;
    long breakerOpenings = 0;
};

// One service process on fresh data, for one run.
class ServiceProcess
{
public:
    ServiceProcess(const std::string &binary, const std::string &mode, const std::string &providers)
        : m_data(std::filesystem::temp_directory_path() /
                 ("clipvane-import-" + std::to_string(getpid()) + "-" + std::to_string(++s_serial)))
    {
        std::filesystem::create_directories(m_data);
        m_token = runOutput("'" + binary + "' token importer@example.com --data '" + m_data.string() + "' 2>/dev/null");
        m_port = freePort();
        m_pid = fork();
        if (m_pid == 0) {
            setenv("CLIPVANE_OEMBED_BASE", (providers + "/oembed").c_str(), 1);
            if (mode == "data") {
                setenv("CLIPVANE_YOUTUBE_API_KEY", "bench-key", 1);
                setenv("CLIPVANE_YOUTUBE_API_BASE", (providers + "/youtube/v3").c_str(), 1);
            } else {
                unsetenv("CLIPVANE_YOUTUBE_API_KEY");
            }
            unsetenv("CLIPVANE_TELEGRAM_BOT_TOKEN");
            const std::string listen = "127.0.0.1:" + std::to_string(m_port);
            if (const int log = open(logPath().c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600); log >= 0)
                dup2(log, STDERR_FILENO);
            execl(binary.c_str(), binary.c_str(), "serve", "--listen", listen.c_str(), "--data", m_data.c_str(),
                  static_cast<char *>(nullptr));
            _exit(127);
        }
        for (int i = 0; i < 200 && !m_ready; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            httplib::Client http("127.0.0.1", m_port);
            http.set_read_timeout(2, 0);
            m_ready = bool(http.Get("/"));
        }
    }
    ~ServiceProcess()
    {
        kill(m_pid, SIGTERM);
        int status = 0;
        waitpid(m_pid, &status, 0);
        std::filesystem::remove_all(m_data);
    }

    bool ready() const { return m_ready && !m_token.empty(); }
    int port() const { return m_port; }
    const std::string &token() const { return m_token; }
    long breakerOpenings() const
    {
        std::ifstream log(logPath());
        long openings = 0;
        for (std::string line; std::getline(log, line);)
            openings += line.find(kBreakerLine) != std::string::npos;
        return openings;
    }

private:
    std::string logPath() const { return (m_data / "service.log").string(); }

    static inline int s_serial = 0;
    std::filesystem::path m_data;
    std::string m_token;
    int m_port = 0;
    pid_t m_pid = -1;
    bool m_ready = false;
};

// The add requests, videos first..end stepping by `step`, from one keep-alive connection.
void pushAdds(int port, const std::string &token, const std::string &mode, int first, int end, int step,
              std::atomic<long> &failed)
{
    httplib::Client http("127.0.0.1", port);
    http.set_keep_alive(true);
    http.set_tcp_nodelay(true);
    http.set_read_timeout(120, 0);
    const httplib::Headers headers{{"Authorization", "Bearer " + token}};
    for (int n = first; n < end; n += step) {
        const std::string link =
            mode == "baseline" ? "https://example.com/import/" + std::to_string(n) : "https://youtu.be/" + videoId(n);
        const auto reply =
            http.Post("/api/upsert.php", headers, "{\"url\":\"" + link + "\",\"title\":\"\"}", "application/json");
        if (!reply || reply->status != 200)
            ++failed;
    }
}

// Pulls what changed, as a client does, until every video carries the provider's title.
bool waitForTitles(int port, const std::string &token, int videos)
{
    httplib::Client http("127.0.0.1", port);
    http.set_read_timeout(60, 0);
    const httplib::Headers headers{{"Authorization", "Bearer " + token}};
    std::set<std::string> titled;
    std::string since = "0";
    const auto deadline = Clock::now() + kFillTimeout;
    while (int(titled.size()) < videos && Clock::now() < deadline) {
        std::string afterId = "0";
        for (;;) {
            const auto page =
                http.Get("/api/videos.php?since=" + since + "&after_id=" + afterId + "&limit=600", headers);
            if (!page || page->status != 200)
                break;
            const std::string &body = page->body;
            size_t rows = 0;
            std::string lastStamp;
            std::string lastId;
            for (size_t at = body.find("\"youtube_id\":\""); at != std::string::npos;
                 at = body.find("\"youtube_id\":\"", at + 1)) {
                ++rows;
                const size_t start = at + 14;
                const std::string id = body.substr(start, body.find('"', start) - start);
                const size_t object = body.rfind('{', at);
                const size_t close = body.find('}', at);
                const std::string row = body.substr(object, close - object);
                if (row.find("\"title\":\"Title of ") != std::string::npos)
                    titled.insert(id);
                const auto field = [&row](const std::string &key) {
                    const size_t found = row.find("\"" + key + "\":");
                    if (found == std::string::npos)
                        return std::string();
                    const size_t begin = found + key.size() + 3;
                    return row.substr(begin, row.find_first_of(",}", begin) - begin);
                };
                lastStamp = field("updated_at");
                lastId = field("id");
            }
            if (rows < 600) {
                const size_t now = body.find("\"now\":");
                if (now != std::string::npos)
                    since = body.substr(now + 6, body.find_first_of(",}", now + 6) - now - 6);
                break;
            }
            since = lastStamp;
            afterId = lastId;
        }
        if (int(titled.size()) < videos)
            std::this_thread::sleep_for(kPollEvery);
    }
    return int(titled.size()) >= videos;
}

Figures run(const std::string &binary, const std::string &mode, int connections, int videos, bool fill,
            FakeProviders &providers)
{
    Figures figures;
    ServiceProcess service(binary, mode, providers.base());
    if (!service.ready()) {
        std::fprintf(stderr, "the service at %s did not start\n", binary.c_str());
        figures.failedAdds = videos;
        return figures;
    }
    providers.takeCalls();
    std::atomic<long> failed{0};
    const auto start = Clock::now();
    std::vector<std::thread> threads;
    for (int c = 0; c < connections; ++c)
        threads.emplace_back(pushAdds, service.port(), service.token(), mode, c, videos, connections, std::ref(failed));
    for (std::thread &thread : threads)
        thread.join();
    figures.ackSeconds = secondsSince(start);
    figures.failedAdds = failed;
    if (fill && mode != "baseline" && waitForTitles(service.port(), service.token(), videos))
        figures.fillSeconds = secondsSince(start);
    figures.providerCalls = providers.takeCalls();
    figures.breakerOpenings = service.breakerOpenings();
    return figures;
}

void print(const char *build, const std::string &mode, int connections, const Figures &figures)
{
    char fill[32] = "-";
    if (figures.fillSeconds >= 0)
        std::snprintf(fill, sizeof fill, "%.1f", figures.fillSeconds);
    std::printf("%-7s %-9s %9d %10.2f %9s %15ld %17ld %12ld\n", build, mode.c_str(), connections, figures.ackSeconds,
                fill, figures.providerCalls, figures.breakerOpenings, figures.failedAdds);
    std::fflush(stdout);
}

bool parse(int argc, char **argv, Options &options)
{
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        const std::string value = argv[i + 1];
        if (name == "--binary") {
            options.binary = value;
        } else if (name == "--before") {
            options.before = value;
        } else if (name == "--videos") {
            options.videos = std::max(1, std::atoi(value.c_str()));
        } else if (name == "--modes") {
            options.modes.clear();
            std::stringstream list(value);
            for (std::string item; std::getline(list, item, ',');)
                options.modes.push_back(item);
        } else {
            return false;
        }
    }
    return argc % 2 == 1;
}

} // namespace

int main(int argc, char **argv)
{
    Options options;
    if (!parse(argc, argv, options)) {
        std::fprintf(stderr, "usage: %s [--binary PATH] [--before PATH] [--videos N] [--modes baseline,oembed,data]\n",
                     argv[0]);
        return 2;
    }
    signal(SIGPIPE, SIG_IGN);
    FakeProviders providers;
    std::printf("%d adds from one account; provider answers after %lld ms\n", options.videos,
                static_cast<long long>(kProviderLatency.count()));
    std::printf("build   mode      in flight   ack s    filled s  provider calls  breaker openings  failed adds\n");
    for (const std::string &mode : options.modes)
        for (const int connections : {1, 4})
            print("after", mode, connections,
                  run(options.binary, mode, connections, options.videos, connections == 4, providers));
    if (!options.before.empty())
        for (const std::string &mode : options.modes)
            for (const int connections : {1, 4})
                print("before", mode, connections,
                      run(options.before, mode, connections, options.videos, false, providers));
    return 0;
}
