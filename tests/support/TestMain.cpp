// The main function of the test programs: GoogleTest's own, except that a
// failed or skipped check is printed only, not also sent to OutputDebugString.
// OutputDebugString reaches a debugger by raising an exception and catching
// it again; under QEMU, 32-bit Wine cannot resume after such a catch, so the
// first failed or skipped check would end a 32-bit test program and hide
// every later result.
#include <gtest/gtest.h>

#include <cstdio>

namespace {

// GoogleTest's printer for everything but the results of single checks.
class ResultPrinter : public testing::TestEventListener {
public:
    explicit ResultPrinter(testing::TestEventListener* printer) : m_printer(printer) {}
    ~ResultPrinter() override { delete m_printer; }
    ResultPrinter(const ResultPrinter&) = delete;
    ResultPrinter& operator=(const ResultPrinter&) = delete;

    void OnTestPartResult(const testing::TestPartResult& result) override {
        if (result.type() == testing::TestPartResult::kSuccess) return;
        const char* file = result.file_name() != nullptr ? result.file_name() : "unknown file";
        std::printf("%s:%d: %s\n%s\n", file, result.line_number(), result.skipped() ? "Skipped" : "Failure",
                    result.message());
        std::fflush(stdout);
    }

    void OnTestProgramStart(const testing::UnitTest& test) override { m_printer->OnTestProgramStart(test); }
    void OnTestIterationStart(const testing::UnitTest& test, int iteration) override {
        m_printer->OnTestIterationStart(test, iteration);
    }
    void OnEnvironmentsSetUpStart(const testing::UnitTest& test) override {
        m_printer->OnEnvironmentsSetUpStart(test);
    }
    void OnEnvironmentsSetUpEnd(const testing::UnitTest& test) override { m_printer->OnEnvironmentsSetUpEnd(test); }
    void OnTestSuiteStart(const testing::TestSuite& suite) override { m_printer->OnTestSuiteStart(suite); }
    void OnTestStart(const testing::TestInfo& info) override { m_printer->OnTestStart(info); }
    void OnTestEnd(const testing::TestInfo& info) override { m_printer->OnTestEnd(info); }
    void OnTestSuiteEnd(const testing::TestSuite& suite) override { m_printer->OnTestSuiteEnd(suite); }
    void OnEnvironmentsTearDownStart(const testing::UnitTest& test) override {
        m_printer->OnEnvironmentsTearDownStart(test);
    }
    void OnEnvironmentsTearDownEnd(const testing::UnitTest& test) override {
        m_printer->OnEnvironmentsTearDownEnd(test);
    }
    void OnTestIterationEnd(const testing::UnitTest& test, int iteration) override {
        m_printer->OnTestIterationEnd(test, iteration);
    }
    void OnTestProgramEnd(const testing::UnitTest& test) override { m_printer->OnTestProgramEnd(test); }

private:
    testing::TestEventListener* m_printer;
};

}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    testing::TestEventListeners& listeners = testing::UnitTest::GetInstance()->listeners();
    if (testing::TestEventListener* printer = listeners.default_result_printer()) {
        listeners.Release(printer);
        listeners.Append(new ResultPrinter(printer));
    }
    return RUN_ALL_TESTS();
}
