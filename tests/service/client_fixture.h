#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "server/test_platform.h"
#include "service/network_service.h"
#include "service/stub_server.h"
#include "store/database_manager.h"
#include "store/user_manager.h"
#include "support/temp_home.h"

namespace quillora::testing {

/// A client with its own stores in a temporary home, pointed at one base URL for both hosts.
struct Client {
    TempHome home;
    bool foldersReady = [this] {
        std::filesystem::create_directories(home.documents());
        std::filesystem::create_directories(home.dataHome() / "quillora");
        return true;
    }();
    DatabaseManager database{[this] { return home.dataHome() / "quillora"; }};
    UserManager users{home.documents() / "kestrunepublic.db"};
    NetworkService service;
    explicit Client(const std::string& url)
        : service(ServiceEndpoints{url, url}, database, users) {}
};

/// Base of the suites whose client talks to a scripted stub server; with a scratch folder.
class StubClientTest : public ::testing::Test {
  protected:
    StubServer stub;
    Client client{stub.baseURL()};
    TempDir dir;
};

}  // namespace quillora::testing
