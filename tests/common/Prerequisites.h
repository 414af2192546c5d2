// What a test needs from the machine (an outside tool, root, namespaces).
// Without it the test is skipped with the reason; under CI=true it fails
// instead, so that a build machine never passes with the oracle missing.
#pragma once

#include "common/TestSupport.h"

#include <QtGlobal>
#include <gtest/gtest.h>

namespace kestest {

inline bool InContinuousIntegration()
{
    return qEnvironmentVariable("CI") == QLatin1String("true");
}

} // namespace kestest

// Skips (or, under CI=true, fails) the test unless the condition holds.
#define KES_REQUIRE(condition, reason)                                                                       \
    do {                                                                                                     \
        if (!(condition)) {                                                                                  \
            if (::kestest::InContinuousIntegration())                                                        \
                FAIL() << reason << " (required under CI=true)";                                             \
            GTEST_SKIP() << reason;                                                                          \
        }                                                                                                    \
    } while (0)

#define KES_REQUIRE_TOOL(name)                                                                               \
    KES_REQUIRE(::kestest::HaveTool(QStringLiteral(name)), name " is not installed")
