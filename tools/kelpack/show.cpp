#include "show.h"

#include "cab_show.h"
#include "contract/kel.h"
#include "copy_report.h"
#include "launcher_view.h"

namespace kelpack {

const CommandSpec<ShowOptions>& ShowSpec() {
    static const CommandSpec<ShowOptions> spec = [] {
        CommandSpec<ShowOptions> c;
        c.name = "show";
        c.usage = {"kelpack show EXE [--json]", "kelpack show CAB [--json]"};
        c.synopsis = "kelpack show EXE|CAB [--json]";
        c.summary = "list what a launcher copy or a cabinet carries";
        c.about = "Lists the resources of EXE and what the launcher reads from them: the\n"
                  "embedded command line, the application package, the splash configuration\n"
                  "(or the default one the launcher falls back to) with each entry's bitmap,\n"
                  "the splash title and icon group " + std::to_string(kel::kIconGroupId) + ".\n";
        c.column = 15;
        c.options = {
            {{"--json", nullptr, nullptr, true}, "one JSON object instead of text, for scripts", Sets<&ShowOptions::json>},
        };
        c.epilogue = "For the screens " + CommonScreensText() + " it also gives\n"
                     "the splash bitmap the launcher chooses and whether the launcher decodes it.\n"
                     "\n"
                     "EXE may also be an installation cabinet (.cab, as kelpack cab writes): then\n"
                     "show lists what the device's installer makes of it (the application's name\n"
                     "and provider, the Windows CE versions and processor it takes, each file and\n"
                     "where it goes, the registry values, the shortcuts) and, for each program in\n"
                     "it, what show says of a launcher copy.\n";
        c.file = &ShowOptions::file;
        c.noFile = "no executable given";
        c.moreFiles = "give one executable";
        return c;
    }();
    return spec;
}

Outcome RunShow(const ShowOptions& o) {
    Outcome r;
    if (LooksLikeCabinet(o.file)) {
        CabReport report;
        if (!MakeCabReport(o.file, &report, &r)) return r;
        r.warnings = report.warnings;
        r.output = o.json ? CabJson(report) : CabText(report);
        return r;
    }
    ShowReport report;
    if (!MakeShowReport(o.file, &report, &r)) return r;
    r.warnings = report.warnings;
    r.output = o.json ? ShowJson(report) : ShowText(report);
    return r;
}

}  // namespace kelpack
