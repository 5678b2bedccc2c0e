#pragma once
// How every job command runs its job: the run shown on the terminal,
// gathered for the run report when one is asked for (--report) and traced
// when asked for (--trace); then the command ends as endJobCommand says.

#include "cli/command.h"
#include "cli/options.h"
#include "job/job_end.h"
#include "job/observer.h"
#include "report/reporting_observer.h"
#include "report/run_report.h"

#include <functional>
#include <string>
#include <vector>

namespace veltrana::cli {

// What the run report says of the run before it starts.
struct JobRun {
    RunKind kind = RunKind::Soundtrack;
    std::vector<RunSetting> settings;
    int firstFrame = 1;
    int lastFrame = 1;
};

// `run` runs the job with the observer it is handed and says how it ended;
// `finished`, called once the terminal is done with the run, prints what was
// written and returns it for the report.
int runJobCommand(const JobOptions& options, JobRun jobRun, CommandIo& io,
                  const std::function<JobEnding(JobObserver&)>& run,
                  const std::function<RunWritten()>& finished);

} // namespace veltrana::cli
