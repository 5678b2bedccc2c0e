#include "cli/job_command.h"

#include "cli/report_observer.h"
#include "cli/terminal_observer.h"

#include <optional>
#include <utility>

namespace veltrana::cli {

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
