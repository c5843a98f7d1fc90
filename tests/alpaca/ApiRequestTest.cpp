#include "alpaca/ApiRequest.h"

#include <gtest/gtest.h>

namespace {

constexpr const char kBase[] = "/api/v1/focuser/0/";

struct Case {
    const char* what;
    const char* member;
    Verb verb;
    Parameters parameters;  // the query for GET, the form for PUT
    bool accepted;
    uint32_t clientId;
    uint32_t transaction;
};

TEST(ApiRequest, ProtocolRules) {
    const Case cases[] = {
        {"plain read", "position", Verb::Get, {}, true, 0, 0},
        {"IDs echoed", "position", Verb::Get, {{"ClientID", "7"}, {"ClientTransactionID", "9"}}, true, 7, 9},
        {"query names in any case", "position", Verb::Get, {{"clientid", "7"}, {"CLIENTTRANSACTIONID", "9"}}, true, 7, 9},
        {"extra parameter ignored", "name", Verb::Get, {{"ExtraParameter", "x"}}, true, 0, 0},
        {"largest ID", "name", Verb::Get, {{"ClientTransactionID", "4294967295"}}, true, 0, 4294967295u},
        {"ID past 32 bits", "name", Verb::Get, {{"ClientTransactionID", "4294967296"}}, false, 0, 0},
        {"empty ID", "name", Verb::Get, {{"ClientID", ""}}, false, 0, 0},
        {"blank ID", "name", Verb::Get, {{"ClientID", " "}}, false, 0, 0},
        {"negative ID", "name", Verb::Get, {{"ClientTransactionID", "-67890"}}, false, 0, 0},
        {"word for ID", "name", Verb::Get, {{"ClientID", "NASDAQ"}}, false, 0, 0},
        {"PUT IDs", "halt", Verb::Put, {{"ClientID", "3"}, {"ClientTransactionID", "4"}}, true, 3, 4},
        {"PUT lower-case transaction ID counts as absent", "halt", Verb::Put, {{"clienttransactionid", "4"}}, true, 0, 0},
        {"PUT lower-case client ID still counts", "halt", Verb::Put, {{"clientid", "3"}}, true, 3, 0},
        {"PUT bad ID", "halt", Verb::Put, {{"ClientID", "-1"}}, false, 0, 0},
        {"move", "move", Verb::Put, {{"Position", "1000"}}, true, 0, 0},
        {"move below zero is the device's business", "move", Verb::Put, {{"Position", "-10"}}, true, 0, 0},
        {"move field cased otherwise", "move", Verb::Put, {{"pOSITION", "1000"}}, false, 0, 0},
        {"move without a target", "move", Verb::Put, {}, false, 0, 0},
        {"move to a word", "move", Verb::Put, {{"Position", "abc"}}, false, 0, 0},
        {"move past 32 bits", "move", Verb::Put, {{"Position", "2147483648"}}, false, 0, 0},
        {"move to a fraction", "move", Verb::Put, {{"Position", "1.5"}}, false, 0, 0},
        {"connected True", "connected", Verb::Put, {{"Connected", "True"}}, true, 0, 0},
        {"connected maybe", "connected", Verb::Put, {{"Connected", "maybe"}}, false, 0, 0},
        {"connected empty", "connected", Verb::Put, {{"Connected", ""}}, false, 0, 0},
        {"connected number", "connected", Verb::Put, {{"Connected", "123456"}}, false, 0, 0},
        {"tempcomp field cased otherwise", "tempcomp", Verb::Put, {{"tEMPcOMP", "false"}}, false, 0, 0},
        {"commandblind without Raw", "commandblind", Verb::Put, {{"Command", "x"}}, false, 0, 0},
        {"action", "action", Verb::Put, {{"Action", "x"}, {"Parameters", ""}}, true, 0, 0},
        {"read as PUT", "position", Verb::Put, {}, false, 0, 0},
        {"write as GET", "move", Verb::Get, {{"Position", "1"}}, false, 0, 0},
        {"POST", "connected", Verb::Other, {{"Connected", "true"}}, false, 0, 0},
        {"unknown member", "descrip", Verb::Get, {}, false, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Parameters none;
        ApiCall call;
        std::string reason;
        const bool get = c.verb == Verb::Get;
        const bool accepted = ApiRequest::Parse(std::string(kBase) + c.member, c.verb,
                                                get ? c.parameters : none,
                                                get ? none : c.parameters, call, reason);
        EXPECT_EQ(accepted, c.accepted) << reason;
        EXPECT_EQ(accepted, reason.empty());
        if (!accepted || !c.accepted) continue;
        EXPECT_EQ(call.clientId, c.clientId);
        EXPECT_EQ(call.clientTransactionId, c.transaction);
    }
}

TEST(ApiRequest, OnlyTheFocuserZeroIsServed) {
    for (const char* path : {"/api/v1/FOCUSER/0/description", "/api/v1/baddevicetype/0/name",
                             "/api/v1/focuser/-1/name", "/api/v1/focuser/99999/name",
                             "/api/v1/focuser/A/name", "/api/v2/focuser/0/name",
                             "/api/v1/focuser/0/Name", "/api/v1/focuser/0/"}) {
        ApiCall call;
        std::string reason;
        EXPECT_FALSE(ApiRequest::Parse(path, Verb::Get, {}, {}, call, reason)) << path;
    }
}

TEST(ApiRequest, ValuesReachTheCall) {
    ApiCall call;
    std::string reason;
    ASSERT_TRUE(ApiRequest::Parse("/api/v1/focuser/0/move", Verb::Put, {},
                                  {{"Position", "-2147483648"}}, call, reason));
    EXPECT_EQ(call.member, Member::Move);
    EXPECT_EQ(call.position, INT32_MIN);
    // A PUT reads its body only; the query string is not looked at.
    EXPECT_FALSE(ApiRequest::Parse("/api/v1/focuser/0/move", Verb::Put, {{"Position", "5"}}, {},
                                   call, reason));
    for (const char* text : {"true", "True", "TRUE", "tRuE"}) {
        ASSERT_TRUE(ApiRequest::Parse("/api/v1/focuser/0/connected", Verb::Put, {},
                                      {{"Connected", text}}, call, reason));
        EXPECT_TRUE(call.flag) << text;
    }
    ASSERT_TRUE(ApiRequest::Parse("/api/v1/focuser/0/connected", Verb::Put, {},
                                  {{"Connected", "FALSE"}, {"Connected", "true"}}, call, reason));
    EXPECT_FALSE(call.flag) << "the first of a repeated field counts";
}

}  // namespace
