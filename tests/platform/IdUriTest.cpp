#include "platform/TIdURI.h"

#include <gtest/gtest.h>

namespace {

TEST(IdUri, Host) {
    const std::pair<const char*, const char*> table[] = {
        {"http://www.example.com/a/b.html", "www.example.com"},
        {"http://WWW.Example.COM/", "www.example.com"},
        {"https://host:8080/x?y=1", "host"},
        {"http://127.0.0.1:5000/p", "127.0.0.1"},
        {"http://user:pw@host/", "host"},
        {"http://host", "host"},
        {"www.example.com/a", ""}, // no scheme: no host
        {"", ""},
        {"mailto:a@b.c", ""},
    };
    for (auto [uri, host] : table) {
        SCOPED_TRACE(uri);
        EXPECT_EQ(TIdURI(uri).Host(), host);
    }
}

} // namespace
