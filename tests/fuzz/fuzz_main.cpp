// One libFuzzer target; FUZZ_CHECK names the check from FuzzChecks.h that it runs.
#include "FuzzChecks.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The OPML reader traces every attribute to standard output; libFuzzer reports on
    // standard error, so nothing is lost by sending the trace nowhere.
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null >= 0) {
        ::dup2(null, STDOUT_FILENO);
        ::close(null);
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));
    const QString problem = pellavo::fuzz::FUZZ_CHECK(input);
    if (!problem.isEmpty()) {
        std::fprintf(stderr, "%s: %s\n", PELLAVO_FUZZ_NAME, qPrintable(problem));
        std::abort();
    }
    return 0;
}
