// Driving a protocol client against TFuzzServer: the client settings every protocol target
// uses, and the rule for what a step may raise.
//
// A hostile server may make any step fail, but only with the client's own errors
// (EIdException and its kinds, EIdMessageException from the message parser): those are the
// clear errors the user sees. Anything else escaping a step - std::out_of_range from a
// substr, std::length_error, std::bad_alloc, a std::invalid_argument from a number
// conversion - is a fault in the reader and aborts, so the fuzzer records it. So does a
// read time-out: the server has always closed its side, so a client that waits for one is
// stuck.
//
// With TAVREL_FUZZ_TRACE set in the environment every step prints how it ended (to check
// that a seed gets through the whole dialogue).
#pragma once

#include "FuzzServer.h"
#include "IdTCPConnection.h"
#include "MimeError.h"
#include "SocketError.h"

#include <cstdio>
#include <cstdlib>
#include <exception>

namespace fuzzsession {

// Loopback, the server of this process, short waits.
inline void Setup(TIdTCPConnection& client, const TFuzzServer& server) {
    client.Host = "127.0.0.1";
    client.Port = server.Port();
    client.Username = "user1";
    client.Password = "secret pass";
    client.ConnectTimeout = 2000;
    client.ReadTimeout = 2000;
}

[[noreturn]] inline void Fault(const char* kind, const char* what) {
    std::fprintf(stderr, "fuzz: a client step raised %s: %s\n", kind, what);
    std::abort();
}

inline void Trace(const char* name, const char* outcome) {
    static const bool on = std::getenv("TAVREL_FUZZ_TRACE") != nullptr;
    if (on) std::fprintf(stderr, "step %s: %s\n", name, outcome);
}

// Runs one step; true when the connection is still open afterwards, so the dialogue can go
// on with the next step.
template <class F>
bool Step(TIdTCPConnection& client, const char* name, F&& step) {
    try {
        step();
        Trace(name, "done");
    } catch (const EIdSocketError& e) {
        if (e.LastError == sockerr::kTimedOut) Fault("a time-out", e.what());
        Trace(name, e.what());
    } catch (const EIdException& e) {
        Trace(name, e.what());
    } catch (const EIdMessageException& e) {
        Trace(name, e.what());
    } catch (const std::exception& e) {
        Fault("a foreign exception", e.what());
    }
    return client.Connected();
}

}  // namespace fuzzsession
