// The entry points' shared body.
#include "run_program.h"

#include "form1.h"
#include "mdl2.h"
#include "platform/platform_error.h"

namespace pellatrix {

int runProgram(PlatformServices& platform, const std::function<void(const Text&)>& reportLastResort,
               const PathDisplay& showPath) {
    Form1 form(platform);
    try {
        form.Form_Load();
        return form.exitStatus();
    } catch (const std::exception& error) {
        const Text report = describeError(error, showPath);
        try {
            platform.messageBox(report, Mdl2::kTitle, Mdl2::kErrorStyle);
        } catch (const std::exception&) {
            reportLastResort(report);
        }
        try {
            platform.endProgram();
        } catch (const std::exception&) {
            // already ending: nothing more to tell
        }
        return Mdl2::kExitError;
    }
}

} // namespace pellatrix
