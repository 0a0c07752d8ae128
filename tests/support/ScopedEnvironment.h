// An environment variable of the test process, which the hosts it starts inherit, set while
// the guard lives and cleared when it goes, also when the test fails midway.
#pragma once

#include <windows.h>

#include <string>

class ScopedEnvironmentVariable {
  public:
    ScopedEnvironmentVariable(const wchar_t* name, const wchar_t* value) : name_(name) {
        SetEnvironmentVariableW(name, value);
    }
    ~ScopedEnvironmentVariable() { SetEnvironmentVariableW(name_.c_str(), nullptr); }
    ScopedEnvironmentVariable(const ScopedEnvironmentVariable&) = delete;
    ScopedEnvironmentVariable& operator=(const ScopedEnvironmentVariable&) = delete;

  private:
    std::wstring name_;
};
