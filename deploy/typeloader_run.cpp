#include "deploy/typeloader_run.h"

#include "common/console_text.h"
#include "deploy/command_line.h"
#include "platform/deploy/programs.h"

TypeloaderRun run_typeloader_job(DeployLog& log, const String& program, bool uninstall, const String& title) {
    TypeloaderRun run;
    // The program name is read up to its closing quote, with no escapes: a
    // folder path never holds a quote.
    String command_line = u"\"" + program + u"\" ";
    if (uninstall) command_line += u"/uninstall ";
    command_line += quote_argument(u"/title:" + title);
    log_record(log, RecordType::information, u"Running: " + command_line);
    if (PlatformStatus status = run_program(program, command_line, typeloader_time_limit_milliseconds, run.output, run.exit_code)) {
        log_record(log, RecordType::error, status == status_timeout
                                               ? u"Typeloader.exe did not end within " +
                                                     decimal_text(typeloader_time_limit_milliseconds / 60000) + u" minutes and was ended."
                                               : with_error(u"Typeloader.exe could not be started", status) + u".");
        return run;
    }
    run.started = true;
    // Its output is one byte per unit (the runtime's "C" locale), each line
    // ending in CR CR LF.
    String line;
    for (unsigned char byte : run.output) {
        if (byte == '\n') {
            while (!line.empty() && line.back() == u'\r') line.pop_back();
            run.lines.push_back(line);
            line.clear();
        } else {
            line += static_cast<char16_t>(byte);
        }
    }
    if (!line.empty()) run.lines.push_back(line);
    std::vector<LogLine> lines;
    for (const String& printed : run.lines) lines.push_back({RecordType::information, u"Typeloader.exe: " + printed});
    lines.push_back({RecordType::information, u"Typeloader.exe exit code " + decimal_text(run.exit_code) + u"."});
    log_records(log, lines);
    return run;
}

namespace {

bool check(DeployLog& log, bool passed, const String& what) {
    log_record(log, passed ? RecordType::information : RecordType::error, u"Verify " + what + (passed ? u": OK" : u": FAILED"));
    return passed;
}

}  // namespace

bool verify_typeloader_run(DeployLog& log, const TypeloaderRun& run, StringView header, StringView fail_prefix) {
    if (!run.started) return false;
    bool passed = check(log, run.exit_code == 0, u"exit code 0");
    const std::string expected = console_bytes(String(header) + u"\r\n");
    passed &= check(log, run.output.starts_with(expected), u"header line \"" + String(header) + u"\"");
    bool no_fail = true;
    for (const String& line : run.lines) no_fail &= !line.starts_with(fail_prefix);
    passed &= check(log, no_fail, u"no \"" + String(fail_prefix) + u"\" line");
    return passed;
}
