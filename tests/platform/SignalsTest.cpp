// Termination and request signals delivered to the event loop, and real paths.
#include "platform/Signals.h"
#include "common/TestSupport.h"
#include "platform/RealPath.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <csignal>
#include <gtest/gtest.h>
#include <vector>

using namespace kes::platform;

namespace {

TEST(ProgramSignalsTest, SignalsReachTheEventLoopInsteadOfEndingTheProcess)
{
    std::vector<int> received;
    {
        TProgramSignals handler([&](int signal) { received.push_back(signal); });
        ASSERT_TRUE(handler.Installed());
        // Only one at a time.
        TProgramSignals second([](int) {});
        EXPECT_FALSE(second.Installed());

        ::raise(SIGTERM);
        ::raise(SIGINT);
        ::raise(SIGHUP);
        ::raise(TProgramSignals::RequestSignal());
        // Nothing runs inside the signal handler: the calls come from the
        // event loop, in order.
        EXPECT_TRUE(received.empty());
        ASSERT_TRUE(kestest::WaitUntil([&] { return received.size() == 4; }));
        EXPECT_EQ(received, (std::vector<int> {SIGTERM, SIGINT, SIGHUP, SIGUSR1}));
        EXPECT_EQ(TProgramSignals::SignalName(SIGTERM), QStringLiteral("SIGTERM"));
        EXPECT_TRUE(TProgramSignals::IsTermination(SIGHUP));
        EXPECT_FALSE(TProgramSignals::IsTermination(SIGUSR1));
    }
    // Afterwards the former handling is back.
    struct sigaction now { };
    sigaction(SIGTERM, nullptr, &now);
    EXPECT_EQ(now.sa_handler, SIG_DFL);
}

TEST(RealPathTest, LinksAndStepsAreResolved)
{
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    QString root;
    ASSERT_EQ(CanonicalPath(tmp.path(), root), 0);
    ASSERT_TRUE(QDir().mkpath(root + QStringLiteral("/a/b")));
    ASSERT_TRUE(QFile::link(root + QStringLiteral("/a/b"), root + QStringLiteral("/link")));
    QString real;
    EXPECT_EQ(CanonicalPath(root + QStringLiteral("/link/../b/./"), real), 0);
    EXPECT_EQ(real, root + QStringLiteral("/a/b"));
    EXPECT_NE(CanonicalPath(root + QStringLiteral("/missing/x"), real), 0);

    struct Case {
        const char* path;
        const char* root;
        bool below;
    } cases[] = {
        {"/a/b", "/a", true},
        {"/a", "/a", true},
        {"/ab", "/a", false},
        {"/a/b", "/a/", true},
        {"/x", "/", true},
        {"/a", "", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(IsSameOrBelow(QString::fromUtf8(c.path), QString::fromUtf8(c.root)), c.below) << c.path;
}

} // namespace
