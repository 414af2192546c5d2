// Sets environment variables for the length of a scope and restores them
// afterwards ("NAME" alone unsets). Shared by the frame and platform tests.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <initializer_list>
#include <utility>

namespace kestest {

class ScopedEnv {
public:
    // A null value unsets the variable.
    ScopedEnv(std::initializer_list<std::pair<const char*, QString>> values)
    {
        for (const auto& [name, value] : values)
            Set(name, value);
    }
    ~ScopedEnv()
    {
        for (auto it = m_saved.crbegin(); it != m_saved.crend(); ++it) {
            if (it->wasSet)
                qputenv(it->name.constData(), it->value);
            else
                qunsetenv(it->name.constData());
        }
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

    void Set(const char* name, const QString& value)
    {
        m_saved.append({QByteArray(name), qEnvironmentVariableIsSet(name), qgetenv(name)});
        if (value.isNull())
            qunsetenv(name);
        else
            qputenv(name, value.toUtf8());
    }

private:
    struct Saved {
        QByteArray name;
        bool wasSet;
        QByteArray value;
    };
    QList<Saved> m_saved;
};

} // namespace kestest
