#pragma once

#include <cstdlib>
#include <ctime>
#include <string>

namespace testing_support {

// Sets TZ for one test and puts the old zone back.
class ZoneScope {
public:
    explicit ZoneScope(const char* zone)
    {
        const char* old = std::getenv("TZ");
        m_had = old != nullptr;
        if (m_had)
            m_old = old;
        set(zone);
    }
    ~ZoneScope()
    {
        if (m_had)
            ::setenv("TZ", m_old.c_str(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
    }
    ZoneScope(const ZoneScope&) = delete;
    ZoneScope& operator=(const ZoneScope&) = delete;

    static void set(const char* zone)
    {
        ::setenv("TZ", zone, 1);
        ::tzset();
    }

private:
    bool m_had = false;
    std::string m_old;
};

} // namespace testing_support
