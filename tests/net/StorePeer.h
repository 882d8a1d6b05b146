// The replacement store service as a test peer: one instance per test suite, on a free port of
// the loopback interface, ended with the suite.
#pragma once

#include "tests/support/PeerProcess.h"

#include <gtest/gtest.h>

#include <string>

template <typename TestBase = ::testing::Test> class WithStore : public TestBase {
protected:
    static void SetUpTestSuite() {
        s_store = new PeerProcess;
        ASSERT_TRUE(s_store->Start(
            {"python3", std::string(PROJECT_SOURCE_DIR) + "/tools/store/kestrin_store.py", "--watch-stdin"}));
    }
    static void TearDownTestSuite() {
        delete s_store;
        s_store = nullptr;
    }
    // "http://127.0.0.1:port", without a trailing slash.
    static std::string Base() { return "http://127.0.0.1:" + std::to_string(s_store->Port()); }

    static inline PeerProcess* s_store = nullptr;
};
