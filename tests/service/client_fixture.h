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

/// A client with its own stores in a temporary home, pointed at the given base URLs.
struct ClientStores {
    TempHome home;
    bool foldersReady = [this] {
        std::filesystem::create_directories(home.documents());
        std::filesystem::create_directories(home.dataHome() / "quillora");
        return true;
    }();
    DatabaseManager database{[this] { return home.dataHome() / "quillora"; }};
    UserManager users{home.documents() / "kestrunepublic.db"};
};

struct Client : ClientStores {
    NetworkService service;
    Client(const std::string& apiURL, const std::string& taskURL)
        : service(ServiceEndpoints{apiURL, taskURL}, database, users) {}
    explicit Client(const std::string& url) : Client(url, url) {}
};

/// Base of the suites whose client talks to a scripted stub server; with a scratch folder.
class StubClientTest : public ::testing::Test {
  protected:
    StubServer stub;
    Client client{stub.baseURL()};
    TempDir dir;
};

}  // namespace quillora::testing
