// zorbelu roots and zorbelu services, run as a person runs them.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <string>

#include "roots/roots_support.h"

namespace {

using namespace zorbelu::test;

struct CliRun {
    int exitStatus;
    std::string output;
};

CliRun Zorbelu(const std::string& arguments) {
    const std::string command = std::string(ZORBELU_CLI) + " " + arguments + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return {-1, ""};
    std::string output;
    std::array<char, 4096> buffer{};
    size_t read = 0;
    while ((read = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) output.append(buffer.data(), read);
    const int status = pclose(pipe);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

using roots_Cli = RootStoreTest;

TEST_F(roots_Cli, AddTestAndServicesOnAFreshStore) {
    setenv("ZORBELU_ROOT_CONFIRM", "yes", 1);
    const struct {
        const char* arguments;
        int exitStatus;
        const char* expected;
    } steps[] = {
        {"services --json", 0, "{\"number\": 0, \"name\": \"Kovra Time-Stamp Service 3161\""},
        {"roots test 0", 1, "2701 not installed"},
        {"roots add 0", 0, "1 done"},
        {"roots add 0", 0, "2700 nothing to do"},
        {"roots test 0", 0, "2700 installed"},
        {"roots test 0 --json", 0, "{\"operation\": \"test\", \"service\": 0, \"result\": 2700, "},
        {"services --json", 0, "\"rootsInstalled\": true, \"rootsResult\": 2700}"},
        {"services", 0, "roots  installed"},
        {"roots delete 3", 3, "1001 wrong argument"},
        {"roots delete 2 --json", 1, "\"result\": 2701, \"message\": \"nothing to delete"},
        {"roots delete 0", 0, "1 done"},
        {"roots frob 0", 2, "add, test or delete"},
        {"roots add", 2, "service number"},
        {"roots delete --token x", 2, "not a token"},
    };
    for (const auto& step : steps) {
        const CliRun run = Zorbelu(step.arguments);
        EXPECT_EQ(run.exitStatus, step.exitStatus) << step.arguments << "\n" << run.output;
        EXPECT_NE(run.output.find(step.expected), std::string::npos) << step.arguments << "\n" << run.output;
    }
    // Services 1 to 4 were never installed; 3 and 4 share root 1011 and went
    // with the delete of service 0.
    const CliRun services = Zorbelu("services --json");
    EXPECT_EQ(services.output.find("\"rootsInstalled\": true"), std::string::npos) << services.output;
}

TEST_F(roots_Cli, ATokenNamesItsService) {
    setenv("ZORBELU_ROOT_CONFIRM", "yes", 1);
    const std::string token = TokenIssuedUnder(1012, "0.2.440.731859.100.200.100");
    const std::filesystem::path file = dir_.path() / "token.tst";
    {
        std::ofstream out(file, std::ios::binary);
        out.write(token.data(), static_cast<std::streamsize>(token.size()));
    }
    CliRun run = Zorbelu("roots add --token " + file.string());
    EXPECT_EQ(run.exitStatus, 0) << run.output;
    EXPECT_NE(run.output.find("service 1 (KOVRA Time Stamp Service Type-Open-K)\n1 done"), std::string::npos)
        << run.output;
    run = Zorbelu("roots test --json --token " + file.string());
    EXPECT_NE(run.output.find("\"service\": 1, \"token\": "), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("\"result\": 2700"), std::string::npos) << run.output;
    EXPECT_EQ(StoreIds(root()), (std::vector<uint32_t>{1012}));
}

TEST_F(roots_Cli, ADeclinedRootIsExplained) {
    const CliRun run = Zorbelu("roots add 1");
    EXPECT_EQ(run.exitStatus, 1) << run.output;
    EXPECT_NE(run.output.find("2702 declined"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("ZORBELU_ROOT_CONFIRM=yes"), std::string::npos) << run.output;
}

}  // namespace
