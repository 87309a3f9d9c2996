#include "app/baselineRun.h"

#include <filesystem>

#include "baseline/judgement.h"
#include "conform/texts.h"
#include "util/telUtils.h"

baselineRun::baselineRun(const std::optional<telText>& path) : f_path(path) {}

bool baselineRun::readable(telText* why) {
    if (!f_path) return true;
    f_file = baseline::readBaselineFile(std::filesystem::path(*f_path));
    if (f_file.error.empty()) return true;
    if (why) *why = conform::fromUtf8(baseline::unusableLine(utf8Text(*f_path), f_file.error));
    return false;
}

void baselineRun::judge(measure::RunDocument& document, measure::Verdict& verdict) {
    if (!f_path) return;
    // What an interrupted run counted is not a whole run's: nothing of it is compared.
    if (verdict.word == measure::VerdictWord::interrupted) {
        printMessage(u"\r\nNot compared with the baseline " + *f_path + u": the run was interrupted.");
        return;
    }
    document.setVerdict(verdict);
    const baseline::Judgement judgement =
        baseline::judgeAgainst(f_file, utf8Text(*f_path), document.document());
    printMessage(u"");
    for (const std::string& line : judgement.lines)
        printMessage(conform::fromUtf8(line));
    if (!judgement.error.empty()) verdict.add(measure::VerdictWord::error, judgement.error);
    for (const std::string& reason : judgement.regressions)
        verdict.add(measure::VerdictWord::fail, reason);
    if (!judgement.section.is_null()) document.setSection("baseline", judgement.section);
    document.setVerdict(verdict);
}
