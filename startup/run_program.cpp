// The entry points' shared body.
#include "run_program.h"

#include "form1.h"
#include "mdl2.h"
#include "platform/platform_error.h"
#include "platform/text_encoding.h"

namespace pellatrix {
namespace {

// The error report in a message box; false when even that cannot be shown.
bool showErrorReport(PlatformServices& platform, const Text& report) {
    try {
        platform.messageBox(report, Mdl2::kTitle, Mdl2::kErrorStyle);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

Text endLine(int status) {
    return u"End: exit status " + fromUtf8(std::to_string(status));
}

// The log's last lines after an error: the report and the status. A log that cannot be
// written to has nothing more to tell.
void logError(InstallLog* log, const Text& report) {
    if (!log)
        return;
    try {
        log->write(u"Error: " + report);
        log->write(endLine(Mdl2::kExitError));
    } catch (const std::exception&) {
    }
}

} // namespace

int runProgram(PlatformServices& platform, const StartOptions& options,
               const std::function<void(const Text&)>& reportLastResort,
               const PathDisplay& showPath) {
    Form1 form(platform, options);
    try {
        form.Form_Load();
        if (options.log)
            options.log->write(endLine(form.exitStatus()));
        return form.exitStatus();
    } catch (const std::exception& error) {
        const Text report = describeError(error, showPath);
        logError(options.log, report);
        if (!options.showMessages || !showErrorReport(platform, report))
            reportLastResort(report);
        try {
            platform.endProgram();
        } catch (const std::exception&) {
            // already ending: nothing more to tell
        }
        return Mdl2::kExitError;
    }
}

} // namespace pellatrix
