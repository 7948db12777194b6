#include "app/run_deploy.h"

#include "deploy/command_line.h"
#include "deploy/deploy_jobs.h"
#include "deploy/outcome.h"
#include "deploy/private_bundle.h"
#include "platform/process.h"
#include "platform/deploy/standard_output.h"

int run_deploy() {
    // First of all, as in Typeloader.exe: no DLL from the program's folder.
    PlatformStatus restricted = restrict_dll_search_to_system32();
    if (restricted) {
        write_output_line(u"Typeloader-Deploy: SetDefaultDllDirectories failed");
        return exit_code_of(Outcome::failed);
    }
    quiet_error_mode();

    DeployChoice choice;
    {
        std::vector<String> arguments;
        split_command_line(full_command_line(), arguments);  // none when it cannot be split
        choice = parse_deploy_arguments(arguments);
    }
    if (choice.job == DeployJob::none) {
        write_output_line(deploy_usage_line);
        return exit_usage;
    }

    // Nothing is written, and nothing run, before the log folder passes and
    // the log is held: it is the machine's lock too.
    DeployLog log;
    String refusal;
    switch (open_deploy_log(log, refusal)) {
        case LogOpening::opened: break;
        case LogOpening::busy:
            write_output_line(refusal);
            write_output_line(outcome_word(Outcome::busy));
            return exit_code_of(Outcome::busy);
        case LogOpening::refused:
            write_output_line(refusal);
            write_output_line(outcome_word(Outcome::refused));
            return exit_code_of(Outcome::refused);
    }
    // The programs' versions are read once the bundle passes its check.
    log_record(log, RecordType::information, u"Command line: " + full_command_line());
    if (!log.unfinished.empty()) {
        log_record(log, RecordType::warning, u"A run before this one ended before its verdict (its records stand above): "
                                              u"a run of its job and title verifies what it left.");
        remove_unfinished_private_bundle(log);
    }
    return exit_code_of(choice.job == DeployJob::install ? deploy_install(log, choice) : deploy_uninstall(log, choice));
}
