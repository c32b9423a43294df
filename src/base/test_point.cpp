#include "base/test_point.h"

#include <utility>

namespace zrx {

namespace {

std::function<void(std::string_view)>& Callback() {
    static std::function<void(std::string_view)> callback;
    return callback;
}

}  // namespace

void TestPoint(std::string_view moment) {
    if (Callback()) Callback()(moment);
}

void SetTestPoint(std::function<void(std::string_view moment)> callback) {
    Callback() = std::move(callback);
}

}  // namespace zrx
