// Arbitrary argument lists through the option parser and the whole front end:
// no crash or sanitizer report, and what holds for any arguments (the rules
// themselves are the host tests' table).

#include <algorithm>

#include "app/command_line.h"
#include "platform/console_memory.h"
#include "platform/files_memory.h"
#include "platform/registry_memory.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<String> arguments = decode_tokens(data, size);
    const CommandChoice choice = parse_arguments(arguments);
    // The title is the tail of one of the arguments after the program name.
    if (!choice.title.empty()) {
        FUZZ_CHECK(std::any_of(arguments.begin() + 1, arguments.end(), [&](const String& argument) {
            return argument.size() == choice.title.size() + 7 && argument.ends_with(choice.title);
        }));
    }
    // The program name is never read, and a plain word is ignored.
    std::vector<String> renamed = arguments;
    if (!renamed.empty()) renamed[0] = u"/title:Program";
    renamed.push_back(u"word");
    const CommandChoice same = parse_arguments(renamed);
    FUZZ_CHECK(same.title == choice.title && same.uninstall == choice.uninstall);

    // No Font folder and an empty key: a job writes its header line only.
    reset_memory_files();
    reset_memory_registry();
    captured_console_output().clear();
    memory_files().arguments = arguments;
    const int exit_code = run_typeloader();
    if (choice.title.empty()) {
        FUZZ_CHECK(exit_code == 1);
        FUZZ_CHECK(captured_console_output() ==
                   expected_line(u"Usage : Typeloader [/uninstall] </title:title_string>"));
        FUZZ_CHECK(memory_registry().calls.empty());
        // Nothing but the DLL search restriction, which comes before everything.
        FUZZ_CHECK(memory_files().calls == std::vector<String>{u"restrict dll search"});
    } else {
        FUZZ_CHECK(exit_code == 0);
        const String header = (choice.uninstall ? u"Uninstall Font : " : u"Install Font : ") + choice.title;
        FUZZ_CHECK(captured_console_output() == expected_line(header));
    }
    return 0;
}
