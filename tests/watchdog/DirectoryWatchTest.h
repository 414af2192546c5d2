// Shared fixture of the directory watcher tests: a temporary tree, a
// watcher on it and a recorder of everything the watcher emits.
#pragma once

#include "common/TestSupport.h"
#include "watchdog/DirectoryWatch.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <sstream>
#include <vector>

namespace kestest {

struct WatchRecord {
    kes::TWatchAction action;
    QString name;
    bool operator==(const WatchRecord&) const = default;
};

inline std::ostream& operator<<(std::ostream& os, const WatchRecord& r)
{
    static const char* const names[] = {"Added", "Removed", "Modified", "RenamedOld", "RenamedNew"};
    return os << names[r.action] << ' ' << r.name.toStdString();
}

class WatchRecorder {
public:
    explicit WatchRecorder(kes::TDirectoryWatch& watch)
    {
        QObject::connect(&watch, &kes::TDirectoryWatch::OnNotify, &watch,
            [this](kes::TDirectoryWatch*, int id, kes::TWatchAction action, const QString& name) {
                lastId = id;
                records.push_back({action, name});
            });
        QObject::connect(&watch, &kes::TDirectoryWatch::OnError, &watch,
            [this](
                kes::TDirectoryWatch*, int code, const QString& text) { errors.emplace_back(code, text); });
        QObject::connect(&watch, &kes::TDirectoryWatch::OnChange, &watch, [this] { ++changes; });
    }

    int IndexOf(const WatchRecord& r, std::size_t from = 0) const
    {
        for (std::size_t i = from; i < records.size(); ++i) {
            if (records[i] == r)
                return int(i);
        }
        return -1;
    }
    bool Has(const WatchRecord& r) const { return IndexOf(r) >= 0; }
    int Count(const WatchRecord& r) const { return int(std::count(records.begin(), records.end(), r)); }
    bool WaitFor(const WatchRecord& r)
    {
        return WaitUntil([&] { return Has(r); });
    }
    bool HasError(int code) const
    {
        for (const auto& e : errors) {
            if (e.first == code)
                return true;
        }
        return false;
    }
    QString ErrorText(int code) const
    {
        for (const auto& e : errors) {
            if (e.first == code)
                return e.second;
        }
        return {};
    }
    bool AnyNameContains(const QString& part) const
    {
        for (const auto& r : records) {
            if (r.name.contains(part))
                return true;
        }
        return false;
    }
    std::string Dump() const
    {
        std::string s;
        for (const auto& r : records) {
            std::ostringstream os;
            os << r << '\n';
            s += os.str();
        }
        return s;
    }

    std::vector<WatchRecord> records;
    std::vector<std::pair<int, QString>> errors;
    int changes = 0;
    int lastId = -1;
};

class DirectoryWatchTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(tmp.isValid());
        root = tmp.path() + QStringLiteral("/watched");
        ASSERT_TRUE(QDir().mkpath(root));
    }
    void TearDown() override
    {
        watch.reset(); // before the recorder its signals reach
        recorder.reset();
        // Qt cannot remove names that are not valid UTF-8; the byte-wise
        // removal can.
        std::error_code ignored;
        std::filesystem::remove_all(std::filesystem::path(tmp.path().toStdString()), ignored);
    }

    QString Path(const QString& rel) const { return root + QLatin1Char('/') + rel; }
    void Write(const QString& rel, const QByteArray& bytes = QByteArrayLiteral("x"))
    {
        WriteBytes(Path(rel), bytes);
    }
    void MakeDir(const QString& rel) { ASSERT_TRUE(QDir().mkpath(Path(rel))) << rel.toStdString(); }

    // A started watcher on root with a recorder.
    void StartWatch(kes::TWatchOptions options = kes::TWatchOptions::All(), bool subTree = true)
    {
        watch = std::make_unique<kes::TDirectoryWatch>(7);
        recorder = std::make_unique<WatchRecorder>(*watch);
        watch->SetDirectory(root);
        watch->SetWatchOptions(options);
        watch->SetWatchSubTree(subTree);
        watch->Start();
    }

    // Writes a marker file and waits for it: everything that happened
    // before has then been delivered, since the records arrive in order.
    void Sync()
    {
        const QString name = QStringLiteral("zz-marker-%1").arg(++markers);
        Write(name);
        ASSERT_TRUE(recorder->WaitFor({kes::waAdded, name})) << recorder->Dump();
    }

    QTemporaryDir tmp;
    QString root;
    std::unique_ptr<kes::TDirectoryWatch> watch;
    std::unique_ptr<WatchRecorder> recorder;
    int markers = 0;
};

} // namespace kestest
