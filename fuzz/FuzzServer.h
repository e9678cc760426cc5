// The server side of the protocol fuzz targets: a loopback TCP server that answers one
// connection at a time with the bytes of one fuzz input.
//
//   static TFuzzServer server;             // listens on 127.0.0.1, ephemeral port
//   server.Play(data, size);                // the next connection gets exactly these bytes
//   { TIdPOP3 pop; pop.Host = "127.0.0.1"; pop.Port = server.Port(); ... }
//   server.Wait();                          // that connection is over
//
// Per connection the server writes the bytes (reading and dropping what the client sends
// meanwhile, so neither side can block the other), then ends its side (FIN), so the
// client meets the end of the input as "the server closed the connection", and reads on
// until the client closes. The client's reads therefore never have to wait for a time-out:
// a client that still times out is stuck on something other than the input.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

class TFuzzServer {
public:
    TFuzzServer();
    ~TFuzzServer();
    TFuzzServer(const TFuzzServer&) = delete;
    TFuzzServer& operator=(const TFuzzServer&) = delete;

    uint16_t Port() const { return port_; }
    // The script of the next connection.
    void Play(const uint8_t* data, std::size_t size);
    // Waits until the connection that got the script is closed. Aborts (a harness fault, not
    // a finding in the client) when no connection came within a few seconds.
    void Wait();

private:
    void Run();
    void Serve(int fd, const std::string& script);

    int listen_ = -1;
    uint16_t port_ = 0;
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable cond_;
    std::string script_;
    bool armed_ = false;  // a script waits for its connection
    bool done_ = false;   // the connection of the script is over
    bool stop_ = false;
};
