// A scripted SMTP server's dialogue up to the end of one mail's data: greeting, EHLO
// offering AUTH LOGIN (no PIPELINING), the login, and one mail up to its final ".". The
// test goes on with the reply to the data.
#pragma once

#include "FakeServer.h"

inline fake::FakeServer& OneMailTaken(fake::FakeServer& srv) {
    return srv.SendLine("220 fake ESMTP")
        .Reply("EHLO *", "250-fake\r\n250 AUTH LOGIN")
        .Reply("AUTH LOGIN", "334 VXNlcm5hbWU6")
        .Reply("*", "334 UGFzc3dvcmQ6")
        .Reply("*", "235 2.7.0 ok")
        .Reply("RSET", "250 ok")
        .Reply("MAIL FROM*", "250 ok")
        .Reply("RCPT TO*", "250 ok")
        .Reply("DATA", "354 go on")
        .ReadUntil(".");
}
