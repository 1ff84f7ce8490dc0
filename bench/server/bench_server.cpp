// bench_server.cpp: end-to-end benchmark of tessera over D-Bus.
//
// Starts a private session bus whose service folder activates the build tree's tessera, then
// measures from this separate client process:
//  - the time from the first call (which activates the server, loads the data set and draws)
//    to the first 356 x 276 image received (reported once, before the benchmarks);
//  - draw3 of a 356 x 276 view, warm: requests per second and the 50th and 99th percentile
//    latency, for one view drawn again and again and for a view panning across the sample;
//  - the round trip of test, which draws nothing: the bus and server overhead of a request.
// Run: build/bench/server/bench_server (the sample data set must be in build/appdir/kgrid/).
#include <benchmark/benchmark.h>
#include <signal.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr const char* kService = "tessera.tesseraClass";
constexpr int kCentreX = 301234;
constexpr int kCentreY = 2771234;
constexpr int kCallTimeoutMs = 120000;
constexpr int kHeaderBytes = 1078;

QDBusConnection* gBus = nullptr;
QString gInstance;

using Clock = std::chrono::steady_clock;

// Calls draw3 and returns the image size, 0 on an error reply.
qsizetype draw3(int x, int y, double scale) {
    QDBusMessage call =
        QDBusMessage::createMethodCall(kService, gInstance, "tessera._tesseraClass", "draw3");
    call << x << y << scale;
    const QDBusMessage reply = gBus->call(call, QDBus::Block, kCallTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return 0;
    return reply.arguments().first().value<QDBusVariant>().variant().toByteArray().size();
}

// Sets the percentile counters from the measured latencies (milliseconds).
void reportLatency(benchmark::State& state, std::vector<double>& ms) {
    if (ms.empty()) return;
    std::sort(ms.begin(), ms.end());
    state.counters["p50_ms"] = ms[ms.size() / 2];
    state.counters["p99_ms"] = ms[std::min(ms.size() - 1, ms.size() * 99 / 100)];
    state.counters["requests_per_s"] =
        benchmark::Counter(static_cast<double>(ms.size()), benchmark::Counter::kIsRate);
}

// One view drawn and exported again and again.
void BM_Draw3SameView(benchmark::State& state) {
    std::vector<double> ms;
    for (auto _ : state) {
        const auto start = Clock::now();
        const qsizetype size = draw3(kCentreX, kCentreY, 20.0);
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        if (size <= kHeaderBytes) state.SkipWithError("draw3 failed");
    }
    reportLatency(state, ms);
}
BENCHMARK(BM_Draw3SameView)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);

// A view moving 700 m east or north each request over a 7 x 7 km square of the sample.
void BM_Draw3Panning(benchmark::State& state) {
    std::vector<double> ms;
    int step = 0;
    for (auto _ : state) {
        const int x = kCentreX - 3500 + (step % 10) * 700;
        const int y = kCentreY - 3500 + (step / 10 % 10) * 700;
        ++step;
        const auto start = Clock::now();
        const qsizetype size = draw3(x, y, 20.0);
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        if (size <= kHeaderBytes) state.SkipWithError("draw3 failed");
    }
    reportLatency(state, ms);
}
BENCHMARK(BM_Draw3Panning)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);

// The bare round trip of a call that draws nothing (test): the bus and server overhead that
// every request pays on top of drawing and export.
void BM_TestRoundTrip(benchmark::State& state) {
    std::vector<double> ms;
    for (auto _ : state) {
        QDBusMessage call =
            QDBusMessage::createMethodCall(kService, gInstance, "tessera._tesseraClass", "test");
        call << 0 << 0;
        const auto start = Clock::now();
        const QDBusMessage reply = gBus->call(call, QDBus::Block, kCallTimeoutMs);
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        if (reply.type() != QDBusMessage::ReplyMessage) state.SkipWithError("test failed");
    }
    reportLatency(state, ms);
}
BENCHMARK(BM_TestRoundTrip)->Unit(benchmark::kMicrosecond)->UseRealTime()->MinTime(2.0);

// Starts the private bus; returns its address and sets `pid`.
std::string startBus(long* pid) {
    const std::string command = std::string("dbus-daemon --config-file=") + TESSERA_SESSION_CONF +
                                " --fork --print-address=1 --print-pid=1";
    FILE* out = popen(command.c_str(), "r");
    if (out == nullptr) return {};
    char address[512] = {};
    char pidText[64] = {};
    if (fgets(address, sizeof address, out) == nullptr ||
        fgets(pidText, sizeof pidText, out) == nullptr) {
        pclose(out);
        return {};
    }
    pclose(out);
    *pid = std::strtol(pidText, nullptr, 10);
    std::string text(address);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);

    long busPid = 0;
    const std::string address = startBus(&busPid);
    if (address.empty()) {
        std::fprintf(stderr, "bench_server: cannot start dbus-daemon\n");
        return 1;
    }
    QDBusConnection bus = QDBusConnection::connectToBus(QString::fromStdString(address), "bench");
    gBus = &bus;

    // Activation to first image: the bus starts the server on CreateInstance.
    const auto start = Clock::now();
    QDBusMessage create = QDBusMessage::createMethodCall(kService, "/tessera/tesseraClass",
                                                         "tessera.ClassFactory", "CreateInstance");
    const QDBusMessage created = bus.call(create, QDBus::Block, kCallTimeoutMs);
    if (created.type() != QDBusMessage::ReplyMessage) {
        std::fprintf(stderr, "bench_server: CreateInstance failed: %s\n",
                     qPrintable(created.errorMessage()));
        kill(static_cast<pid_t>(busPid), SIGTERM);
        return 1;
    }
    gInstance = created.arguments().first().value<QDBusObjectPath>().path();
    const qsizetype first = draw3(kCentreX, kCentreY, 20.0);
    const double activationMs =
        std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    std::printf("activation to first image: %.1f ms (%lld bytes)\n", activationMs,
                static_cast<long long>(first));

    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    QDBusMessage end =
        QDBusMessage::createMethodCall(kService, gInstance, "tessera._tesseraClass", "myend");
    bus.call(end, QDBus::Block, 5000);
    kill(static_cast<pid_t>(busPid), SIGTERM);
    return 0;
}
