// Test helpers for driving the module through its exported entry points with
// stand-in host sessions.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "module/ISessionMod.h"
#include "standin/pktcore/StandinSession.h"
#include "standin/tarnbase/StandinDatabase.h"
#include "support/test_log_support.h"

namespace sapp::testing {

// Bytes from hex with optional spaces: "01 00 00 00".
inline std::string bytes(const std::string& hex) {
    std::string out;
    std::string digits;
    for (char c : hex) {
        if (c == ' ') continue;
        digits.push_back(c);
        if (digits.size() == 2) {
            out.push_back(static_cast<char>(std::stoi(digits, nullptr, 16)));
            digits.clear();
        }
    }
    return out;
}

// A session event of the given code with every other field zero.
inline protocol::session::SessionEvent sessionEvent(int32_t type) {
    protocol::session::SessionEvent event;
    event.type = type;
    return event;
}

// Resets the stand-in log and databases before a test and makes sure the
// module singleton is gone after it, whatever the test left behind.
class ModuleTest : public ::testing::Test {
protected:
    void SetUp() override {
        standin::resetLog();
        standin::removeAllDatabases();
    }
    void TearDown() override {
        for (uint32_t sid : m_opened) {
            getModule(nullptr)->onLeave(sid);
            releaseModule(sid);
        }
        standin::removeAllDatabases();
        standin::resetLog();
    }

    // A session that lives until after teardown, so the module may still
    // reach it while the test's sessions are left.
    standin::Session& makeSession(uint32_t sid) {
        m_sessions.push_back(std::make_unique<standin::Session>(sid));
        return *m_sessions.back();
    }

    // getModule with `session`, remembering its sid for teardown.
    ISessionMod* open(standin::Session& session) {
        m_opened.push_back(session.getSid());
        return getModule(&session);
    }
    // Forget a sid the test has released itself.
    void closed(uint32_t sid) { std::erase(m_opened, sid); }

    static std::vector<std::string> logs() { return loggedTexts(); }
    static void clearLogs() { standin::clearLogRecords(); }

private:
    std::vector<std::unique_ptr<standin::Session>> m_sessions;
    std::vector<uint32_t> m_opened;
};

// Session 1234 opened through getModule; the records of opening it are
// cleared before the test body runs.
class OpenSessionTest : public ModuleTest {
protected:
    void SetUp() override {
        ModuleTest::SetUp();
        prepareHost();
        module = open(session);
        clearRecords();
    }
    // Host state the session must find when it is opened (databases, ...).
    virtual void prepareHost() {}
    // Forgets the log lines and session entries recorded so far.
    void clearRecords() {
        clearLogs();
        session.clearEntries();
    }

    standin::Session session{1234};
    ISessionMod* module = nullptr;
};

}  // namespace sapp::testing
