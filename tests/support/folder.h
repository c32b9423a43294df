#pragma once

#include <gtest/gtest.h>

#include <string>

#include "base/directory.h"

namespace zrx::test {

// A folder a test made, opened by its handle; the test fails where it cannot be opened.
inline Directory OpenFolder(const std::string& path) {
    auto folder = Directory::Open(path);
    if (!folder) ADD_FAILURE() << folder.Why();
    return folder ? std::move(*folder) : Directory();
}

// A check that an outcome or result succeeded, saying why where it did not:
// ASSERT_TRUE(test::Done(SetKeep(env, 2))).
template <typename R>
::testing::AssertionResult Done(const R& outcome) {
    if (outcome) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << outcome.Why();
}

// Why an expected failure failed; the test fails where the outcome was a success.
template <typename R>
std::string WhyFailed(const R& outcome) {
    if (outcome) ADD_FAILURE() << "it succeeded";
    return outcome.Why();
}

}  // namespace zrx::test
