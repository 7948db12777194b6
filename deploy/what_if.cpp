#include "deploy/deploy_jobs.h"

Outcome tell_what_if(DeployLog& log, const std::vector<Action>& actions, Outcome outcome) {
    std::vector<LogLine> lines;
    for (const Action& action : actions) lines.push_back({RecordType::information, u"What if: " + describe(action)});
    if (actions.empty()) lines.push_back({RecordType::information, u"What if: nothing to do"});
    log_records(log, lines);
    return log_verdict(log, {outcome, u"What if: the run would answer " + String(outcome_word(outcome)) + u"; nothing was changed."});
}
