// The service under load from keep-alive clients, against a clipvane-service binary started on
// a free loopback port: for 8, 32 and 128 clients (each with a token of its own, adding a link,
// changing its title and pulling what changed, in turn) it prints requests per second, p50/p99
// latency, the longest and p99 wait of a new connection (a prober opens one every 50 ms),
// the server's peak RSS and the count of 5xx replies and failed requests.
//
//   clipvane_service_load_bench [--binary PATH] [--seconds N] [--clients 8,32,128]

#include <httplib.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kProbeInterval = std::chrono::milliseconds(50);
constexpr int kTimeoutSeconds = 120;

struct Options
{
    std::string binary = CLIPVANE_SERVICE_BINARY;
    int seconds = 10;
    std::vector<int> levels{8, 32, 128};
};

struct Tally
{
    std::vector<double> latencyMs;
    long fiveHundreds = 0;
    long failures = 0;
};

double msSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, size_t(p * double(values.size())))];
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

long peakRssKb(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::atol(line.c_str() + 6);
    return 0;
}

// The CPU time the process has used so far, user and system.
double cpuSeconds(pid_t pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    double ticks = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i)
        if (i >= 14)
            ticks += std::atof(field.c_str());
    return ticks / double(sysconf(_SC_CLK_TCK));
}

std::string textAfter(const std::string &body, const std::string &key)
{
    const size_t at = body.find("\"" + key + "\":");
    if (at == std::string::npos)
        return {};
    size_t start = at + key.size() + 3;
    if (start < body.size() && body[start] == '"')
        ++start;
    const size_t end = body.find_first_of("\",}", start);
    return body.substr(start, end - start);
}

void record(Tally &tally, const httplib::Result &result, Clock::time_point start)
{
    if (!result) {
        ++tally.failures;
        return;
    }
    tally.latencyMs.push_back(msSince(start));
    if (result->status >= 500)
        ++tally.fiveHundreds;
}

// One keep-alive client: add, change, pull, again and again until the end.
void client(int port, const std::string &token, int index, Clock::time_point end, Tally &tally)
{
    httplib::Client http("127.0.0.1", port);
    http.set_keep_alive(true);
    http.set_tcp_nodelay(true);
    http.set_read_timeout(kTimeoutSeconds, 0);
    http.set_connection_timeout(kTimeoutSeconds, 0);
    const httplib::Headers headers{{"Authorization", "Bearer " + token}};
    std::string cursor = "0";
    for (long n = 0; Clock::now() < end; ++n) {
        auto start = Clock::now();
        const std::string link = "https://example.com/load/" + std::to_string(index) + "/" + std::to_string(n);
        const auto added =
            http.Post("/api/upsert.php", headers, "{\"url\":\"" + link + "\",\"title\":\"\"}", "application/json");
        record(tally, added, start);
        const std::string id = added ? textAfter(added->body, "youtube_id") : std::string();
        if (!id.empty() && Clock::now() < end) {
            start = Clock::now();
            const std::string change = "{\"youtube_id\":\"" + id + "\",\"excluded\":0,\"title\":\"Changed " +
                                       std::to_string(n) + "\",\"upload_date\":\"\",\"duration\":\"\"}";
            record(tally, http.Post("/api/upsert.php", headers, change, "application/json"), start);
        }
        if (Clock::now() < end) {
            start = Clock::now();
            const auto pulled = http.Get("/api/videos.php?since=" + cursor + "&after_id=0&limit=600", headers);
            record(tally, pulled, start);
            if (pulled && pulled->status == 200) {
                const std::string now = textAfter(pulled->body, "now");
                if (!now.empty())
                    cursor = now;
            }
        }
    }
}

// A new connection every interval: how long until its request is answered.
void prober(int port, const std::string &token, Clock::time_point end, std::vector<double> &waits, long &failures)
{
    while (Clock::now() < end) {
        const auto start = Clock::now();
        httplib::Client http("127.0.0.1", port);
        http.set_keep_alive(false);
        http.set_tcp_nodelay(true);
        http.set_read_timeout(kTimeoutSeconds, 0);
        http.set_connection_timeout(kTimeoutSeconds, 0);
        const auto result = http.Get("/api/family.php", httplib::Headers{{"Authorization", "Bearer " + token}});
        if (result && result->status == 200)
            waits.push_back(msSince(start));
        else
            ++failures;
        std::this_thread::sleep_until(start + kProbeInterval);
    }
}

bool parse(int argc, char **argv, Options &options)
{
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        const std::string value = argv[i + 1];
        if (name == "--binary")
            options.binary = value;
        else if (name == "--seconds")
            options.seconds = std::max(1, std::atoi(value.c_str()));
        else if (name == "--clients") {
            options.levels.clear();
            std::stringstream list(value);
            for (std::string item; std::getline(list, item, ',');)
                options.levels.push_back(std::max(1, std::atoi(item.c_str())));
        } else
            return false;
    }
    return argc % 2 == 1;
}

} // namespace

int main(int argc, char **argv)
{
    Options options;
    if (!parse(argc, argv, options)) {
        std::fprintf(stderr, "usage: %s [--binary PATH] [--seconds N] [--clients 8,32,128]\n", argv[0]);
        return 2;
    }
    const std::filesystem::path data =
        std::filesystem::temp_directory_path() / ("clipvane-load-" + std::to_string(getpid()));
    std::filesystem::create_directories(data);
    const int most = *std::max_element(options.levels.begin(), options.levels.end());
    std::vector<std::string> tokens;
    for (int i = 0; i <= most; ++i)
        tokens.push_back(runOutput("'" + options.binary + "' token load" + std::to_string(i) + "@example.com --data '" +
                                   data.string() + "' 2>/dev/null"));
    if (tokens.front().empty()) {
        std::fprintf(stderr, "no token from %s\n", options.binary.c_str());
        return 1;
    }

    const int port = freePort();
    const pid_t server = fork();
    if (server == 0) {
        // Nothing leaves the machine: a closed local port answers every title lookup at once.
        setenv("CLIPVANE_OEMBED_BASE", "http://127.0.0.1:9/oembed", 1);
        unsetenv("CLIPVANE_YOUTUBE_API_KEY");
        unsetenv("CLIPVANE_TELEGRAM_BOT_TOKEN");
        const std::string listen = "127.0.0.1:" + std::to_string(port);
        // Quiet: a log line per request would go to the terminal of the run.
        if (const int null = open("/dev/null", O_WRONLY); null >= 0)
            dup2(null, STDERR_FILENO);
        execl(options.binary.c_str(), options.binary.c_str(), "serve", "--listen", listen.c_str(), "--data",
              data.c_str(), static_cast<char *>(nullptr));
        _exit(127);
    }
    bool ready = false;
    for (int i = 0; i < 200 && !ready; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        httplib::Client http("127.0.0.1", port);
        http.set_read_timeout(2, 0);
        ready = bool(http.Get("/"));
    }
    if (!ready) {
        std::fprintf(stderr, "the service did not start\n");
        kill(server, SIGTERM);
        return 1;
    }

    std::printf("%s, %d s per level\n", options.binary.c_str(), options.seconds);
    std::printf("clients  req/s    p50 ms  p99 ms  new-conn max ms  new-conn p99 ms  peak RSS MB  5xx  failed  "
                "server CPU us/req\n");
    for (const int level : options.levels) {
        const auto end = Clock::now() + std::chrono::seconds(options.seconds);
        std::vector<Tally> tallies(size_t(level), Tally{});
        std::vector<std::thread> threads;
        const auto start = Clock::now();
        const double cpuBefore = cpuSeconds(server);
        for (int i = 0; i < level; ++i)
            threads.emplace_back(client, port, tokens[size_t(i + 1)], i, end, std::ref(tallies[size_t(i)]));
        std::vector<double> waits;
        long probeFailures = 0;
        prober(port, tokens[0], end, waits, probeFailures);
        for (std::thread &thread : threads)
            thread.join();
        const double elapsed = msSince(start) / 1000.0;
        Tally all;
        for (const Tally &tally : tallies) {
            all.latencyMs.insert(all.latencyMs.end(), tally.latencyMs.begin(), tally.latencyMs.end());
            all.fiveHundreds += tally.fiveHundreds;
            all.failures += tally.failures;
        }
        const double cpuPerRequest =
            all.latencyMs.empty() ? 0 : (cpuSeconds(server) - cpuBefore) * 1e6 / double(all.latencyMs.size());
        std::printf("%7d  %7.0f  %6.1f  %6.1f  %15.1f  %15.1f  %11.1f  %3ld  %6ld  %17.0f\n", level,
                    double(all.latencyMs.size()) / elapsed, percentile(all.latencyMs, 0.5),
                    percentile(all.latencyMs, 0.99),
                    waits.empty() ? 0.0 : *std::max_element(waits.begin(), waits.end()), percentile(waits, 0.99),
                    double(peakRssKb(server)) / 1024.0, all.fiveHundreds, all.failures + probeFailures, cpuPerRequest);
        std::fflush(stdout);
    }
    kill(server, SIGTERM);
    int status = 0;
    waitpid(server, &status, 0);
    std::filesystem::remove_all(data);
    return 0;
}
