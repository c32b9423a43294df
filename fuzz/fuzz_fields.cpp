// Field splitting at commas and bars, and the numbers of fields.
#include <string_view>

#include "shell/fields.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace zrx;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    for (const FieldList& fields : {SplitByComma(text), SplitByBar(text)}) {
        volatile float sink = fields.Value(0);
        for (int i = 1; i <= fields.Count() && i < 64; ++i) sink = fields.Value(i);
        (void)sink;
    }
    volatile double value = FieldValue(text);
    (void)value;
    (void)LeadingInteger(text);
    return 0;
}
