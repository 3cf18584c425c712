// The valtrove tool: outputs, exit statuses and messages.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "valuestore/core/value_store.h"
#include "valuestore/tests/support/temp_folder.h"

namespace vs {
namespace {

struct ToolResult {
    int status;
    std::string out, err;
};

std::string quoted(const std::string& word) {
    std::string q = "'";
    for (char c : word) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

class ValtroveTool : public ::testing::Test {
protected:
    // With `unprivileged`, as an ordinary user (nobody) when the test runs as root, so that file
    // permissions bind.
    ToolResult run(const std::vector<std::string>& args, bool unprivileged = false) {
        std::string command = quoted(std::string(QZ_BUILD_DIR) + "/valtrove");
        if (unprivileged && ::geteuid() == 0) command = "setpriv --reuid=65534 --regid=65534 --clear-groups " + command;
        for (const std::string& a : args) command += " " + quoted(a);
        const std::string errFile = folder.file("stderr");
        command += " 2>" + quoted(errFile);
        ToolResult result;
        FILE* pipe = ::popen(command.c_str(), "r");
        char buffer[4096];
        for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) result.out.append(buffer, n);
        const int status = ::pclose(pipe);
        result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        result.err = test::readBytes(errFile);
        std::remove(errFile.c_str());
        return result;
    }
    ToolResult on(const std::vector<std::string>& args, bool unprivileged = false) {
        std::vector<std::string> all{file};
        all.insert(all.end(), args.begin(), args.end());
        return run(all, unprivileged);
    }

    test::TempFolder folder;
    std::string file = folder.file("values.txt");
};

TEST_F(ValtroveTool, ListGetAddRewriteRemoveClear) {
    ToolResult r = on({"list"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, ""); // the missing file gets the default content, not read back
    EXPECT_EQ(test::readBytes(file), kDefaultFileContent);
    EXPECT_EQ(on({"list"}).out, "NULL\t0\n");

    EXPECT_EQ(on({"add", "Speed", "12"}).status, 0);
    EXPECT_EQ(on({"add", "Mode", "auto"}).status, 0);
    EXPECT_EQ(on({"rewrite", "Speed", "15"}).status, 0);
    EXPECT_EQ(on({"list"}).out, "NULL\t0\nSpeed\t15\nMode\tauto\n");
    r = on({"get", "speed"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "15\n");
    EXPECT_EQ(on({"remove", "Speed"}).status, 0);
    EXPECT_EQ(test::readBytes(file),
              "\"<BEGINVALUEDECLARE>(NULL)(Mode)<ENDVALUEDECLARE>\"\r\n\"NULL (0)  Mode (auto) \"\r\n");
    EXPECT_EQ(on({"add", "Mode", "manual", "--rewrite"}).status, 0);
    EXPECT_EQ(on({"get", "Mode"}).out, "manual\n");
    EXPECT_EQ(on({"clear"}).status, 0);
    EXPECT_EQ(test::readBytes(file), kDefaultFileContent);
}

TEST_F(ValtroveTool, RefusalsHaveTheirOwnStatus) {
    on({"list"});
    const std::string before = test::readBytes(file);
    ToolResult r = on({"add", "NUL", "1"});
    EXPECT_EQ(r.status, 4);
    EXPECT_NE(r.err.find("Error, Ambiguous or Semi-Ambiguous Value Name"), std::string::npos) << r.err;
    EXPECT_EQ(on({"add", "NU", "1", "--rewrite"}).status, 4);
    r = on({"add", "a(b", "1"});
    EXPECT_EQ(r.status, 5);
    EXPECT_NE(r.err.find("'('"), std::string::npos) << r.err;
    EXPECT_EQ(on({"add", "ok", "x)"}).status, 5);
    EXPECT_EQ(test::readBytes(file), before);

    r = on({"get", "Nothing"});
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(on({"rewrite", "Nothing", "1"}).status, 3);
    EXPECT_EQ(on({"remove", "Nothing"}).status, 3);
    EXPECT_EQ(on({"remove", ""}).status, 5);
    EXPECT_EQ(test::readBytes(file), before);
}

// A file that cannot be read whole (a trailing blank line) or at all (no read permission) is never
// replaced: every command fails with the file error, naming the file, and the bytes stay.
TEST_F(ValtroveTool, FilesThatCannotBeReadWholeAreNeverReplaced) {
    const std::string whole = "\"<BEGINVALUEDECLARE>(NULL)(Speed)<ENDVALUEDECLARE>\"\r\n\"NULL (0)Speed (12) \"\r\n";
    ASSERT_EQ(::chmod(folder.path().c_str(), 0777), 0);
    for (const bool unreadable : {false, true}) {
        const std::string bytes = unreadable ? whole : whole + "\r\n";
        test::writeBytes(file, bytes);
        if (unreadable) {
            ASSERT_EQ(::chmod(file.c_str(), 0), 0);
        }
        for (const std::vector<std::string>& command :
             std::vector<std::vector<std::string>>{{"list"},
                                                   {"add", "B", "1"},
                                                   {"rewrite", "Speed", "2"},
                                                   {"remove", "Speed"},
                                                   {"add", "Speed", "3", "--rewrite"}}) {
            const ToolResult r = on(command, unreadable);
            EXPECT_EQ(r.status, 6) << command[0] << ": " << r.err;
            EXPECT_NE(r.err.find(file), std::string::npos) << r.err;
        }
        ::chmod(file.c_str(), 0644);
        EXPECT_EQ(test::readBytes(file), bytes);
    }
}

TEST_F(ValtroveTool, FileErrorsAndUsage) {
    ToolResult r = run({folder.file("missing") + "/values.txt", "list"});
    EXPECT_EQ(r.status, 6);
    EXPECT_NE(r.err.find("Path not found"), std::string::npos) << r.err;
    EXPECT_EQ(run({folder.file("*.txt"), "add", "A", "1"}).status, 6);
    EXPECT_EQ(run({folder.path().string(), "clear"}).status, 6);
    EXPECT_EQ(folder.entries(), (std::set<std::string>{}));

    EXPECT_EQ(run({}).status, 2);
    EXPECT_EQ(on({"frobnicate"}).status, 2);
    EXPECT_EQ(on({"get"}).status, 2);
    EXPECT_EQ(on({"add", "A"}).status, 2);
    r = run({"--help"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("exit status"), std::string::npos);
    r = run({"--version"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "valtrove " QZ_PROJECT_VERSION "\n");
    // Every error message is one line.
    r = on({"add", "a\nb", "1"});
    EXPECT_EQ(r.status, 5);
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
}

} // namespace
} // namespace vs
