// The help for a program called "./hardware_e2e", written out by hand from
// the layout rules: rows padded to 24 columns or wrapped when as long (the
// wrapped rows keep the space after the option name), descriptions refilled
// to 54 columns, stored empty lines gone.
#pragma once

#include <string_view>

namespace harness::testing {

inline constexpr std::string_view expected_help = R"(Usage: ./hardware_e2e [OPTIONS] [FILTERS...]

Options:
        --include-ignored 
                        Run ignored and not ignored tests
        --ignored       Run only ignored tests
        --force-run-in-process 
                        Forces tests to run in-process when panic=abort
        --exclude-should-panic 
                        Excludes tests marked as should_panic
        --test          Run tests and not benchmarks
        --bench         Run benchmarks instead of tests
        --list          List all tests and benchmarks
        --fail-fast     Don't start new tests after the first failure
    -h, --help          Display this message
        --logfile PATH  Write logs to the specified file (deprecated)
        --no-capture    don't capture stdout/stderr of each task, allow
                        printing directly
        --test-threads n_threads
                        Number of threads used for running tests in parallel
        --skip FILTER   Skip tests whose names contain FILTER (this flag can
                        be used multiple times)
    -q, --quiet         Display one character per test instead of one line.
                        Alias to --format=terse
        --exact         Exactly match filters rather than by substring
        --color auto|always|never
                        Configure coloring of output:
                        auto = colorize if stdout is a tty and tests are run
                        on serially (default);
                        always = always colorize output;
                        never = never colorize output;
        --format pretty|terse|json|junit
                        Configure formatting of output:
                        pretty = Print verbose output;
                        terse = Display one character per test;
                        json = Output a json document;
                        junit = Output a JUnit document
        --show-output   Show captured stdout of successful tests
    -Z unstable-options Enable nightly-only flags:
                        unstable-options = Allow use of experimental features
        --report-time   Show execution time of each test.
                        Threshold values for colored output can be set per
                        test kind through the environment variables
                        `ZLU_TEST_TIME_UNIT`, `ZLU_TEST_TIME_INTEGRATION` and
                        `ZLU_TEST_TIME_DOCTEST`.
                        Each takes the form VARIABLE=WARN_TIME,CRITICAL_TIME
                        with both times in milliseconds: `500,2000` warns from
                        0.5 seconds and is critical from 2 seconds.
                        Not available for --format=terse
        --ensure-time   Treat excess of the test execution time limit as
                        error.
                        Threshold values for colored output can be set per
                        test kind through the environment variables
                        `ZLU_TEST_TIME_UNIT`, `ZLU_TEST_TIME_INTEGRATION` and
                        `ZLU_TEST_TIME_DOCTEST`.
                        Each takes the form VARIABLE=WARN_TIME,CRITICAL_TIME
                        with both times in milliseconds: `500,2000` warns from
                        0.5 seconds and is critical from 2 seconds.
                        The critical time is the limit: a test that runs for
                        it or longer fails.
        --shuffle       Run tests in random order
        --shuffle-seed SEED
                        Run tests in random order; seed the random number
                        generator with SEED

The FILTER string is tested against the name of all tests, and only those
tests whose names contain the filter are run. Multiple filter strings may
be passed, which will run all tests matching any of the filters.

By default, all tests are run in parallel. This can be altered with the
--test-threads flag when running tests (set it to 1).

By default, the tests are run in alphabetical order. Use --shuffle to run
the tests in random order. Pass the generated "shuffle seed" to
--shuffle-seed to run the tests in the same order again. Note that
--shuffle and --shuffle-seed do not affect whether the tests are run in
parallel.

All tests have their standard output and standard error captured by default.
This can be overridden with the --no-capture flag to a value other than "0".
Logging is not captured by default.

Test Attributes:

    TestDescAndFn{desc, testfn} - An entry of the test table marks testfn
        as a test named desc.name. The test passes when testfn returns and
        fails when it raises a failure.
    Benchmarks - The table has no kind of entry for them: --list counts
        them and --bench asks for them, but this harness never runs a
        benchmark as such; with --bench alone every selected test is
        reported as ignored.
    desc.should_panic = ShouldPanic{ShouldPanicKind::Yes} - The test passes
        only if it fails. ShouldPanic{ShouldPanicKind::YesWithMessage, text}
        also requires the failure message to contain text.
    desc.ignore = true - The test is not run, only reported as ignored
        (with desc.ignore_message, when set), unless --ignored or
        --include-ignored is given.
)";

}  // namespace harness::testing
