// The resource compiler refuses scripts it cannot compile faithfully, naming the fault.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct RcRun {
    int status;
    std::string errors;
};

RcRun Compile(const std::string& dir, const std::string& script) {
    std::ofstream(dir + "/t.rc", std::ios::binary) << script;
    std::ofstream(dir + "/data.bin") << "x";
    std::string cmd = std::string(KESTRIN_PYTHON) + " " + PROJECT_SOURCE_DIR + "/tools/rc/kestrin_rc.py " +
                      dir + "/t.rc -o " + dir + "/t.cpp 2>" + dir + "/err.txt";
    int status = std::system(cmd.c_str());
    std::ifstream f(dir + "/err.txt");
    std::stringstream ss;
    ss << f.rdbuf();
    return {status, ss.str()};
}

TEST(ResourceCompiler, RefusesFaultyScripts) {
    char tmpl[] = "/tmp/module_rc_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    std::string dir = tmpl;
    struct Case {
        const char* script;
        const char* message;
    } cases[] = {
        {"1 MYDATA \"missing.bin\"\n", "cannot read"},
        {"STRINGTABLE BEGIN 5 \"a\" 5 \"b\" END\n", "duplicate string id 5"},
        {"1 MYDATA \"data.bin\"\n1 mydata \"data.bin\"\n", "duplicate resource"},
        {"STRINGTABLE BEGIN 5 \"open\nEND\n", "unterminated string"},
        {"1 MYDATA BEGIN \"\xF0\x9F\x98\x80\" END\n", "not in the ANSI code page"},
        {"1 MENUEX BEGIN END\n", "not supported"},
        {"1 DIALOGEX 0, 0, 10, 10\nBEGIN\n LTEXT \"a\", 1, 2, 3\nEND\n", "not a number"},
        {"1 DIALOG 0, 0, 10, 10\nBEGIN\n SLIDER 1, 2, 3, 4, 5\nEND\n", "control expected"},
        {"STRINGTABLE BEGIN 5 \"a\"\n", "unexpected end"},
        {"1 MENU BEGIN MENUITEM \"x\", NOTDEFINED END\n", "not a number"},
        {"/* open comment\n", "unterminated comment"},
    };
    for (const Case& c : cases) {
        RcRun r = Compile(dir, c.script);
        EXPECT_NE(r.status, 0) << c.script;
        EXPECT_NE(r.errors.find(c.message), std::string::npos) << c.script << " gave: " << r.errors;
        EXPECT_NE(access((dir + "/t.cpp").c_str(), F_OK), 0) << "no output after a fault: " << c.script;
    }
    RcRun ok = Compile(dir, "#define ID 7 // the id\n/* a\n comment */ ID MYDATA \"data.bin\"\n");
    EXPECT_EQ(ok.status, 0) << ok.errors;
    std::ifstream f(dir + "/t.cpp");
    std::stringstream ss;
    ss << f.rdbuf();
    EXPECT_NE(ss.str().find("{\"MYDATA\", 0, nullptr, 7, 0, kData0, 1}"), std::string::npos) << ss.str();

    // Data files are looked for beside the script first, then in the -I folders.
    ASSERT_EQ(mkdir((dir + "/gen").c_str(), 0755), 0);
    std::ofstream(dir + "/gen/made.pak") << "pak";
    std::ofstream(dir + "/t.rc") << "151 MYDATA \"made.pak\"\n";
    std::string cmd = std::string(KESTRIN_PYTHON) + " " + PROJECT_SOURCE_DIR + "/tools/rc/kestrin_rc.py " +
                      dir + "/t.rc -o " + dir + "/t2.cpp -I " + dir + "/gen 2>/dev/null";
    EXPECT_EQ(std::system(cmd.c_str()), 0);
    std::ifstream f2(dir + "/t2.cpp");
    std::stringstream ss2;
    ss2 << f2.rdbuf();
    EXPECT_NE(ss2.str().find("{112,97,107}"), std::string::npos) << ss2.str();
    std::system(("rm -rf " + dir).c_str());
}

} // namespace
