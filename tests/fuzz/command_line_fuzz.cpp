// Arbitrary argument lists against a plain model of the option rules, then
// the whole front end on the same arguments.

#include "app/command_line.h"
#include "platform/console_memory.h"
#include "platform/files_memory.h"
#include "platform/registry_memory.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

String lowered(StringView text) {
    String low(text);
    for (char16_t& unit : low) {
        if (unit >= 0x41 && unit <= 0x5A) unit = static_cast<char16_t>(unit + 0x20);
    }
    return low;
}

CommandChoice model_options(const std::vector<String>& arguments) {
    CommandChoice model;
    for (size_t i = 1; i < arguments.size(); ++i) {
        const String low = lowered(arguments[i]);
        if (low == u"-uninstall" || low == u"/uninstall") {
            model.uninstall = true;
        } else if (low.size() >= 7 && (low.compare(0, 7, u"-title:") == 0 || low.compare(0, 7, u"/title:") == 0)) {
            model.title = arguments[i].substr(7);
        }
    }
    return model;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<String> arguments = decode_tokens(data, size);
    const CommandChoice model = model_options(arguments);
    const CommandChoice choice = parse_arguments(arguments);
    FUZZ_CHECK(choice.title == model.title);
    FUZZ_CHECK(choice.uninstall == model.uninstall);

    // No Font folder and an empty key: a job writes its header line only.
    reset_memory_files();
    reset_memory_registry();
    captured_console_output().clear();
    memory_files().arguments = arguments;
    const int exit_code = run_typeloader();
    if (model.title.empty()) {
        FUZZ_CHECK(exit_code == 1);
        FUZZ_CHECK(captured_console_output() ==
                   expected_line(u"Usage : Typeloader [/uninstall] </title:title_string>"));
        FUZZ_CHECK(memory_registry().calls.empty());
        // Nothing but the DLL search restriction, which comes before everything.
        FUZZ_CHECK(memory_files().calls == std::vector<String>{u"restrict dll search"});
    } else {
        FUZZ_CHECK(exit_code == 0);
        const String header = (model.uninstall ? u"Uninstall Font : " : u"Install Font : ") + model.title;
        FUZZ_CHECK(captured_console_output() == expected_line(header));
    }
    return 0;
}
