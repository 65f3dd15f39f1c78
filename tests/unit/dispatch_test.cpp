#include <gtest/gtest.h>

#include <string>

#include "request/dispatch.h"

namespace {

std::string g_ran;

TEST(Dispatch, RunsEveryRowWhoseSelectorIsTheWholeJobExactly) {
    const DispatchRow table[] = {
        {"ROOM", [] { g_ran += "room;"; }},
        {"ROOMX", [] { g_ran += "roomx;"; }},
        {"SET_ALLREAD", [] { g_ran += "allread;room;"; }},
    };
    g_ran.clear();
    EXPECT_EQ(run_dispatch("ROOM", table), 1);
    EXPECT_EQ(g_ran, "room;");
    g_ran.clear();
    EXPECT_EQ(run_dispatch("room", table), 0);
    EXPECT_EQ(run_dispatch("", table), 0);
    EXPECT_EQ(run_dispatch("ROO", table), 0);
    EXPECT_EQ(g_ran, "");
    EXPECT_EQ(run_dispatch("SET_ALLREAD", table), 1);
    EXPECT_EQ(g_ran, "allread;room;");
}

}  // namespace
