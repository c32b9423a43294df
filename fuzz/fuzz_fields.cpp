// Field splitting at commas and bars, and the numbers of fields.
#include <string_view>

#include "base/fields.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace zrx;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    for (const char separator : {',', '|'}) {
        const FieldList fields = SplitBySeparator(text, separator);
        volatile float sink = fields.Value(0);
        for (int i = 1; i <= fields.Count() && i < 64; ++i) sink = fields.Value(i);
        (void)sink;
        // The one-field reader must give what the split gives.
        for (int i = 0; i <= fields.Count() + 1 && i < 64; ++i) {
            const auto field = PlainField(text, separator, i);
            if (field && *field != fields.Field(i)) __builtin_trap();
        }
    }
    volatile double value = FieldValue(text);
    (void)value;
    (void)LeadingInteger(text);
    return 0;
}
