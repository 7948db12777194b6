// Arbitrary argument lists through the option parser and the whole front end:
// no crash or sanitizer report, and what holds for any arguments (the rules
// themselves are the host tests' table).

#include <algorithm>

#include "app/typeloader_command_line.h"
#include "platform/memory/memory_machine.h"
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
    reset_memory_machine();
    memory_machine().process.arguments = arguments;
    const int exit_code = run_typeloader();
    if (choice.title.empty()) {
        FUZZ_CHECK(exit_code == 1);
        FUZZ_CHECK(memory_machine().output.console ==
                   expected_line(u"Usage : Typeloader [/uninstall] </title:title_string>"));
        // Nothing but the DLL search restriction, which comes before everything.
        FUZZ_CHECK(memory_calls_in_total() == 1 && memory_calls_of(Operation::restrict_dll_search) == 1);
    } else {
        FUZZ_CHECK(exit_code == 0);
        const String header = (choice.uninstall ? u"Uninstall Font : " : u"Install Font : ") + choice.title;
        FUZZ_CHECK(memory_machine().output.console == expected_line(header));
    }
    return 0;
}
