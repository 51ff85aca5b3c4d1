// The settings store: a map from (section, key) to a number, behind a mutex.
#include "imagecore/registry.h"

#include <cmath>
#include <limits>
#include <map>
#include <mutex>
#include <string>
#include <utility>

#include "platform/nodestructor.h"

namespace {

struct Setting {
    bool isInt = true;
    int i = 0;
    double d = 0.0;
};

struct Store {
    std::mutex mutex;
    std::map<std::pair<std::wstring, std::wstring>, Setting> values;
};

Store& TheStore()
{
    static orbimg::platform::NoDestructor<Store> store;  // usable during exit
    return *store;
}

int ToInt(double d)
{
    if (std::isnan(d)) {
        return 0;
    }
    if (d >= static_cast<double>(std::numeric_limits<int>::max())) {
        return std::numeric_limits<int>::max();
    }
    if (d <= static_cast<double>(std::numeric_limits<int>::min())) {
        return std::numeric_limits<int>::min();
    }
    return static_cast<int>(d);
}

}  // namespace

int CRegistry::Read(const CString& section, const CString& key, int def, int* value, int /*flag*/)
{
    Store& s = TheStore();
    std::lock_guard<std::mutex> lock(s.mutex);
    auto it = s.values.find({section.str(), key.str()});
    int result = def;
    if (it != s.values.end()) {
        result = it->second.isInt ? it->second.i : ToInt(it->second.d);
    }
    if (value) {
        *value = result;
    }
    return it != s.values.end() ? 1 : 0;
}

int CRegistry::Read(const CString& section, const CString& key, double def, double* value)
{
    Store& s = TheStore();
    std::lock_guard<std::mutex> lock(s.mutex);
    auto it = s.values.find({section.str(), key.str()});
    double result = def;
    if (it != s.values.end()) {
        result = it->second.isInt ? static_cast<double>(it->second.i) : it->second.d;
    }
    if (value) {
        *value = result;
    }
    return it != s.values.end() ? 1 : 0;
}

void CRegistry::Write(const CString& section, const CString& key, int value)
{
    Store& s = TheStore();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.values[{section.str(), key.str()}] = Setting{true, value, 0.0};
}

void CRegistry::Write(const CString& section, const CString& key, double value)
{
    Store& s = TheStore();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.values[{section.str(), key.str()}] = Setting{false, 0, value};
}

void CRegistry::Clear()
{
    Store& s = TheStore();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.values.clear();
}
