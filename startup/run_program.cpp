// The entry points' shared body.
#include "run_program.h"

#include "form1.h"
#include "mdl2.h"
#include "platform/platform_error.h"

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

} // namespace

int runProgram(PlatformServices& platform, const StartOptions& options,
               const std::function<void(const Text&)>& reportLastResort,
               const PathDisplay& showPath) {
    Form1 form(platform, options);
    try {
        form.Form_Load();
        return form.exitStatus();
    } catch (const std::exception& error) {
        const Text report = describeError(error, showPath);
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
