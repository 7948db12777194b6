#include <gtest/gtest.h>

#include "platform/growing_buffer.h"

namespace {

// How a Win32 call reports a text that does not fit its buffer.
enum class Cut { returns_given_size, returns_needed_size };

struct LongText {
    const char* name;
    size_t length;
    Cut cut;
    int most_calls;
};

void PrintTo(const LongText& row, std::ostream* out) { *out << row.name; }

class GrowingBuffer : public testing::TestWithParam<LongText> {};

TEST_P(GrowingBuffer, WholeTextInAFewCalls) {
    const LongText& row = GetParam();
    String text(row.length, u'p');
    int calls = 0;
    String got = fetch_growing(260, [&](char16_t* buffer, size_t size) -> size_t {
        ++calls;
        if (text.size() < size) {
            text.copy(buffer, text.size());
            return text.size();
        }
        text.copy(buffer, size - 1);  // cut, and terminated
        return row.cut == Cut::returns_given_size ? size : text.size() + 1;
    });
    EXPECT_EQ(got, text);
    EXPECT_LE(calls, row.most_calls);
}

INSTANTIATE_TEST_SUITE_P(
    ModuleFileNameAndTempPath, GrowingBuffer,
    testing::Values(LongText{"short_path_first_call", 40, Cut::returns_given_size, 1},
                    LongText{"exactly_259_units_fits", 259, Cut::returns_given_size, 1},
                    LongText{"module_path_of_1000_units", 1000, Cut::returns_given_size, 3},
                    LongText{"module_path_of_32767_units", 32767, Cut::returns_given_size, 8},
                    LongText{"temp_path_of_1000_units", 1000, Cut::returns_needed_size, 2}),
    [](const testing::TestParamInfo<LongText>& info) { return std::string(info.param.name); });

}  // namespace
