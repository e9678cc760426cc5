#pragma once
#include <stdexcept>
#include <string>

// Error raised by the message object and the MIME coder: what() is the text shown to the
// user ("Attachment %s is blocked.", a file error, "Message parts cannot be used ...").
class EIdMessageException : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};
