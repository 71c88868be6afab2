#include "tools/review_tool.hpp"

#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>

#include "platform/failure.hpp"
#include "platform/program_info.hpp"
#include "workbench/server.hpp"
#include "workbench/workbench.hpp"

namespace georef::tools {

namespace {

const char* const kProgram = "georef-review";
const char* const kUsage =
    "usage: georef-review OUTDIR [--scans DIR] [--config FILE] [--bind ADDR] [--port N]\n"
    "Serves a local workbench over the output directory of georef-batch: the review page,\n"
    "kept current, a zoomable mosaic, and a corner editor in which a sheet's corners are\n"
    "placed with the mouse, checked as georef-check checks them, saved as the sheet's\n"
    "hand corner file (OUTDIR/corners/hand/SHEET.txt) and the sheet run again as the batch\n"
    "runs it. Prints the address to open, with its access token; stops on Ctrl-C.\n"
    "options:\n"
    "  --scans DIR     find the scans in DIR (and its subfolders) by sheet number\n"
    "                  (default: where the batch's journal names them)\n"
    "  --config FILE   the transformation file the batch used (default: ./config.bin)\n"
    "  --bind ADDR     the address to listen on (default: 127.0.0.1, this computer only)\n"
    "  --port N        the port (default: any free one)\n"
    "  -h, --help      print this text\n"
    "  --version       print the version\n";

struct Arguments {
    workbench::WorkbenchOptions workbench;
    workbench::ServerOptions server;
};

Arguments ParseArguments(int argc, const char* const* argv) {
    Arguments args;
    int positional = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const auto value = [&]() -> std::string {
            if (i + 1 >= argc) {
                throw Failure(arg + " needs a value", ExitStatus::usage);
            }
            return argv[++i];
        };
        if (arg == "--scans") {
            args.workbench.scansDirectory = value();
        } else if (arg == "--config") {
            args.workbench.configFile = value();
        } else if (arg == "--bind") {
            args.server.bindAddress = value();
        } else if (arg == "--port") {
            const std::string text = value();
            const bool digits = !text.empty() && text.size() <= 5 && text.find_first_not_of("0123456789") == std::string::npos;
            args.server.port = digits ? std::atoi(text.c_str()) : -1;
            if (args.server.port < 1 || args.server.port > 65535) {
                throw Failure("--port needs a port number from 1 to 65535, not '" + text + "'", ExitStatus::usage);
            }
        } else if (arg.size() > 1 && arg[0] == '-') {
            throw Failure("unknown option " + arg, ExitStatus::usage);
        } else if (positional++ == 0) {
            args.workbench.outputDirectory = arg;
        } else {
            throw Failure("expected one OUTDIR", ExitStatus::usage);
        }
    }
    if (positional != 1) {
        throw Failure("expected OUTDIR", ExitStatus::usage);
    }
    return args;
}

// SIGINT, SIGTERM and SIGHUP, taken by one thread (sigwait) rather than a
// handler: the server is stopped like any other call, every request being
// answered finishes, and temporary files go with the objects that own them.
class StopOnSignals {
public:
    explicit StopOnSignals(workbench::Server& server) {
        sigemptyset(&m_signals);
        sigaddset(&m_signals, SIGINT);
        sigaddset(&m_signals, SIGTERM);
        sigaddset(&m_signals, SIGHUP);
        m_thread = std::thread([this, &server] {
            int signal = 0;
            sigwait(&m_signals, &signal);
            if (!m_ended) {
                server.Stop();
            }
        });
    }
    ~StopOnSignals() {
        m_ended = true;
        pthread_kill(m_thread.native_handle(), SIGTERM);  // ends the wait when no signal came
        m_thread.join();
    }
    StopOnSignals(const StopOnSignals&) = delete;
    StopOnSignals& operator=(const StopOnSignals&) = delete;

private:
    sigset_t m_signals;
    std::atomic<bool> m_ended{false};
    std::thread m_thread;
};

}  // namespace

int RunReviewTool(int argc, const char* const* argv, std::ostream& out, std::ostream& err) noexcept {
    try {
        if (const std::optional<int> status = platform::AnswerHelpOrVersion(argc, argv, kProgram, kUsage, out)) {
            return *status;
        }
        const Arguments args = ParseArguments(argc, argv);
        // Blocked before any thread starts, so that every thread inherits it
        // and only the waiting thread takes the signals.
        sigset_t signals;
        sigemptyset(&signals);
        sigaddset(&signals, SIGINT);
        sigaddset(&signals, SIGTERM);
        sigaddset(&signals, SIGHUP);
        pthread_sigmask(SIG_BLOCK, &signals, nullptr);
        workbench::Workbench bench(args.workbench);
        workbench::Server server(bench, args.server);
        {
            const StopOnSignals stop(server);
            out << kProgram << ": serving " << args.workbench.outputDirectory << "; open\n"
                << server.Address() << "\n" << std::flush;
            server.Run();
        }
        out << kProgram << ": stopped\n" << std::flush;
        return 0;
    } catch (const workbench::WorkbenchError& error) {
        err << kProgram << ": " << error.what() << "\n";
        return 1;
    } catch (...) {
        return platform::ReportCurrentException(kProgram, kUsage, err);
    }
}

}  // namespace georef::tools
