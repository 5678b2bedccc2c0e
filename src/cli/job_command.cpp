#include "cli/job_command.h"

#include "cli/terminal_observer.h"
#include "report/reporting_observer.h"

#include <optional>
#include <ostream>
#include <utility>

namespace veltrana::cli {

namespace {

// How a job command ends, once it has said what it wrote: the report (when
// one was asked for) is written and named on the output stream (unless
// quiet), or is a warning on the error stream that leaves the exit status
// alone; the job's message goes to the error stream when the log lines that
// say it were not shown (quiet); and the exit status follows the job (2 for
// a usage the scans refuse).
int endJobCommand(const JobEnding& ending, RunWritten written, RunCollector* collector,
                  const std::filesystem::path& reportDir, bool quiet, CommandIo& io) {
    if (collector != nullptr) {
        const Result<std::filesystem::path> page =
            finishRunReport(*collector, reportDir, ending, std::move(written));
        if (!page) {
            io.err << "veltrana: warning: " << page.message() << "\n";
        } else if (!quiet) {
            io.out << "Run report: " << page->string() << "\n";
        }
    }
    if (ending.succeeded()) {
        return kExitOk;
    }
    if (quiet) {
        io.err << "veltrana: " << ending.message << "\n";
    }
    return ending.end == JobEnd::UsageRefused ? kExitUsage : kExitFailed;
}

} // namespace

int runJobCommand(const JobOptions& options, JobRun jobRun, CommandIo& io,
                  const std::function<JobEnding(JobObserver&)>& run,
                  const std::function<RunWritten()>& finished) {
    std::optional<RunCollector> collector;
    if (!options.report.empty()) {
        collector.emplace(jobRun.kind, std::move(jobRun.settings), jobRun.firstFrame,
                          jobRun.lastFrame);
    }
    std::ostream* bar = io.progress != nullptr ? io.progress : &io.err;
    TerminalObserver terminal(io.err, options.quiet, io.errIsTerminal ? bar : nullptr);
    ReportingObserver observer(terminal, collector ? &*collector : nullptr);
    JobEnding ending;
    {
        const ScopedTrace trace(options.trace);
        ending = run(observer);
    }
    terminal.finish();
    RunWritten written = finished();
    return endJobCommand(ending, std::move(written), collector ? &*collector : nullptr,
                         options.report, options.quiet, io);
}

} // namespace veltrana::cli
