// Small GETs against a local server: the multi executor on one loop thread versus the same
// transfers one after another with blocking handles. Each mode runs in a child process of its
// own, so its peak RSS is its own.
//
//   bench_multi <url> [transfers=1000] [in-flight=64]

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "http_client/EpollEventLoop.h"
#include "http_client/ICurlMultiExecutor.h"
#include "http_client/StaticCurlHandleFactory.h"

namespace {

using namespace vx::shared::agents::measurements::http;
using Clock = std::chrono::steady_clock;

struct Settings {
    std::string url;
    int transfers = 1000;
    int inFlight = 64;
    int rounds = 5;
};

struct Outcome {
    double seconds = 0;
    int ok = 0;  // transfers answered 200
};

size_t discardBody(char*, size_t size, size_t count, void*) {
    return size * count;
}

void configure(ICurlHandle& handle, const std::string& url) {
    handle.init();
    handle.setUrl(url);
    handle.setWriteCallback(&discardBody, nullptr);
}

// A fresh handle per transfer, as the service does.
Outcome runBlocking(const Settings& settings, bool reuseOneHandle) {
    StaticCurlHandleFactory factory;
    Outcome outcome;
    CurlHandlePtr shared = factory.createHandle();
    configure(*shared, settings.url);
    const auto begin = Clock::now();
    for (int i = 0; i < settings.transfers; ++i) {
        CurlHandlePtr fresh = reuseOneHandle ? CurlHandlePtr(nullptr, &destroyFactoryObject<ICurlHandle>)
                                             : factory.createHandle();
        ICurlHandle& handle = reuseOneHandle ? *shared : *fresh;
        if (!reuseOneHandle) {
            configure(handle, settings.url);
        }
        if (handle.perform() == CURLE_OK && handle.getResponseCode() == 200) {
            ++outcome.ok;
        }
    }
    outcome.seconds = std::chrono::duration<double>(Clock::now() - begin).count();
    return outcome;
}

// Keeps `inFlight` transfers running; each completion releases its handle and dispatches the
// next transfer, as a long-running user of the executor would.
Outcome runExecutor(const Settings& settings) {
    StaticCurlHandleFactory factory;
    std::mutex mutex;
    std::condition_variable allDone;
    int finished = 0;
    int ok = 0;
    // Loop thread only: the first batch is dispatched from a task there.
    int next = 0;
    std::unordered_map<const ICurlHandle*, CurlHandlePtr> live;

    CurlMultiExecutorPtr executor(nullptr, &destroyFactoryObject<ICurlMultiExecutor>);
    std::function<void()> dispatchNext = [&] {
        if (next >= settings.transfers) {
            return;
        }
        ++next;
        CurlHandlePtr owned = factory.createHandle();
        ICurlHandle* handle = owned.get();
        live.emplace(handle, std::move(owned));
        executor->dispatchRequest([handle, &settings] {
            configure(*handle, settings.url);
            return handle;
        });
    };
    executor = factory.createMultiExecutor(
        MultiEventLoopPtr(new EpollEventLoop(), &destroyFactoryObject<IMultiEventLoop>),
        [&](const ICurlHandle& handle, long code) {
            live.erase(&handle);
            dispatchNext();
            std::lock_guard<std::mutex> lock(mutex);
            ok += code == 200 ? 1 : 0;
            if (++finished == settings.transfers) {
                allDone.notify_all();
            }
        },
        {});
    const auto begin = Clock::now();
    executor->dispatchRequest([&]() -> ICurlHandle* {
        for (int i = 0; i < settings.inFlight; ++i) {
            dispatchNext();
        }
        return nullptr;
    });
    std::unique_lock<std::mutex> lock(mutex);
    allDone.wait_for(lock, std::chrono::minutes(5), [&] { return finished == settings.transfers; });
    Outcome outcome{std::chrono::duration<double>(Clock::now() - begin).count(), ok};
    lock.unlock();
    executor.reset();
    return outcome;
}

// The median of a few rounds, so one hiccup of a shared machine does not decide.
Outcome medianOf(int rounds, const std::function<Outcome()>& mode) {
    std::vector<Outcome> outcomes;
    for (int i = 0; i < rounds; ++i) {
        outcomes.push_back(mode());
    }
    std::sort(outcomes.begin(), outcomes.end(),
              [](const Outcome& a, const Outcome& b) { return a.seconds < b.seconds; });
    return outcomes[outcomes.size() / 2];
}

struct Row {
    const char* name;
    Outcome outcome;
    long peakRssKib = 0;
};

// Runs one mode in a child; the outcome comes back through a pipe, the peak RSS from wait4.
bool runInChild(const std::function<Outcome()>& mode, Row& row) {
    int channel[2];
    if (pipe(channel) != 0) {
        return false;
    }
    const pid_t child = fork();
    if (child < 0) {
        return false;
    }
    if (child == 0) {
        close(channel[0]);
        StaticCurlHandleFactory factory;
        factory.globalInit();
        const Outcome outcome = mode();
        factory.globalCleanup();
        const bool sent = write(channel[1], &outcome, sizeof outcome) == static_cast<ssize_t>(sizeof outcome);
        _exit(sent ? 0 : 1);
    }
    close(channel[1]);
    const bool received = read(channel[0], &row.outcome, sizeof row.outcome) == static_cast<ssize_t>(sizeof row.outcome);
    close(channel[0]);
    int status = 0;
    rusage usage{};
    if (wait4(child, &status, 0, &usage) != child || !received || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        return false;
    }
    row.peakRssKib = usage.ru_maxrss;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <url> [transfers=1000] [in-flight=64]\n", argv[0]);
        return 64;
    }
    Settings settings;
    settings.url = argv[1];
    if (argc > 2) {
        settings.transfers = std::atoi(argv[2]);
    }
    if (argc > 3) {
        settings.inFlight = std::atoi(argv[3]);
    }
    if (settings.transfers <= 0 || settings.inFlight <= 0) {
        std::fprintf(stderr, "transfers and in-flight must be positive\n");
        return 64;
    }

    std::vector<Row> rows = {{"executor, 1 loop thread", {}, 0},
                             {"blocking, fresh handle each", {}, 0},
                             {"blocking, one reused handle", {}, 0}};
    const std::vector<std::function<Outcome()>> modes = {
        [&] { return medianOf(settings.rounds, [&] { return runExecutor(settings); }); },
        [&] { return medianOf(settings.rounds, [&] { return runBlocking(settings, false); }); },
        [&] { return medianOf(settings.rounds, [&] { return runBlocking(settings, true); }); },
    };
    for (size_t i = 0; i < rows.size(); ++i) {
        if (!runInChild(modes[i], rows[i])) {
            std::fprintf(stderr, "mode '%s' failed\n", rows[i].name);
            return 1;
        }
    }

    std::printf("%d GETs of %s, executor keeps %d in flight; median of %d rounds per mode\n\n",
                settings.transfers, settings.url.c_str(), settings.inFlight, settings.rounds);
    std::printf("%-30s %10s %14s %8s %14s\n", "mode", "seconds", "transfers/s", "ok", "peak RSS KiB");
    for (const Row& row : rows) {
        std::printf("%-30s %10.3f %14.0f %8d %14ld\n", row.name, row.outcome.seconds,
                    row.outcome.ok / row.outcome.seconds, row.outcome.ok, row.peakRssKib);
    }
    const double executorRate = rows[0].outcome.ok / rows[0].outcome.seconds;
    const double blockingRate = rows[1].outcome.ok / rows[1].outcome.seconds;
    std::printf("\nexecutor / blocking (fresh handle each): %.2fx transfers per second, %.2fx peak RSS\n",
                executorRate / blockingRate,
                static_cast<double>(rows[0].peakRssKib) / static_cast<double>(rows[1].peakRssKib));
    const bool allOk = rows[0].outcome.ok == settings.transfers && rows[1].outcome.ok == settings.transfers &&
                       rows[2].outcome.ok == settings.transfers;
    return allOk ? 0 : 1;
}
