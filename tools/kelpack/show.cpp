#include "show.h"

#include "cab_show.h"
#include "copy_report.h"

namespace kelpack {

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
