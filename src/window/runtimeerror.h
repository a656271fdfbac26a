#pragma once

#include <exception>
#include <stdexcept>
#include <string>

#include <QString>

// A failure inside an event handler, with the number the error report shows.
class RuntimeError : public std::runtime_error {
public:
    RuntimeError(int number, const std::string& description) : std::runtime_error(description), number_(number) {}
    int number() const { return number_; }

private:
    int number_;
};

namespace RuntimeErrorNumber {
inline constexpr int Internal = 1;
inline constexpr int OutOfMemory = 2;
}

// The report text for the exception being handled; call only inside a catch.
QString describeCurrentException();
