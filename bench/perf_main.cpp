// Whole runs of the programs against the simulated radio, measured from outside the way a shell
// sees them: wall time, CPU time, wakes (voluntary context switches) and peak resident memory of
// each process (from wait4), and how long the write took, from the times its progress lines
// arrive. The paced runs have the radio deliver its bytes as a USB serial adapter does, once
// every millisecond, for one radio and for a station of sixteen. Prints a markdown table.
//
// The one-radio paced run is made twice: wherever the system puts the two processes, and with the
// simulator and tq-b9-cli kept on one core. A first half-packet sent within about 0.11 ms of the
// frame that brought the bytes before it ends just before a frame; sent any later, it waits for
// the frame after. On a virtual machine, waking a process on the other core can take most of
// that, so the first figure shows the machine as much as the program, and the second shows the
// program.
//
//   tq-b9-perf [--runs N] [--no-paced] [--radios N] [--rows-only]
//
// The programs are taken from the directory this one is in.
#include "bench/perf.h"
#include "image/firmware.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <sched.h>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace tqb9::perf {
namespace {

using Clock = std::chrono::steady_clock;

// 57600 bit/s with a start and a stop bit around each 8-bit byte.
constexpr double kLineBytesPerSecond = 5760.0;
// The radio has 10 s to show up on its pseudo-terminal.
constexpr int kSimStartMs = 10'000;

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double seconds(const timeval& tv)
{
    return static_cast<double>(tv.tv_sec) + static_cast<double>(tv.tv_usec) / 1e6;
}

[[noreturn]] void fail(const std::string& what)
{
    std::fprintf(stderr, "tq-b9-perf: %s: %s\n", what.c_str(), std::strerror(errno));
    std::exit(1);
}

void makePipe(int fds[2])
{
    if (::pipe(fds) != 0)
        fail("pipe");
    ::fcntl(fds[0], F_SETFD, FD_CLOEXEC);
    ::fcntl(fds[1], F_SETFD, FD_CLOEXEC);
}

[[noreturn]] void execOrDie(const std::vector<std::string>& argv)
{
    std::vector<char*> args;
    for (const std::string& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    ::execv(args[0], args.data());
    std::fprintf(stderr, "tq-b9-perf: cannot run %s: %s\n", args[0], std::strerror(errno));
    ::_exit(127);
}

struct Line {
    double seconds; // since the child was started
    std::string text;
};

struct ChildResult {
    int status = -1; // exit status; -1 when a signal ended it
    double wallSeconds = 0;
    double cpuSeconds = 0; // user + system
    long maxRssKb = 0;
    long wakes = 0; // voluntary context switches: the process slept and was woken
    std::string out;
    std::vector<Line> err;

    std::optional<double> lineTime(const std::string& text) const
    {
        for (const Line& line : err) {
            if (line.text.find(text) != std::string::npos)
                return line.seconds;
        }
        return std::nullopt;
    }
};

// Runs argv to its end. Standard output is kept whole, standard error line by line with the
// moment each line arrived.
ChildResult runChild(const std::vector<std::string>& argv)
{
    int out[2];
    int err[2];
    makePipe(out);
    makePipe(err);
    const Clock::time_point start = Clock::now();
    const pid_t pid = ::fork();
    if (pid < 0)
        fail("fork");
    if (pid == 0) {
        ::dup2(out[1], STDOUT_FILENO);
        ::dup2(err[1], STDERR_FILENO);
        execOrDie(argv);
    }
    ::close(out[1]);
    ::close(err[1]);

    ChildResult result;
    std::string partial;
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    int open = 2;
    while (open > 0) {
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            fail("poll");
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0)
                continue;
            char buffer[4096];
            const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n <= 0) {
                ::close(fds[i].fd);
                fds[i].fd = -1;
                --open;
                continue;
            }
            if (i == 0) {
                result.out.append(buffer, static_cast<std::size_t>(n));
                continue;
            }
            const double at = secondsSince(start);
            partial.append(buffer, static_cast<std::size_t>(n));
            for (std::size_t nl; (nl = partial.find('\n')) != std::string::npos;) {
                result.err.push_back({at, partial.substr(0, nl)});
                partial.erase(0, nl + 1);
            }
        }
    }
    int status = 0;
    rusage usage{};
    while (::wait4(pid, &status, 0, &usage) < 0) {
        if (errno != EINTR)
            fail("wait4");
    }
    result.wallSeconds = secondsSince(start);
    result.cpuSeconds = seconds(usage.ru_utime) + seconds(usage.ru_stime);
    result.maxRssKb = usage.ru_maxrss;
    result.wakes = usage.ru_nvcsw;
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

// tq-b9-sim in the background for one run: started fresh, so every run meets an erased radio.
class Simulator {
public:
    Simulator(const std::string& bin, bool paced) { start(bin, paced); }
    Simulator() = default;
    // absentWhile: the radio is off its cable while this file does not exist.
    void start(const std::string& bin, bool paced, const std::string& absentWhile = {})
    {
        int out[2];
        makePipe(out);
        m_pid = ::fork();
        if (m_pid < 0)
            fail("fork");
        if (m_pid == 0) {
            ::dup2(out[1], STDOUT_FILENO);
            // Qt's own event dispatcher times to the microsecond; GLib's rounds every timer to
            // whole milliseconds, which would make the simulated adapter's frames late.
            ::setenv("QT_NO_GLIB", "1", 1);
            std::vector<std::string> argv{bin + "/tq-b9-sim", "--quiet"};
            // Paced runs stand for a real cable, and real cables are USB adapters.
            if (paced) {
                argv.emplace_back("--pace");
                argv.emplace_back("--usb");
            }
            if (!absentWhile.empty()) {
                argv.emplace_back("--presence-file");
                argv.push_back(absentWhile);
            }
            execOrDie(argv);
        }
        ::close(out[1]);
        m_out = out[0];
        // Its first line is the device to open.
        pollfd fd{m_out, POLLIN, 0};
        char c = 0;
        while (::poll(&fd, 1, kSimStartMs) == 1 && ::read(m_out, &c, 1) == 1 && c != '\n')
            m_device += c;
        if (c != '\n' || m_device.empty()) {
            std::fprintf(stderr, "tq-b9-perf: tq-b9-sim did not start\n");
            std::exit(1);
        }
    }
    ~Simulator()
    {
        if (m_pid < 0)
            return;
        ::kill(m_pid, SIGTERM);
        ::waitpid(m_pid, nullptr, 0);
        ::close(m_out);
    }
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    const std::string& device() const { return m_device; }

private:
    pid_t m_pid = -1;
    int m_out = -1;
    std::string m_device;
};

struct CliRun {
    ChildResult child;
    double writeSeconds = 0; // from "write: N blocks to send" to "end of session"
};

// One tq-b9-cli with a fresh simulated radio on each of its ports.
CliRun runCli(const std::string& bin, bool paced, int radios = 1)
{
    std::vector<Simulator> sims(static_cast<std::size_t>(radios));
    std::vector<std::string> argv{bin + "/tq-b9-cli", "--allow-test-firmware"};
    std::string expected;
    for (Simulator& sim : sims) {
        sim.start(bin, paced);
        argv.insert(argv.end(), {"--port", sim.device()});
        expected += radios == 1 ? "Completed.\n" : sim.device() + ": Completed.\n";
    }
    CliRun run{runChild(argv), 0};
    const ChildResult& c = run.child;
    const auto begun = c.lineTime("blocks to send");
    const auto ended = c.lineTime("end of session");
    if (c.status != 0 || c.out != expected || !begun || !ended) {
        std::fprintf(stderr, "tq-b9-perf: tq-b9-cli did not complete (status %d): %s", c.status,
                     c.out.c_str());
        for (const Line& line : c.err)
            std::fprintf(stderr, "  %s\n", line.text.c_str());
        std::exit(1);
    }
    run.writeSeconds = *ended - *begun;
    return run;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// The median time for one byte to cross a pseudo-terminal to a bare process and come back, with
// a millisecond's sleep between trips as in a paced run: what the machine charges for the two
// wakes and two hops of every turnaround before any program does any work.
double ptyRoundTripMicros()
{
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0)
        fail("posix_openpt");
    const int slave = ::open(::ptsname(master), O_RDWR | O_NOCTTY);
    if (slave < 0)
        fail("open the pseudo-terminal");
    termios raw{};
    ::tcgetattr(slave, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(slave, TCSANOW, &raw);
    constexpr int kTrips = 1000;
    const pid_t pid = ::fork();
    if (pid < 0)
        fail("fork");
    char byte = 'x';
    if (pid == 0) {
        for (int i = 0; i < kTrips; ++i) {
            if (::read(slave, &byte, 1) != 1 || ::write(slave, &byte, 1) != 1)
                ::_exit(1);
        }
        ::_exit(0);
    }
    std::vector<double> trips;
    for (int i = 0; i < kTrips; ++i) {
        const Clock::time_point start = Clock::now();
        if (::write(master, &byte, 1) != 1 || ::read(master, &byte, 1) != 1)
            fail("pseudo-terminal round trip");
        trips.push_back(1e6 * secondsSince(start));
        ::usleep(1000);
    }
    ::waitpid(pid, nullptr, 0);
    ::close(slave);
    ::close(master);
    return median(trips);
}

// Keeps this process, and so everything it starts from now on, on the core it is running on.
class OneCore {
public:
    OneCore()
    {
        if (::sched_getaffinity(0, sizeof m_before, &m_before) != 0)
            fail("sched_getaffinity");
        cpu_set_t core;
        CPU_ZERO(&core);
        CPU_SET(::sched_getcpu(), &core);
        if (::sched_setaffinity(0, sizeof core, &core) != 0)
            fail("sched_setaffinity");
    }
    ~OneCore() { ::sched_setaffinity(0, sizeof m_before, &m_before); }
    OneCore(const OneCore&) = delete;
    OneCore& operator=(const OneCore&) = delete;

private:
    cpu_set_t m_before{};
};

std::string ownDirectory()
{
    char path[PATH_MAX] = {};
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0)
        fail("readlink /proc/self/exe");
    std::string dir(path, static_cast<std::size_t>(n));
    return dir.substr(0, dir.rfind('/'));
}

double megabytes(long kb)
{
    return static_cast<double>(kb) / 1024.0;
}

void row(const char* what, const std::string& figure, const char* goal, const char* command)
{
    std::printf("| %s | %s | %s | `%s` |\n", what, figure.c_str(), goal, command);
}

std::string format(const char* pattern, double value)
{
    char text[160];
    std::snprintf(text, sizeof text, pattern, value);
    return text;
}

int usage()
{
    std::fprintf(stderr, "Usage: tq-b9-perf [--runs N] [--no-paced] [--radios N] [--rows-only]\n");
    return 64;
}

} // namespace
} // namespace tqb9::perf

int main(int argc, char** argv)
{
    using namespace tqb9::perf;
    if (argc == 3 && std::strcmp(argv[1], "--window-run") == 0)
        return windowRun(argc, argv, argv[2]);
    if (argc >= 3 && std::strcmp(argv[1], "--station-run") == 0)
        return stationRun(argc, argv, 2);
    if (argc >= 4 && std::strcmp(argv[1], "--station-wait") == 0)
        return stationRun(argc, argv, 3, std::atoi(argv[2]));
    if (argc == 3 && std::strcmp(argv[1], "--station-cycle") == 0)
        return stationCycle(argc, argv, std::atoi(argv[2]));

    int runs = 5;
    int radios = 16;
    bool paced = true;
    bool header = true;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc)
            runs = std::atoi(argv[++i]);
        else if (std::strcmp(argv[i], "--radios") == 0 && i + 1 < argc)
            radios = std::atoi(argv[++i]);
        else if (std::strcmp(argv[i], "--no-paced") == 0)
            paced = false;
        else if (std::strcmp(argv[i], "--rows-only") == 0)
            header = false;
        else
            return usage();
    }
    if (runs < 1 || radios < 0 || radios > 64)
        return usage();
    const std::string bin = ownDirectory();

    const int blocks = static_cast<int>(tqb9::Firmware::builtIn().blocks().size());
    // What the program receives in a whole run, and so what the radio's line has to carry: the
    // echo of every byte sent, then the reply. Model query 10 + 6 (framed reply), connect 9 + 4,
    // and 1032 + 4 for the erase, each program packet and the end packet.
    const long wireBytes = (10 + 6) + (9 + 4) + (1032 + 4) * (blocks + 2L);
    const double wireSeconds = static_cast<double>(wireBytes) / kLineBytesPerSecond;
    // Every exchange of a run: model query, connect, erase, the blocks and the end.
    const double exchanges = blocks + 4.0;

    std::fprintf(stderr, "tq-b9-perf: %d unpaced runs of tq-b9-cli, %d blocks each\n", runs,
                 blocks);
    std::vector<double> wall;
    std::vector<double> perPacket;
    std::vector<double> cpu;
    long cliRss = 0;
    for (int i = 0; i < runs; ++i) {
        const CliRun run = runCli(bin, false);
        wall.push_back(run.child.wallSeconds);
        perPacket.push_back(blocks > 0 ? run.writeSeconds / blocks : 0);
        cpu.push_back(run.child.cpuSeconds);
        cliRss = std::max(cliRss, run.child.maxRssKb);
    }

    std::optional<CliRun> pacedRun;
    std::optional<CliRun> oneCoreRun;
    std::optional<CliRun> stationRun;
    double tripOneCore = 0;
    double tripAnyCore = 0;
    if (paced) {
        std::fprintf(stderr,
                     "tq-b9-perf: one run paced at 57600 8N1, delivered every 1 ms, about %.0f s\n",
                     wireSeconds);
        pacedRun = runCli(bin, true);
        cliRss = std::max(cliRss, pacedRun->child.maxRssKb);
        std::fprintf(stderr, "tq-b9-perf: the same with the simulator and tq-b9-cli on one core\n");
        tripAnyCore = ptyRoundTripMicros();
        {
            const OneCore core;
            tripOneCore = ptyRoundTripMicros();
            oneCoreRun = runCli(bin, true);
            cliRss = std::max(cliRss, oneCoreRun->child.maxRssKb);
        }
        if (radios > 1) {
            std::fprintf(stderr, "tq-b9-perf: %d radios from one tq-b9-cli, the same way\n",
                         radios);
            stationRun = runCli(bin, true, radios);
        }
    }

    std::optional<ChildResult> stationWindow;
    if (paced && radios > 1) {
        std::fprintf(stderr, "tq-b9-perf: %d radios on the station window's tiles, paced\n",
                     radios);
        std::vector<Simulator> sims(static_cast<std::size_t>(radios));
        std::vector<std::string> child{bin + "/tq-b9-perf", "--station-run"};
        for (Simulator& sim : sims) {
            sim.start(bin, true);
            child.push_back(sim.device());
        }
        stationWindow = runChild(child);
        if (stationWindow->status != 0) {
            std::fprintf(stderr, "tq-b9-perf: the station window's runs did not complete: %s\n",
                         stationWindow->out.c_str());
            return 1;
        }
    }

    constexpr int kWaitSeconds = 20;
    std::optional<ChildResult> stationWaiting;
    if (radios > 1) {
        std::fprintf(stderr, "tq-b9-perf: %d ports waiting hands-free for %d s, no radio on any\n",
                     radios, kWaitSeconds);
        char folder[] = "/tmp/tq-b9-perf-XXXXXX";
        if (::mkdtemp(folder) == nullptr)
            fail("mkdtemp");
        const std::string absent = std::string(folder) + "/present";
        std::vector<Simulator> sims(static_cast<std::size_t>(radios));
        std::vector<std::string> child{bin + "/tq-b9-perf", "--station-wait",
                                       std::to_string(kWaitSeconds)};
        for (Simulator& sim : sims) {
            sim.start(bin, true, absent);
            child.push_back(sim.device());
        }
        stationWaiting = runChild(child);
        ::rmdir(folder);
        if (stationWaiting->status != 0) {
            std::fprintf(stderr, "tq-b9-perf: the station's ports did not all wait: %s\n",
                         stationWaiting->out.c_str());
            return 1;
        }
    }

    // Hands-free on one tile: a radio put on, written, held, and taken off, kCycles times.
    constexpr int kCycles = 5;
    std::vector<double> toErase;
    std::vector<double> toReady;
    if (paced) {
        std::fprintf(stderr, "tq-b9-perf: %d radios put on and taken off one tile, hands-free\n",
                     kCycles);
        const ChildResult cycle =
            runChild({bin + "/tq-b9-perf", "--station-cycle", std::to_string(kCycles)});
        if (cycle.status != 0) {
            std::fprintf(stderr, "tq-b9-perf: the hands-free cycle did not complete: %s\n",
                         cycle.out.c_str());
            return 1;
        }
        for (const auto& [name, values] :
             {std::pair{"erase_ms", &toErase}, {"ready_ms", &toReady}}) {
            const std::size_t at = cycle.out.find(name);
            if (at == std::string::npos)
                fail(std::string("no ") + name + " from --station-cycle");
            std::istringstream numbers(cycle.out.substr(at + std::strlen(name)));
            std::string line;
            std::getline(numbers, line);
            std::istringstream fields(line);
            for (double value = 0; fields >> value;)
                values->push_back(value);
        }
    }

    std::fprintf(stderr, "tq-b9-perf: one Start of the window (frmMain, offscreen)\n");
    ChildResult window;
    {
        const Simulator sim(bin, false);
        window = runChild({bin + "/tq-b9-perf", "--window-run", sim.device()});
    }
    if (window.status != 0) {
        std::fprintf(stderr, "tq-b9-perf: the window's run did not complete: %s\n",
                     window.out.c_str());
        return 1;
    }

    if (header) {
        std::printf("| Measure | Figure | Goal | Reproduce |\n|---|---|---|---|\n");
    }
    const std::string median5 = format("median of %.0f runs", runs);
    row("Full run, unpaced simulator: total time",
        format("%.0f ms", 1000 * median(wall)) + " (" + median5 + ")", "", "tq-b9-perf --no-paced");
    row("Full run, unpaced simulator: time per program packet",
        format("%.0f µs", 1e6 * median(perPacket)) + format(" (write step / %.0f packets)", blocks),
        "", "tq-b9-perf --no-paced");
    row("Full run, unpaced simulator: CPU time of tq-b9-cli", format("%.0f ms", 1000 * median(cpu)),
        "", "tq-b9-perf --no-paced");
    if (pacedRun) {
        const ChildResult& any = pacedRun->child;
        const ChildResult& one = oneCoreRun->child;
        // Each paced figure as "on one core / on any core".
        const auto both = [](const std::string& oneCore, const std::string& anyCore) {
            return oneCore + " on one core; " + anyCore + " on any core";
        };
        const auto wakes = [exchanges](const ChildResult& c) {
            return format("%.1f", static_cast<double>(c.wakes) / exchanges);
        };
        const auto cpuShare = [](const ChildResult& c) {
            return format("%.2f s", c.cpuSeconds) +
                   format(" = %.2f %%", 100 * c.cpuSeconds / c.wallSeconds);
        };
        row("Full run, paced 57600 8N1, bytes delivered every 1 ms: total time",
            both(format("%.2f s", one.wallSeconds), format("%.2f s", any.wallSeconds)), "",
            "tq-b9-perf");
        row("Wire-time limit (bytes received ÷ 5,760 B/s)",
            format("%.2f s", wireSeconds) + format(" (%.0f bytes)", static_cast<double>(wireBytes)),
            "", "tq-b9-perf");
        row("Paced run ÷ wire-time limit",
            both(format("%.4f", one.wallSeconds / wireSeconds),
                 format("%.4f", any.wallSeconds / wireSeconds)),
            "≤ 1.01", "tq-b9-perf");
        row("CPU time of tq-b9-cli during the paced run, share of its wall time",
            both(cpuShare(one), cpuShare(any)), "< 0.5 %", "tq-b9-perf");
        row("Wakes of tq-b9-cli per exchange during the paced run", both(wakes(one), wakes(any)),
            "report", "tq-b9-perf");
        row("Pseudo-terminal round trip between two bare processes (median of 1000)",
            both(format("%.0f µs", tripOneCore), format("%.0f µs", tripAnyCore)), "report",
            "tq-b9-perf");
    }
    if (stationRun) {
        const ChildResult& c = stationRun->child;
        const std::string many = format("%.0f radios", radios);
        row((many + " from one tq-b9-cli, paced: total time").c_str(),
            format("%.2f s", c.wallSeconds) +
                format(" = %.4f × one radio's", c.wallSeconds / pacedRun->child.wallSeconds),
            "≤ 1.02 ×", "tq-b9-perf");
        row((many + ": CPU time of tq-b9-cli").c_str(),
            format("%.2f s", c.cpuSeconds) +
                format(" = %.2f %% of one core", 100 * c.cpuSeconds / c.wallSeconds),
            "< 8 %", "tq-b9-perf");
        row((many + ": wakes of tq-b9-cli per exchange").c_str(),
            format("%.1f", static_cast<double>(c.wakes) / (exchanges * radios)) +
                format(" (%.0f in all)", static_cast<double>(c.wakes)),
            "report", "tq-b9-perf");
        row((many + ": peak resident memory of tq-b9-cli").c_str(),
            format("%.1f MB", megabytes(c.maxRssKb)), "report", "tq-b9-perf");
    }
    if (stationWindow) {
        const ChildResult& c = *stationWindow;
        const std::string many = format("%.0f radios", radios);
        row((many + " on the station window's tiles, paced: total time").c_str(),
            format("%.2f s", c.wallSeconds) +
                format(" = %.4f × one radio's", c.wallSeconds / pacedRun->child.wallSeconds),
            "≤ 1.02 ×", "tq-b9-perf");
        row((many + ": CPU time of the station window").c_str(),
            format("%.2f s", c.cpuSeconds) +
                format(" = %.2f %% of one core", 100 * c.cpuSeconds / c.wallSeconds),
            "< 10 %", "tq-b9-perf");
        row((many + ": peak resident memory of the station window").c_str(),
            format("%.1f MB", megabytes(c.maxRssKb)), "report", "tq-b9-perf");
    }
    if (stationWaiting) {
        double waitCpu = 0;
        std::sscanf(stationWaiting->out.c_str(), "cpu %lf", &waitCpu);
        row(format("%.0f ports waiting with Automatic on, no radio: CPU time of the station window",
                   radios)
                .c_str(),
            format("%.3f s", waitCpu) + format(" over %.0f s", kWaitSeconds) +
                format(" = %.2f %% of one core", 100 * waitCpu / kWaitSeconds),
            "< 0.5 %", "tq-b9-perf");
    }
    if (!toErase.empty() && !toReady.empty()) {
        // The median, then the lowest and highest, in pattern ("%.1f ms").
        const auto spread = [](const std::vector<double>& values, const char* pattern) {
            const auto [low, high] = std::minmax_element(values.begin(), values.end());
            return format(pattern, median(values)) +
                   format(" (median of %.0f radios; ", static_cast<double>(values.size())) +
                   format(pattern, *low) + " to " + format(pattern, *high) + ")";
        };
        std::vector<double> toReadySeconds;
        for (const double ms : toReady)
            toReadySeconds.push_back(ms / 1000);
        row("Hands-free, paced: a radio answering a probe → its run's erase step beginning",
            spread(toErase, "%.1f ms"), "report", "tq-b9-perf");
        row("Hands-free: a radio taken off → its tile waiting for the next",
            spread(toReadySeconds, "%.2f s"), "about 2 s", "tq-b9-perf");
    }
    row("Peak resident memory of tq-b9-cli over a full run", format("%.1f MB", megabytes(cliRss)),
        "< 16 MB", "tq-b9-perf");
    row("Peak resident memory of the window over a full run (frmMain, offscreen platform)",
        format("%.1f MB", megabytes(window.maxRssKb)) +
            format(", run %.0f ms", 1000 * window.wallSeconds),
        "report", "tq-b9-perf");
    return 0;
}
