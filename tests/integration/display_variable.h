#pragma once

#include <cstdlib>
#include <string>

namespace native_worker::integration {

// DISPLAY names another server for as long as it lives.
class DisplayVariable {
public:
    explicit DisplayVariable(const std::string& name) : saved_(std::getenv("DISPLAY") ? std::getenv("DISPLAY") : "") {
        setenv("DISPLAY", name.c_str(), 1);
    }
    ~DisplayVariable() { setenv("DISPLAY", saved_.c_str(), 1); }
    DisplayVariable(const DisplayVariable&) = delete;
    DisplayVariable& operator=(const DisplayVariable&) = delete;

private:
    std::string saved_;
};

}  // namespace native_worker::integration
