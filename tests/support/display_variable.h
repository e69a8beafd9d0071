#pragma once

#include <cstdlib>
#include <optional>
#include <string>

namespace native_worker::testing {

// DISPLAY names another server for as long as it lives.
class DisplayVariable {
public:
    explicit DisplayVariable(const std::string& name) {
        if (const char* current = std::getenv("DISPLAY")) saved_ = current;
        setenv("DISPLAY", name.c_str(), 1);
    }
    ~DisplayVariable() {
        if (saved_)
            setenv("DISPLAY", saved_->c_str(), 1);
        else
            unsetenv("DISPLAY");
    }
    DisplayVariable(const DisplayVariable&) = delete;
    DisplayVariable& operator=(const DisplayVariable&) = delete;

private:
    std::optional<std::string> saved_;
};

}  // namespace native_worker::testing
