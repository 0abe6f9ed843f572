#pragma once
// The exception classes of the component layer. Pure C++: the protocol, the settings rules and
// the native tools may raise them too. The application's standard error display shows what().

#include <stdexcept>
#include <string>

class Exception : public std::runtime_error {
public:
    explicit Exception(const std::string& message) : std::runtime_error(message) {}
    std::string Message() const { return what(); }
};

// A text that is not a number where one is needed ("'abc' is not a valid integer value").
class EConvertError : public Exception {
public:
    using Exception::Exception;
};

// A settings file or registry write that the platform refused.
class EWriteError : public Exception {
public:
    using Exception::Exception;
};
