// The store against both databases: a run written as it happens reads back
// as it happened, and the questions of the tool count what they should.
// Writers at once are tested with whole suites (hardware_e2e's history tests).
#include <fmt/format.h>
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

#include "scratch_store.hpp"
#include "zlu-history/src/location.hpp"
#include "zlu-history/src/postgres_database.hpp"
#include "zlu-history/src/queries.hpp"
#include "zlu-history/src/schema.hpp"
#include "zlu-history/src/sqlite_database.hpp"
#include "zlu-history/src/store.hpp"

namespace zlu_history_tests {
namespace {

using namespace zlu_history;

TEST(StoreLocation, NamesAFileOrAPostgresUrlAndRefusesAnythingElse) {
  struct Case {
    std::string value;
    std::optional<StoreLocation::Kind> kind;  // nullopt: refused
    std::string message_part;
  };
  const std::vector<Case> cases = {
      {"", std::nullopt, "ZLU_TEST_HISTORY=\"\": expected an SQLite file path"},
      {"history.db", StoreLocation::Kind::SqliteFile, ""},
      {"/var/x/y.sqlite", StoreLocation::Kind::SqliteFile, ""},
      {"://no-scheme", StoreLocation::Kind::SqliteFile, ""},
      {"1abc://digit-first", StoreLocation::Kind::SqliteFile, ""},
      {"postgresql://user@host/db", StoreLocation::Kind::Postgres, ""},
      {"POSTGRES://host/db", StoreLocation::Kind::Postgres, ""},
      {"postgresq://host/db", std::nullopt, "scheme \"postgresq\""},
      {"mysql://host/db", std::nullopt, "ZLU_TEST_HISTORY=mysql://host/db: a URL of scheme \"mysql\""},
      {"file:///tmp/h.db", std::nullopt, "scheme \"file\""},
      {"sqlite+file://h.db", std::nullopt, "scheme \"sqlite+file\""},
  };
  for (const auto& c : cases) {
    const auto location = parse_location(c.value, HISTORY_VARIABLE);
    if (c.kind) {
      ASSERT_TRUE(location.has_value()) << c.value << ": " << location.error();
      EXPECT_EQ(location->kind, *c.kind) << c.value;
      EXPECT_EQ(location->text, c.value);
    } else {
      ASSERT_FALSE(location.has_value()) << c.value;
      EXPECT_NE(location.error().find(c.message_part), std::string::npos) << location.error();
    }
  }
}

enum class Backend { Sqlite, Postgres };

class Store : public testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    if (GetParam() == Backend::Postgres) {
      server_ = std::make_unique<PostgresServer>();
      location_ = {StoreLocation::Kind::Postgres, server_->new_database_url()};
    } else {
      location_ = {StoreLocation::Kind::SqliteFile, (scratch_.path() / "history.db").string()};
    }
  }

  // A connection that leaves the schema as it finds it.
  std::unique_ptr<Database> connect() {
    auto db = GetParam() == Backend::Postgres ? open_postgres(location_.text)
                                              : open_sqlite(location_.text, CreateFile::Yes);
    if (!db) throw std::runtime_error(db.error());
    return std::move(*db);
  }

  std::unique_ptr<Database> open(Purpose purpose = Purpose::Record) {
    auto db = open_store(location_, purpose);
    if (!db) throw std::runtime_error(db.error());
    return std::move(*db);
  }

  static RunRecord run(std::string id, Micros started, std::string build = "gnu:01",
                       std::vector<std::string> planned = {}) {
    return RunRecord{.run_id = std::move(id),
                     .started = started,
                     .host = "host-a",
                     .build_id = std::move(build),
                     .arguments = {"--test-threads", "2"},
                     .partition = "",
                     .cards = "0-3",
                     .retries = 2,
                     .task = "",
                     .planned = std::move(planned)};
  }

  static AttemptRecord attempt(std::string_view test, std::int64_t try_number, Outcome outcome,
                               std::optional<std::int64_t> card = 0, Micros started = 1'000) {
    return AttemptRecord{.test = test,
                         .try_number = try_number,
                         .card = card,
                         .started = started + try_number,
                         .duration = 250'000,
                         .card_wait = 1'500,
                         .outcome = outcome,
                         .message = outcome == Outcome::Passed ? "" : "exit status: 1",
                         .measurements = R"({"cycles":{"span":42}})"};
  }

  StoreLocation location_;

 private:
  ScratchFolder scratch_;
  std::unique_ptr<PostgresServer> server_;
};

TEST_P(Store, ReadsARunBackAsItWasWrittenAndAKilledRunAsUnfinished) {
  {
    auto writer = RunWriter::begin(open(), run("aa01", 1'000, "gnu:01", {"pass", "fail", "flaky", "never"}));
    ASSERT_TRUE(writer.has_value()) << writer.error();
    for (const auto& a : {attempt("pass", 1, Outcome::Passed), attempt("fail", 1, Outcome::Failed, 1),
                          attempt("fail", 2, Outcome::TimedOut, 2), attempt("flaky", 1, Outcome::Failed, 3),
                          attempt("flaky", 2, Outcome::Passed, 0), attempt("flaky", 2, Outcome::Failed, 1)}) {
      ASSERT_TRUE(writer->record(a).has_value());
    }
    // The writer goes away without finishing, as a killed run's would.
  }
  {
    auto writer = RunWriter::begin(open(), run("bb02", 2'000, "gnu:01", {"pass"}));
    ASSERT_TRUE(writer->record(attempt("pass", 1, Outcome::Passed, std::nullopt)).has_value());
    ASSERT_TRUE(writer->finish(3'000, 0).has_value());
  }
  auto db = open(Purpose::Read);
  const auto runs = latest_runs(*db, 10);
  ASSERT_TRUE(runs.has_value()) << runs.error();
  ASSERT_EQ(runs->size(), 2u);
  EXPECT_EQ((*runs)[0].run_id, "bb02");
  EXPECT_EQ((*runs)[0].ended, std::optional<Micros>(3'000));
  EXPECT_EQ((*runs)[0].exit_status, std::optional<std::int64_t>(0));
  const RunSummary& killed = (*runs)[1];
  EXPECT_EQ(killed.ended, std::nullopt);
  EXPECT_EQ(killed.attempts, 5);  // the repeated try of "flaky" kept its first row
  EXPECT_EQ(killed.passed, 2);
  EXPECT_EQ(killed.failed, 1);
  EXPECT_EQ(killed.flaky, 1);
  EXPECT_EQ(killed.not_finished, 1);

  const auto attempts = attempts_of_run(*db, "aa01");
  ASSERT_TRUE(attempts.has_value()) << attempts.error();
  ASSERT_EQ(attempts->size(), 5u);
  // In start order; "fail" ran its second try after every first try.
  const StoredAttempt& timed_out = (*attempts)[3];
  EXPECT_EQ(timed_out.test, "fail");
  EXPECT_EQ(timed_out.try_number, 2);
  EXPECT_EQ(timed_out.card, std::optional<std::int64_t>(2));
  EXPECT_EQ(timed_out.card_wait, std::optional<Micros>(1'500));
  EXPECT_EQ(timed_out.outcome, "timed-out");
  EXPECT_EQ(timed_out.message, "exit status: 1");
  EXPECT_EQ(timed_out.host, "host-a");
  EXPECT_EQ(timed_out.measurements, R"({"cycles":{"span":42}})");
  EXPECT_EQ((*attempts_of_run(*db, "bb02"))[0].card, std::nullopt);

  const auto failed = not_passed(*db, killed);
  ASSERT_TRUE(failed.has_value());
  ASSERT_EQ(failed->size(), 2u);
  EXPECT_EQ((*failed)[0].test, "fail");
  EXPECT_EQ((*failed)[0].last_try->try_number, 2);
  EXPECT_EQ((*failed)[1].test, "never");
  EXPECT_FALSE((*failed)[1].last_try.has_value());

}

TEST_P(Store, NamesARunByItsIdOrAPrefixOfNoOtherRun) {
  // "b" is a prefix of the two later runs as well as their whole id.
  for (const auto& [id, started] : std::vector<std::pair<std::string, Micros>>{{"b", 1}, {"bb02", 2}, {"b9", 3}})
    ASSERT_TRUE(RunWriter::begin(open(), run(id, started)).has_value());
  auto db = open(Purpose::Read);
  struct Case {
    std::string id;
    std::string found;  // empty: refused
  };
  for (const auto& c : std::vector<Case>{{"b", "b"}, {"bb", "bb02"}, {"b9", "b9"}, {"b%", ""}, {"c", ""}, {"", ""}}) {
    const auto found = find_run(*db, c.id);
    EXPECT_EQ(found ? found->run_id : std::string(), c.found) << c.id;
  }
}

TEST_P(Store, FlakyIsPassedAndFailedOnOneBuildAndCardsCompareWithTheOthers) {
  auto writer = RunWriter::begin(open(), run("r1", 100, "gnu:A"));
  // "flaky" fails once on card 1 and passes on card 0; "broken" always
  // fails; "moved" fails on build A and passes on build B only.
  for (const auto& a : {attempt("flaky", 1, Outcome::Failed, 1, 100), attempt("flaky", 2, Outcome::Passed, 0, 100),
                        attempt("broken", 1, Outcome::Failed, 1, 100), attempt("moved", 1, Outcome::Failed, 0, 100),
                        attempt("old", 1, Outcome::Failed, 2, 10), attempt("old", 2, Outcome::Passed, 2, 10)})
    ASSERT_TRUE(writer->record(a).has_value());
  auto other_build = RunWriter::begin(open(), run("r2", 200, "gnu:B"));
  ASSERT_TRUE(other_build->record(attempt("moved", 1, Outcome::Passed, 0, 200)).has_value());

  auto db = open(Purpose::Read);
  const auto flaky = flaky_tests(*db, 50);
  ASSERT_TRUE(flaky.has_value()) << flaky.error();
  ASSERT_EQ(flaky->size(), 1u);  // "old" started before 50
  EXPECT_EQ((*flaky)[0].test, "flaky");
  EXPECT_EQ((*flaky)[0].build_id, "gnu:A");
  EXPECT_EQ((*flaky)[0].total.attempts, 2);
  EXPECT_EQ((*flaky)[0].total.failures, 1);
  const auto& on_card_1 = (*flaky)[0].by_host_card.at({"host-a", 1});
  EXPECT_EQ(on_card_1.failures, 1);
  EXPECT_EQ(on_card_1.attempts, 1);
  EXPECT_EQ(flaky_tests(*db, 0)->size(), 2u);

  const auto cards = card_failures(*db, 0);
  ASSERT_TRUE(cards.has_value()) << cards.error();
  ASSERT_EQ(cards->size(), 3u);
  // card 1: 2 of 2 failed; the others: 2 of 5 (cards 0 and 2).
  const auto& card_1 = (*cards)[1];
  EXPECT_EQ(card_1.card, 1);
  EXPECT_EQ(card_1.own.attempts, 2);
  EXPECT_EQ(card_1.own.failures, 2);
  EXPECT_EQ(card_1.others.attempts, 5);
  EXPECT_EQ(card_1.others.failures, 2);
}

TEST_P(Store, ATestsRecentPassesAreItsCardsInTheBuildsLatestRunsOnThisHost) {
  // The oldest run: "t" passed on cards 2 and 0 (a failure is no pass), "u"
  // on card 1 and "v" on no card.
  auto oldest = RunWriter::begin(open(), run("e", 100, "gnu:A"));
  for (const auto& a : {attempt("t", 1, Outcome::Passed, 2, 100), attempt("u", 1, Outcome::Failed, 3, 100),
                        attempt("u", 2, Outcome::Passed, 1, 100), attempt("t", 2, Outcome::Passed, 0, 100),
                        attempt("v", 1, Outcome::Passed, std::nullopt, 100)})
    ASSERT_TRUE(oldest->record(a).has_value());
  // Passes on another host and of another build do not count.
  RunRecord elsewhere = run("h", 150, "gnu:A");
  elsewhere.host = "host-b";
  auto other_host = RunWriter::begin(open(), elsewhere);
  auto other_build = RunWriter::begin(open(), run("b", 160, "gnu:B"));
  for (auto* writer : {&*other_host, &*other_build})
    ASSERT_TRUE(writer->record(attempt("w", 1, Outcome::Passed, 3, 150)).has_value());
  // The oldest run counts while it is among the latest CARD_VERDICT_RUNS of
  // the build on the host, and not one run later; the later runs' own pass of
  // "t" on card 3 always counts.
  for (std::int64_t later = 1; later <= CARD_VERDICT_RUNS; ++later) {
    auto clean = RunWriter::begin(open(), run(fmt::format("c{}", later), 200 + later, "gnu:A"));
    ASSERT_TRUE(clean->record(attempt("t", 1, Outcome::Passed, 3, 200 + later)).has_value());
    auto db = open(Purpose::Read);
    const auto passes = recent_card_passes(*db, "gnu:A", "host-a", CARD_VERDICT_RUNS);
    ASSERT_TRUE(passes.has_value()) << passes.error();
    using Passes = std::map<std::string, std::vector<std::int64_t>, std::less<>>;
    const Passes expected = later < CARD_VERDICT_RUNS ? Passes{{"t", {0, 2, 3}}, {"u", {1}}} : Passes{{"t", {3}}};
    EXPECT_EQ(*passes, expected) << later;
  }
}

TEST_P(Store, KeepsEachCardsLatestVerdictAndTheFirstOfARun) {
  auto first = RunWriter::begin(open(), run("v1", 100));
  const std::vector<CardVerdictRecord> suspect = {{0, "healthy", "[]"},
                                                  {2, "quarantined", R"([{"test":"t","passed_on":0}])"}};
  ASSERT_TRUE(first->record_verdicts(suspect).has_value());
  const std::vector<CardVerdictRecord> again = {{2, "healthy", "[]"}};
  ASSERT_TRUE(first->record_verdicts(again).has_value());
  auto second = RunWriter::begin(open(), run("v2", 200));
  const std::vector<CardVerdictRecord> released = {{0, "suspect", R"([{"test":"u","passed_on":1}])"}};
  ASSERT_TRUE(second->record_verdicts(released).has_value());

  auto db = open(Purpose::Read);
  const auto verdicts = latest_card_verdicts(*db);
  ASSERT_TRUE(verdicts.has_value()) << verdicts.error();
  ASSERT_EQ(verdicts->size(), 2U);
  EXPECT_EQ((*verdicts)[0].card, 0);
  EXPECT_EQ((*verdicts)[0].verdict, "suspect");
  EXPECT_EQ((*verdicts)[0].run_id, "v2");
  EXPECT_EQ((*verdicts)[1].card, 2);
  EXPECT_EQ((*verdicts)[1].verdict, "quarantined");
  EXPECT_EQ((*verdicts)[1].evidence, R"([{"test":"t","passed_on":0}])");
  EXPECT_EQ((*verdicts)[1].run_id, "v1");
}

TEST_P(Store, AHistoryOfTheFirstVersionIsMigratedAndCountedAsBefore) {
  {
    // A run as the first version wrote it: "flaky" failed on card 1 and
    // passed on card 0; "solo" passed without a card.
    auto db = connect();
    ASSERT_TRUE(migrate_to(*db, 1).has_value());
    auto written = db->execute(
        "INSERT INTO runs (run_id, started_us, host, build_id, arguments, partition_spec, cards, retries, task, "
        "planned) VALUES ('old', 100, 'host-a', 'gnu:A', '[]', '', '0-3', 1, '', '');"
        "INSERT INTO attempts (run_key, build_id, test, try_number, card, host, started_us, duration_us, "
        "card_wait_us, outcome, message, measurements) SELECT run_key, 'gnu:A', t.test, t.try, t.card, 'host-a', "
        "100, 5, 0, t.outcome, '', '{}' FROM runs, (SELECT 'flaky' AS test, 1 AS try, 1 AS card, 'failed' AS outcome "
        "UNION ALL SELECT 'flaky', 2, 0, 'passed' UNION ALL SELECT 'solo', 1, NULL, 'passed') t");
    ASSERT_TRUE(written.has_value()) << written.error();
  }
  // The tool reads it before any suite of this build has written to it,
  // and a later run of the build adds to the same series: "flaky" failed on
  // card 1 again.
  auto db = open(Purpose::Read);
  EXPECT_EQ(*schema_version(*db), current_schema_version());
  EXPECT_EQ(flaky_tests(*db, 0)->size(), 1U);
  auto later = RunWriter::begin(open(), run("new", 200, "gnu:A"));
  ASSERT_TRUE(later->record(attempt("flaky", 1, Outcome::Failed, 1, 200)).has_value());
  const auto flaky = flaky_tests(*db, 0);
  ASSERT_TRUE(flaky.has_value()) << flaky.error();
  ASSERT_EQ(flaky->size(), 1U);
  EXPECT_EQ((*flaky)[0].total.attempts, 3);
  EXPECT_EQ((*flaky)[0].total.failures, 2);
  EXPECT_EQ((*flaky)[0].by_host_card.size(), 2U);
  EXPECT_EQ((*flaky)[0].by_host_card.at({"host-a", 1}).attempts, 2);
  EXPECT_EQ((*flaky)[0].by_host_card.at({"host-a", 0}).failures, 0);
  const auto cards = card_failures(*db, 0);
  ASSERT_TRUE(cards.has_value()) << cards.error();
  ASSERT_EQ(cards->size(), 2U) << "the attempt without a card is on no card";
  EXPECT_EQ((*cards)[1].own.attempts, 2);
  EXPECT_EQ((*cards)[1].own.failures, 2);
  EXPECT_EQ((*cards)[1].others.attempts, 1);
  const auto verdicts = latest_card_verdicts(*db);
  EXPECT_TRUE(verdicts.has_value() && verdicts->empty());
}

TEST_P(Store, RefusesASchemaNewerThanItsOwn) {
  {
    auto db = open(Purpose::Record);
    ASSERT_EQ(*schema_version(*db), current_schema_version());
    ASSERT_TRUE(db->execute("UPDATE history_schema SET version = version + 1").has_value());
  }
  for (const Purpose purpose : {Purpose::Record, Purpose::Read}) {
    const auto refused = open_store(location_, purpose);
    ASSERT_FALSE(refused.has_value());
    EXPECT_NE(refused.error().find(fmt::format("version {}", current_schema_version() + 1)), std::string::npos)
        << refused.error();
  }
}

INSTANTIATE_TEST_SUITE_P(Both, Store, testing::Values(Backend::Sqlite, Backend::Postgres),
                         [](const auto& info) { return info.param == Backend::Sqlite ? "Sqlite" : "Postgres"; });

TEST(SqliteStore, AReaderOfAMissingFileIsToldAndCreatesNothing) {
  ScratchFolder scratch;
  const auto path = scratch.path() / "missing.db";
  const auto refused = open_store({StoreLocation::Kind::SqliteFile, path.string()}, Purpose::Read);
  ASSERT_FALSE(refused.has_value());
  EXPECT_NE(refused.error().find(path.string()), std::string::npos) << refused.error();
  EXPECT_FALSE(std::filesystem::exists(path));
}

}  // namespace
}  // namespace zlu_history_tests
