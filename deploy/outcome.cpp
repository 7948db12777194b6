#include "deploy/outcome.h"

#include "platform/deploy/standard_output.h"

int exit_code_of(Outcome outcome) {
    switch (outcome) {
        case Outcome::changed:
        case Outcome::unchanged: return 0;
        case Outcome::restart: return 3010;
        case Outcome::busy: return 1618;
        case Outcome::refused:
        case Outcome::failed: break;
    }
    return 1;
}

StringView outcome_word(Outcome outcome) {
    switch (outcome) {
        case Outcome::changed: return u"changed";
        case Outcome::unchanged: return u"unchanged";
        case Outcome::restart: return u"restart";
        case Outcome::refused: return u"refused";
        case Outcome::busy: return u"busy";
        case Outcome::failed: break;
    }
    return u"failed";
}

Outcome log_verdict(DeployLog& log, const Verdict& verdict) {
    const bool failure = verdict.outcome == Outcome::refused || verdict.outcome == Outcome::failed;
    log_record(log, failure ? RecordType::error : RecordType::information,
               verdict.sentence + u" Exit code " + decimal_text(static_cast<uint64_t>(exit_code_of(verdict.outcome))) + u".");
    write_output_line(outcome_word(verdict.outcome));
    return verdict.outcome;
}
